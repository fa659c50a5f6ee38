// The publishing tool on Windows: CNG (bcrypt.dll), Win32 files and clock.
#include "cng.h"
#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform.h"
#include "sha256_cng.h"

namespace kelvo::publish {

using tovane::trust::PrivateKey;
using tovane::trust::PublicKey;
using tovane::trust::RawSignature;
using tovane::trust::Sha256Digest;
using tovane::trust::unique_cng_algorithm;
using tovane::trust::unique_cng_key;

namespace {

std::string Win32Error(const std::string& what, DWORD code) {
    char text[256] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) {
        text[--n] = '\0';
    }
    return what + ": " + (n > 0 ? text : "error " + std::to_string(code));
}

// The digests the tool writes come from the code the updater checks them with.
class CngSha256Hasher : public Sha256Hasher {
public:
    CngSha256Hasher() : started_(NT_SUCCESS(hasher_.Start())) {}
    bool Add(const void* data, std::size_t size) override {
        return started_ && NT_SUCCESS(hasher_.Add(data, size));
    }
    bool Finish(Sha256Digest& digest) override {
        return started_ && NT_SUCCESS(hasher_.Finish(digest));
    }

private:
    tovane::trust::CngSha256 hasher_;
    bool started_;
};

unique_cng_algorithm OpenEcdsa() {
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (!NT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return unique_cng_algorithm();
    }
    return unique_cng_algorithm(alg);
}

// The string form of the user this process runs as, for an access list.
bool CurrentUserSid(std::string& sid, std::string& why) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        DWORD error = ::GetLastError();
        why = Win32Error("process token", error);
        return false;
    }
    kelvo::unique_handle token(raw);
    std::vector<std::uint8_t> buffer(256);
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &size)) {
        DWORD error = ::GetLastError();
        why = Win32Error("token user", error);
        return false;
    }
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        DWORD error = ::GetLastError();
        why = Win32Error("user SID", error);
        return false;
    }
    sid = text;
    ::LocalFree(text);
    return true;
}

// BCRYPT_ECCPRIVATE_BLOB: the header, X, Y, then d.
struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    std::uint8_t xyd[96];
};

}  // namespace

std::unique_ptr<Sha256Hasher> NewSha256Hasher() { return std::make_unique<CngSha256Hasher>(); }

bool GenerateKey(PrivateKey& key, std::string& why) {
    why = "CNG could not generate a P-256 key";
    unique_cng_algorithm alg = OpenEcdsa();
    BCRYPT_KEY_HANDLE raw = nullptr;
    if (!alg || !NT_SUCCESS(::BCryptGenerateKeyPair(alg.get(), &raw, 256, 0))) {
        return false;
    }
    unique_cng_key handle(raw);
    PrivateBlob blob;
    ULONG got = 0;
    if (!NT_SUCCESS(::BCryptFinalizeKeyPair(handle.get(), 0)) ||
        !NT_SUCCESS(::BCryptExportKey(handle.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                      reinterpret_cast<PUCHAR>(&blob), sizeof blob, &got, 0)) ||
        got != sizeof blob || blob.header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC ||
        blob.header.cbKey != 32) {
        ::SecureZeroMemory(&blob, sizeof blob);
        return false;
    }
    std::memcpy(key.point.data(), blob.xyd, 64);
    std::memcpy(key.d.data(), blob.xyd + 64, 32);
    ::SecureZeroMemory(&blob, sizeof blob);
    return true;
}

