// P-256 keys in the PEM files that OpenSSL reads and writes: public keys as
// SubjectPublicKeyInfo ("PUBLIC KEY"), private keys as PKCS#8 ("PRIVATE KEY")
// or SEC 1 ("EC PRIVATE KEY"), unencrypted. Only the uncompressed point form
// is taken, since that is what `openssl ec -pubout` writes and CNG imports.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovane::trust {

// X||Y, each 32 bytes big-endian, as BCRYPT_ECCPUBLIC_BLOB carries them.
using PublicKey = std::array<std::uint8_t, 64>;

struct PrivateKey {
    std::array<std::uint8_t, 32> d{};
    // CNG imports a private key only together with its public point, so a
    // key file without it is refused rather than the point derived by hand.
    PublicKey point{};
};

// The first PEM block of the text: its label ("PUBLIC KEY") and the decoded
// bytes. Text before BEGIN and after END is allowed, as OpenSSL allows it;
// header lines (encrypted keys) and anything but base64 inside are not.
bool DecodePem(std::string_view text, std::string& label, std::vector<std::uint8_t>& der);
std::string EncodePem(std::string_view label, const std::vector<std::uint8_t>& der);

// Each sets `why` to a short reason when it refuses.
bool ParsePublicKeyInfo(const std::vector<std::uint8_t>& der, PublicKey& key, std::string& why);
bool ParsePrivateKey(std::string_view label, const std::vector<std::uint8_t>& der, PrivateKey& key,
                     std::string& why);
// PEM text in, either kind of private key file.
bool ReadPrivateKeyPem(std::string_view text, PrivateKey& key, std::string& why);

std::vector<std::uint8_t> EncodePublicKeyInfo(const PublicKey& key);
// PKCS#8 with the public point inside, as `openssl genpkey` writes it.
std::vector<std::uint8_t> EncodePrivateKeyInfo(const PrivateKey& key);

}  // namespace tovane::trust
