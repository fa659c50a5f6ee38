// Owners for CNG (bcrypt.dll) handles and the status test that MinGW's
// headers leave out.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <cstring>

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

// A P-256 public key given as X||Y (big-endian, 32 bytes each), imported for
// ECDSA on alg. CNG takes any point, on the curve or not: keys are checked
// where they are read (the build, the key files).
inline NTSTATUS ImportP256PublicKey(BCRYPT_ALG_HANDLE alg, const std::array<std::uint8_t, 64>& xy,
                                    unique_cng_key* key) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        std::uint8_t xy[64];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.xy, xy.data(), sizeof blob.xy);
    BCRYPT_KEY_HANDLE raw = nullptr;
    NTSTATUS status = ::BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPUBLIC_BLOB, &raw,
                                            reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0);
    if (NT_SUCCESS(status)) {
        key->reset(raw);
    }
    return status;
}

// STATUS_INVALID_SIGNATURE: the answer of BCryptVerifySignature to a
// signature that does not verify, as opposed to a failure of CNG itself.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

}  // namespace tovane::trust
