// Checks of what the update server sends, through the system's CNG
// (bcrypt.dll): the manifest's signature against the public keys built into
// the updater, and each downloaded file against its [Files] entry.
//
// The update session calls, in this order:
//   1. VerifyManifest(manifest bytes, Version.txt.sig bytes) before the
//      manifest is parsed at all; with HasBuiltInKey() and any result but
//      kVerified, nothing else of the update is used. The bytes verified are
//      the bytes then parsed, in memory (ParseManifest).
//   2. CheckFile(handle, the file's [Files] value or nullptr,
//      required = HasBuiltInKey()) on each downloaded file opened with
//      GENERIC_READ and FILE_SHARE_READ only (no one can write, rename or
//      delete it while it is open); on kMatch or kNotRequired the installer
//      copies from that handle, rewound, so the bytes checked are the bytes
//      installed. Any other result installs nothing.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files_entry.h"
#include "p256_keys.h"

namespace tovane::trust {

enum class ManifestCheck {
    kVerified,
    kNoKeyBuiltIn,        // an updater built without keys: the old behaviour
    kSignatureMissing,    // no signature bytes at all
    kSignatureMalformed,  // not a strict DER P-256 signature
    kSignatureMismatch,   // well formed, but no key verifies it
    kCryptoFailure,       // CNG itself failed (see the error argument)
};
const char* ToString(ManifestCheck result);

// The keys compiled in at build time (TOVANE_UPDATE_PUBLIC_KEYS). Defined
// in built_in_keys.cpp, which each executable compiles itself.
const std::vector<PublicKey>& BuiltInKeys();
bool HasBuiltInKey();

// The signature is over SHA-256 of exactly these bytes; any one key
// verifying is enough. `error` gets the NTSTATUS of a CNG failure.
ManifestCheck VerifyManifest(const void* manifest, std::size_t manifestSize, const void* signature,
                             std::size_t signatureSize, const std::vector<PublicKey>& keys,
                             long* error = nullptr);
ManifestCheck VerifyManifest(const void* manifest, std::size_t manifestSize, const void* signature,
                             std::size_t signatureSize, long* error = nullptr);

bool Sha256(const void* data, std::size_t size, Sha256Digest& digest, long* error = nullptr);

// Reads the file from its start to its end through the handle, hashing as
// it goes; `size` is the number of bytes read. The position is left at the
// end: the caller rewinds before it copies.
bool HashFile(HANDLE file, Sha256Digest& digest, std::uint64_t& size, DWORD* error = nullptr);

enum class FileCheck {
    kMatch,
    kNotRequired,     // no entry, and none is required (no key built in)
    kNoEntry,         // no entry, but one is required
    kEntryMalformed,  // the entry is not "<size> <64 hex>"
    kSizeMismatch,
    kHashMismatch,
    kReadFailed,
};
const char* ToString(FileCheck result);

// `filesValue` is the [Files] value for the file, or nullptr when the
// manifest has none.
FileCheck CheckFile(HANDLE file, const char* filesValue, bool required, DWORD* error = nullptr);

}  // namespace tovane::trust
