// PEM key files: the tool's reader against what OpenSSL writes in each form,
// the tool's writer read back by OpenSSL, and the files it must refuse.
#include "p256_keys.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

namespace trust = tovane::trust;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

std::string Pem(const std::function<int(BIO*)>& write) {
    BIO* bio = BIO_new(BIO_s_mem());
    EXPECT_EQ(write(bio), 1);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return text;
}

std::string Sec1Pem(EVP_PKEY* key) {
    return Pem([key](BIO* bio) {
        OSSL_ENCODER_CTX* ctx =
            OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_KEYPAIR, "PEM", "type-specific", nullptr);
        int ok = OSSL_ENCODER_to_bio(ctx, bio);
        OSSL_ENCODER_CTX_free(ctx);
        return ok;
    });
}

std::string Pkcs8Pem(EVP_PKEY* key) {
    return Pem([key](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

std::string PublicPem(EVP_PKEY* key) {
    return Pem([key](BIO* bio) { return PEM_write_bio_PUBKEY(bio, key); });
}

// What OpenSSL holds: d and X||Y.
trust::PrivateKey Numbers(EVP_PKEY* key) {
    trust::PrivateKey k;
    BIGNUM* d = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d), 1);
    EXPECT_EQ(BN_bn2binpad(d, k.d.data(), 32), 32);
    BN_free(d);
    std::uint8_t point[65];
    std::size_t n = 0;
    EXPECT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point,
                                              sizeof point, &n),
              1);
    EXPECT_EQ(n, 65u);
    std::memcpy(k.point.data(), point + 1, 64);
    return k;
}

class KeyFiles : public ::testing::Test {
protected:
    void SetUp() override {
        key_.reset(EVP_EC_gen("P-256"));
        ASSERT_TRUE(key_);
        expected_ = Numbers(key_.get());
    }
    Pkey key_;
    trust::PrivateKey expected_;
};

TEST_F(KeyFiles, ReadsWhatOpenSslWrites) {
    std::string pkcs8 = Pkcs8Pem(key_.get());
    std::string crlf;
    for (char c : pkcs8) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"PKCS#8", pkcs8},
        {"SEC 1 with curve", Sec1Pem(key_.get())},
        {"CRLF line breaks", crlf},
        {"text around the block", "key of the vendor\n" + pkcs8 + "\ntrailing words\n"},
        {"no final line break", pkcs8.substr(0, pkcs8.size() - 1)},
    };
    for (const auto& c : cases) {
        trust::PrivateKey got;
        std::string why;
        ASSERT_TRUE(trust::ReadPrivateKeyPem(c.text, got, why)) << c.what << ": " << why;
        EXPECT_EQ(got.d, expected_.d) << c.what;
        EXPECT_EQ(got.point, expected_.point) << c.what;
    }
    std::string label;
    std::vector<std::uint8_t> der;
    ASSERT_TRUE(trust::DecodePem(PublicPem(key_.get()), label, der));
    EXPECT_EQ(label, "PUBLIC KEY");
    trust::PublicKey point;
    std::string why;
    ASSERT_TRUE(trust::ParsePublicKeyInfo(der, point, why)) << why;
    EXPECT_EQ(point, expected_.point);
}

TEST_F(KeyFiles, OpenSslReadsWhatTheToolWrites) {
    std::string privatePem =
        trust::EncodePem("PRIVATE KEY", trust::EncodePrivateKeyInfo(expected_));
    BIO* bio = BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size()));
    Pkey back(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    ASSERT_TRUE(back) << privatePem;
    trust::PrivateKey numbers = Numbers(back.get());
    EXPECT_EQ(numbers.d, expected_.d);
    EXPECT_EQ(numbers.point, expected_.point);
    EXPECT_EQ(privatePem, Pkcs8Pem(key_.get())) << "byte for byte what OpenSSL writes";

    std::string publicPem =
        trust::EncodePem("PUBLIC KEY", trust::EncodePublicKeyInfo(expected_.point));
    EXPECT_EQ(publicPem, PublicPem(key_.get()));
}

TEST_F(KeyFiles, RefusesKeysTheToolCannotSignWith) {
    Pkey p384(EVP_EC_gen("P-384"));
    Pkey ed25519(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    Pkey noPublic(EVP_PKEY_dup(key_.get()));
    ASSERT_EQ(EVP_PKEY_set_int_param(noPublic.get(), OSSL_PKEY_PARAM_EC_INCLUDE_PUBLIC, 0), 1);
    std::string encrypted = Pem([this](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key_.get(), EVP_aes_128_cbc(),
                                        reinterpret_cast<const unsigned char*>("secret"), 6,
                                        nullptr, nullptr);
    });
    std::string pkcs8 = Pkcs8Pem(key_.get());
    std::string badChar = pkcs8;
    badChar[40] = '!';
    std::string noEnd = pkcs8.substr(0, pkcs8.find("-----END"));
    std::string otherEnd = noEnd + "-----END PUBLIC KEY-----\n";
    std::string inner = pkcs8;
    inner.insert(inner.find('\n') + 1, " ");
    struct {
        const char* what;
        std::string text;
        const char* why;  // part of the reason given
    } cases[] = {
        {"empty", "", "PEM"},
        {"no PEM", "MIGHAgEAMBMGByqGSM49AgEGCCqGSM49AwEH\n", "PEM"},
        {"bad base64 character", badChar, "PEM"},
        {"no END line", noEnd, "PEM"},
        {"END of another label", otherEnd, "PEM"},
        {"blank inside the base64", inner, "PEM"},
        {"public key", PublicPem(key_.get()), "not a private key"},
        {"encrypted", encrypted, "encrypted"},
        {"P-384", Pkcs8Pem(p384.get()), "P-256"},
        {"Ed25519", Pkcs8Pem(ed25519.get()), "not an EC key"},
        {"SEC 1 without public key", Sec1Pem(noPublic.get()), "no public key"},
    };
    for (const auto& c : cases) {
        trust::PrivateKey got;
        std::string why;
        EXPECT_FALSE(trust::ReadPrivateKeyPem(c.text, got, why)) << c.what;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
    }
}

TEST(PublicKeyInfo, RefusesOtherCurvesAndPointForms) {
    Pkey p384(EVP_EC_gen("P-384"));
    Pkey compressed(EVP_EC_gen("P-256"));
    ASSERT_EQ(EVP_PKEY_set_utf8_string_param(
                  compressed.get(), OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "compressed"),
              1);
    struct {
        const char* what;
        EVP_PKEY* key;
        const char* why;
    } cases[] = {
        {"P-384", p384.get(), "P-256"},
        {"compressed point", compressed.get(), "public key"},
    };
    for (const auto& c : cases) {
        std::string label, why;
        std::vector<std::uint8_t> der;
        ASSERT_TRUE(trust::DecodePem(PublicPem(c.key), label, der)) << c.what;
        trust::PublicKey point;
        EXPECT_FALSE(trust::ParsePublicKeyInfo(der, point, why)) << c.what;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
    }
    std::vector<std::uint8_t> good = trust::EncodePublicKeyInfo(trust::PublicKey{});
    good.push_back(0);
    trust::PublicKey point;
    std::string why;
    EXPECT_FALSE(trust::ParsePublicKeyInfo(good, point, why)) << "trailing byte";
}

}  // namespace
