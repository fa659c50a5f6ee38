// libFuzzer target: PEM key files as the publishing tool reads them. A key
// that is accepted has a scalar in range, and a public key block has only
// the one encoding the tool writes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ecdsa_signature.h"
#include "p256_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace trust = tovane::trust;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    trust::PrivateKey key;
    std::string why;
    if (trust::ReadPrivateKeyPem(text, key, why) && !trust::IsP256Scalar(key.d.data())) {
        std::abort();
    }
    std::string label;
    std::vector<std::uint8_t> der;
    trust::PublicKey point;
    if (trust::DecodePem(text, label, der) && trust::ParsePublicKeyInfo(der, point, why) &&
        trust::EncodePublicKeyInfo(point) != der) {
        std::abort();
    }
    return 0;
}
