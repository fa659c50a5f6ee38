// What the publishing tool needs from the system: SHA-256, P-256 keys and
// signatures, files, and the time. One implementation over OpenSSL and POSIX,
// one over CNG and Win32; everything else of the tool is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ecdsa_signature.h"
#include "files_entry.h"
#include "p256_keys.h"

namespace kelvo::publish {

class Sha256Hasher {
public:
    virtual ~Sha256Hasher() = default;
    virtual bool Add(const void* data, std::size_t size) = 0;
    virtual bool Finish(tovane::trust::Sha256Digest& digest) = 0;
};

std::unique_ptr<Sha256Hasher> NewSha256Hasher();

bool GenerateKey(tovane::trust::PrivateKey& key, std::string& why);
bool SignDigest(const tovane::trust::PrivateKey& key, const tovane::trust::Sha256Digest& digest,
                tovane::trust::RawSignature& rs, std::string& why);
bool VerifyDigest(const tovane::trust::PublicKey& key, const tovane::trust::Sha256Digest& digest,
                  const tovane::trust::RawSignature& rs);

// A file being created; removed again unless Finish succeeds.
class NewFile {
public:
    virtual ~NewFile() = default;
    virtual bool Write(const void* data, std::size_t size, std::string& why) = 0;
    // Flushes the contents to disk and closes the file.
    virtual bool Finish(std::string& why) = 0;
};

// Creates the file, failing if it exists; `secret`: readable by its owner
// only.
std::unique_ptr<NewFile> CreateNewFile(const std::string& path, bool secret, std::string& why);
// Replaces `to` with `from` in one step.
bool RenameOver(const std::string& from, const std::string& to, std::string& why);
bool RemoveFile(const std::string& path);
// Creates the folder unless it exists already.
bool EnsureFolder(const std::string& path, std::string& why);
char PathSeparator();
unsigned long ProcessId();
// The system clock as seconds since 1970-01-01T00:00:00Z, 64 bits wide so
// that no date of the manifest's range wraps.
std::int64_t UtcNow();

}  // namespace kelvo::publish
