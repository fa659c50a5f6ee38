// The publishing tool on Linux: OpenSSL's libcrypto, POSIX files and clock.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>
#include <vector>

#include "platform.h"

namespace kelvo::publish {

using tovane::trust::PrivateKey;
using tovane::trust::PublicKey;
using tovane::trust::RawSignature;
using tovane::trust::Sha256Digest;

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
};
struct ParamFree {
    void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

class OpenSslSha256 : public Sha256Hasher {
public:
    OpenSslSha256() : ctx_(EVP_MD_CTX_new()) {
        ok_ = ctx_ != nullptr && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1;
    }
    ~OpenSslSha256() override { EVP_MD_CTX_free(ctx_); }
    bool Add(const void* data, std::size_t size) override {
        return ok_ && EVP_DigestUpdate(ctx_, data, size) == 1;
    }
    bool Finish(Sha256Digest& digest) override {
        unsigned int n = 0;
        return ok_ && EVP_DigestFinal_ex(ctx_, digest.data(), &n) == 1 && n == digest.size();
    }

private:
    EVP_MD_CTX* ctx_;
    bool ok_ = false;
};

// An EVP key from the raw numbers; with `d` null, a public key only.
Pkey MakeKey(const PublicKey& point, const std::uint8_t* d) {
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> bld(OSSL_PARAM_BLD_new());
    std::uint8_t encoded[65];
    encoded[0] = 0x04;
    std::memcpy(encoded + 1, point.data(), 64);
    std::unique_ptr<BIGNUM, BnFree> priv(d ? BN_bin2bn(d, 32, nullptr) : nullptr);
    if (!bld ||
        !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded,
                                          sizeof encoded) ||
        (d &&
         (!priv || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get())))) {
        return nullptr;
    }
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                          params.get()) != 1) {
        return nullptr;
    }
    return Pkey(key);
}

}  // namespace

std::unique_ptr<Sha256Hasher> NewSha256Hasher() { return std::make_unique<OpenSslSha256>(); }

bool GenerateKey(PrivateKey& key, std::string& why) {
    Pkey pkey(EVP_EC_gen("P-256"));
    BIGNUM* raw = nullptr;
    std::uint8_t encoded[65];
    std::size_t encodedSize = 0;
    if (!pkey || EVP_PKEY_get_bn_param(pkey.get(), OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1) {
        why = "OpenSSL could not generate a P-256 key";
        return false;
    }
    std::unique_ptr<BIGNUM, BnFree> d(raw);
    if (BN_bn2binpad(d.get(), key.d.data(), 32) != 32 ||
        EVP_PKEY_get_octet_string_param(pkey.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, encoded,
                                        sizeof encoded, &encodedSize) != 1 ||
        encodedSize != 65 || encoded[0] != 0x04) {
        why = "OpenSSL could not export the new key";
        return false;
    }
    std::memcpy(key.point.data(), encoded + 1, 64);
    return true;
}

bool SignDigest(const PrivateKey& key, const Sha256Digest& digest, RawSignature& rs,
                std::string& why) {
    Pkey pkey = MakeKey(key.point, key.d.data());
    PkeyCtx ctx(pkey ? EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr) : nullptr);
    std::vector<std::uint8_t> der(tovane::trust::kMaxDerSignatureSize);
    std::size_t size = der.size();
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1 ||
        EVP_PKEY_sign(ctx.get(), der.data(), &size, digest.data(), digest.size()) != 1 ||
        !tovane::trust::DecodeDerSignature(der.data(), size, rs)) {
        why = "OpenSSL could not sign with the key";
        return false;
    }
    return true;
}

bool VerifyDigest(const PublicKey& key, const Sha256Digest& digest, const RawSignature& rs) {
    Pkey pkey = MakeKey(key, nullptr);
    PkeyCtx ctx(pkey ? EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr) : nullptr);
    std::vector<std::uint8_t> der = tovane::trust::EncodeDerSignature(rs);
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) == 1 &&
           EVP_PKEY_verify(ctx.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

namespace {

class PosixNewFile : public NewFile {
public:
    PosixNewFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixNewFile() override {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(path_.c_str());
        }
    }
    bool Write(const void* data, std::size_t size, std::string& why) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(fd_, bytes, size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                why = path_ + ": " + std::strerror(errno);
                return false;
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Finish(std::string& why) override {
        int fd = fd_;
        fd_ = -1;
        bool ok = ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (!ok) {
            why = path_ + ": " + std::strerror(errno);
            ::unlink(path_.c_str());
        }
        return ok;
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

std::unique_ptr<NewFile> CreateNewFile(const std::string& path, bool secret, std::string& why) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secret ? 0600 : 0644);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixNewFile>(fd, path);
}

bool RenameOver(const std::string& from, const std::string& to, std::string& why) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        why = to + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool EnsureFolder(const std::string& path, std::string& why) {
    if (::mkdir(path.c_str(), 0755) == 0) {
        return true;
    }
    struct stat st;
    if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return true;
    }
    why = path + ": " + (errno == EEXIST ? "exists and is not a folder" : std::strerror(errno));
    return false;
}

char PathSeparator() { return '/'; }
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

std::int64_t UtcNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
}

}  // namespace kelvo::publish
