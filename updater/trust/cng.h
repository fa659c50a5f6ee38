// Owners for CNG (bcrypt.dll) handles and the status test that MinGW's
// headers leave out.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#endif

namespace tovane::trust {

struct CngAlgorithmTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct CngHashTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptDestroyHash(h); }
};
struct CngKeyTraits {
    using pointer = BCRYPT_KEY_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptDestroyKey(h); }
};

using unique_cng_algorithm = kelvo::UniqueHandle<CngAlgorithmTraits>;
using unique_cng_hash = kelvo::UniqueHandle<CngHashTraits>;
using unique_cng_key = kelvo::UniqueHandle<CngKeyTraits>;

// STATUS_INVALID_SIGNATURE: the answer of BCryptVerifySignature to a
// signature that does not verify, as opposed to a failure of CNG itself.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

}  // namespace tovane::trust
