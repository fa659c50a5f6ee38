#include "sha256_cng.h"

#include <cstdint>

namespace tovane::trust {

namespace {

// Also what CNG answers for a null hash handle; answered here so that a hash
// that never started is not handed to CNG at all.
constexpr NTSTATUS kStatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008L);

constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

}  // namespace

NTSTATUS CngSha256::Start() {
    BCRYPT_ALG_HANDLE alg = nullptr;
    NTSTATUS status = ::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    alg_.reset(alg);
    BCRYPT_HASH_HANDLE hash = nullptr;
    // Since Windows 7 CNG allocates the hash object itself when given none.
    status = ::BCryptCreateHash(alg_.get(), &hash, nullptr, 0, nullptr, 0, 0);
    if (NT_SUCCESS(status)) {
        hash_.reset(hash);
    }
    return status;
}

NTSTATUS CngSha256::Add(const void* data, std::size_t size) {
    if (!hash_) {
        return kStatusInvalidHandle;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::size_t piece = size < kLargestPiece ? size : kLargestPiece;
        NTSTATUS status =
            ::BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), static_cast<ULONG>(piece), 0);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        bytes += piece;
        size -= piece;
    }
    return 0;
}

NTSTATUS CngSha256::Finish(Sha256Digest& digest) {
    if (!hash_) {
        return kStatusInvalidHandle;
    }
    return ::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
}

}  // namespace tovane::trust
