#include "verify.h"

#include <algorithm>
#include <memory>

#include "cng.h"
#include "ecdsa_signature.h"
#include "sha256_cng.h"

namespace tovane::trust {

namespace {

constexpr DWORD kReadChunk = 1 << 20;

void Store(long* target, NTSTATUS status) {
    if (target != nullptr) {
        *target = status;
    }
}

// kVerified, kSignatureMismatch or kCryptoFailure for one key.
ManifestCheck VerifyWithKey(BCRYPT_ALG_HANDLE alg, const PublicKey& key, const Sha256Digest& digest,
                            const RawSignature& rs, long* error) {
    unique_cng_key handle;
    NTSTATUS status = ImportP256PublicKey(alg, key, &handle);
    if (!NT_SUCCESS(status)) {
        Store(error, status);
        return ManifestCheck::kCryptoFailure;
    }
    status = ::BCryptVerifySignature(
        handle.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
        const_cast<PUCHAR>(rs.data()), static_cast<ULONG>(rs.size()), 0);
    if (NT_SUCCESS(status)) {
        return ManifestCheck::kVerified;
    }
    if (status == kStatusInvalidSignature) {
        return ManifestCheck::kSignatureMismatch;
    }
    Store(error, status);
    return ManifestCheck::kCryptoFailure;
}

}  // namespace

const char* ToString(ManifestCheck result) {
    switch (result) {
    case ManifestCheck::kVerified:
        return "verified";
    case ManifestCheck::kNoKeyBuiltIn:
        return "no key built in";
    case ManifestCheck::kSignatureMissing:
        return "signature missing";
    case ManifestCheck::kSignatureMalformed:
        return "signature malformed";
    case ManifestCheck::kSignatureMismatch:
        return "signature does not verify";
    case ManifestCheck::kCryptoFailure:
        return "CNG failure";
    }
    return "?";
}

const char* ToString(FileCheck result) {
    switch (result) {
    case FileCheck::kMatch:
        return "match";
    case FileCheck::kNotRequired:
        return "no entry, none required";
    case FileCheck::kNoEntry:
        return "no entry";
    case FileCheck::kEntryMalformed:
        return "entry malformed";
    case FileCheck::kSizeMismatch:
        return "size mismatch";
    case FileCheck::kHashMismatch:
        return "hash mismatch";
    case FileCheck::kReadFailed:
        return "read failed";
    }
    return "?";
}

bool Sha256(const void* data, std::size_t size, Sha256Digest& digest, long* error) {
    CngSha256 hasher;
    NTSTATUS status = hasher.Start();
    if (NT_SUCCESS(status)) {
        status = hasher.Add(data, size);
    }
    if (NT_SUCCESS(status)) {
        status = hasher.Finish(digest);
    }
    Store(error, status);
    return NT_SUCCESS(status);
}

ManifestCheck VerifyManifest(const void* manifest, std::size_t manifestSize, const void* signature,
                             std::size_t signatureSize, const std::vector<PublicKey>& keys,
                             long* error) {
    Store(error, 0);
    if (keys.empty()) {
        return ManifestCheck::kNoKeyBuiltIn;
    }
    if (signature == nullptr || signatureSize == 0) {
        return ManifestCheck::kSignatureMissing;
    }
    RawSignature rs;
    if (!DecodeDerSignature(static_cast<const std::uint8_t*>(signature), signatureSize, rs)) {
        return ManifestCheck::kSignatureMalformed;
    }
    Sha256Digest digest;
    if (!Sha256(manifest, manifestSize, digest, error)) {
        return ManifestCheck::kCryptoFailure;
    }
    BCRYPT_ALG_HANDLE raw = nullptr;
    NTSTATUS status = ::BCryptOpenAlgorithmProvider(&raw, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        Store(error, status);
        return ManifestCheck::kCryptoFailure;
    }
    unique_cng_algorithm alg(raw);
    // A key CNG cannot use does not stop the others: a rolled-over key list
    // must keep working as long as one of its keys verifies.
    ManifestCheck result = ManifestCheck::kSignatureMismatch;
    for (const PublicKey& key : keys) {
        ManifestCheck one = VerifyWithKey(alg.get(), key, digest, rs, error);
        if (one == ManifestCheck::kVerified) {
            Store(error, 0);
            return one;
        }
        if (one == ManifestCheck::kCryptoFailure) {
            result = one;
        }
    }
    return result;
}

bool HashFile(HANDLE file, Sha256Digest& digest, std::uint64_t& size, DWORD* error) {
    auto fail = [&](DWORD code) {
        if (error != nullptr) {
            *error = code;
        }
        return false;
    };
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) {
        return fail(::GetLastError());
    }
    CngSha256 hasher;
    if (!NT_SUCCESS(hasher.Start())) {
        return fail(ERROR_INTERNAL_ERROR);
    }
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kReadChunk]);
    std::uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.get(), kReadChunk, &got, nullptr)) {
            return fail(::GetLastError());
        }
        if (got == 0) {
            break;
        }
        if (!NT_SUCCESS(hasher.Add(buffer.get(), got))) {
            return fail(ERROR_INTERNAL_ERROR);
        }
        total += got;
    }
    if (!NT_SUCCESS(hasher.Finish(digest))) {
        return fail(ERROR_INTERNAL_ERROR);
    }
    size = total;
    return true;
}

FileCheck CheckFile(HANDLE file, const char* filesValue, bool required, DWORD* error) {
    if (filesValue == nullptr) {
        return required ? FileCheck::kNoEntry : FileCheck::kNotRequired;
    }
    FilesEntry entry;
    if (!ParseFilesValue(filesValue, entry)) {
        return FileCheck::kEntryMalformed;
    }
    // A file of the wrong size is refused before it is read to the end:
    // a huge substitute would otherwise cost its whole length in hashing.
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file, &length)) {
        if (error != nullptr) {
            *error = ::GetLastError();
        }
        return FileCheck::kReadFailed;
    }
    if (static_cast<std::uint64_t>(length.QuadPart) != entry.size) {
        return FileCheck::kSizeMismatch;
    }
    Sha256Digest digest;
    std::uint64_t read = 0;
    if (!HashFile(file, digest, read, error)) {
        return FileCheck::kReadFailed;
    }
    // The bytes read are what counts: the file may have changed size since.
    if (read != entry.size) {
        return FileCheck::kSizeMismatch;
    }
    return digest == entry.sha256 ? FileCheck::kMatch : FileCheck::kHashMismatch;
}

}  // namespace tovane::trust