bool SignDigest(const PrivateKey& key, const Sha256Digest& digest, RawSignature& rs,
                std::string& why) {
    why = "CNG could not sign with the key";
    unique_cng_algorithm alg = OpenEcdsa();
    if (!alg) {
        return false;
    }
    PrivateBlob blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.xyd, key.point.data(), 64);
    std::memcpy(blob.xyd + 64, key.d.data(), 32);
    BCRYPT_KEY_HANDLE raw = nullptr;
    NTSTATUS status = ::BCryptImportKeyPair(alg.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &raw,
                                            reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0);
    ::SecureZeroMemory(&blob, sizeof blob);
    if (!NT_SUCCESS(status)) {
        why = "CNG refused the private key";
        return false;
    }
    unique_cng_key handle(raw);
    // The size query answers 32 under Wine; r||s of P-256 is always 64.
    ULONG got = 0;
    status = ::BCryptSignHash(handle.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                              static_cast<ULONG>(digest.size()), rs.data(),
                              static_cast<ULONG>(rs.size()), &got, 0);
    return NT_SUCCESS(status) && got == rs.size();
}

bool VerifyDigest(const PublicKey& key, const Sha256Digest& digest, const RawSignature& rs) {
    unique_cng_algorithm alg = OpenEcdsa();
    unique_cng_key handle;
    if (!alg || !NT_SUCCESS(ImportP256PublicKey(alg.get(), key, &handle))) {
        return false;
    }
    return NT_SUCCESS(::BCryptVerifySignature(
        handle.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
        const_cast<PUCHAR>(rs.data()), static_cast<ULONG>(rs.size()), 0));
}

namespace {

class Win32NewFile : public NewFile {
public:
    Win32NewFile(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
    ~Win32NewFile() override {
        if (file_) {
            file_.reset();
            ::DeleteFileA(path_.c_str());
        }
    }
    bool Write(const void* data, std::size_t size, std::string& why) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            DWORD piece = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!::WriteFile(file_.get(), bytes, piece, &written, nullptr) || written != piece) {
                DWORD error = ::GetLastError();
                why = Win32Error(path_, error);
                return false;
            }
            bytes += written;
            size -= written;
        }
        return true;
    }
    bool Finish(std::string& why) override {
        if (!::FlushFileBuffers(file_.get())) {
            DWORD error = ::GetLastError();
            why = Win32Error(path_, error);
            return false;  // the destructor removes the file
        }
        file_.reset();
        return true;
    }

private:
    kelvo::unique_hfile file_;
    std::string path_;
};

}  // namespace

std::unique_ptr<NewFile> CreateNewFile(const std::string& path, bool secret, std::string& why) {
    // A secret file gets a protected ACL of its own: full access for the
    // user who made it and the system, nothing inherited from the folder.
    // The user is named by SID: Wine maps that to the Unix owner and leaves
    // others without access, where the generic owner-rights SID would lock
    // the owner out too.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (secret) {
        std::string sid;
        if (!CurrentUserSid(sid, why)) {
            return nullptr;
        }
        std::string sddl = "D:P(A;;FA;;;" + sid + ")(A;;FA;;;SY)";
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                    &descriptor, nullptr)) {
            DWORD error = ::GetLastError();
            why = Win32Error("private key access list", error);
            return nullptr;
        }
        attributes.lpSecurityDescriptor = descriptor;
    }
    auto freeDescriptor = kelvo::scope_exit([&] { ::LocalFree(descriptor); });
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, secret ? &attributes : nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        why = Win32Error(path, error);
        return nullptr;
    }
    return std::make_unique<Win32NewFile>(file, path);
}

bool RenameOver(const std::string& from, const std::string& to, std::string& why) {
    if (!::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = ::GetLastError();
        why = Win32Error(to, error);
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool EnsureFolder(const std::string& path, std::string& why) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) {
        return true;
    }
    DWORD error = ::GetLastError();
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return true;
    }
    why = error == ERROR_ALREADY_EXISTS ? path + ": exists and is not a folder"
                                        : Win32Error(path, error);
    return false;
}

char PathSeparator() { return '\\'; }
unsigned long ProcessId() { return ::GetCurrentProcessId(); }

std::int64_t UtcNow() {
    // FILETIME counts 100-nanosecond steps from 1601-01-01 (UTC).
    constexpr std::int64_t kStepsFrom1601To1970 = 116444736000000000;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    std::int64_t steps = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (steps - kStepsFrom1601To1970) / 10000000;
}

}  // namespace kelvo::publish
