// libFuzzer target: the DER signature reader. An accepted signature is the
// one encoding of its r and s, both in range.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ecdsa_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tovane::trust::RawSignature rs;
    if (!tovane::trust::DecodeDerSignature(data, size, rs)) {
        return 0;
    }
    if (tovane::trust::EncodeDerSignature(rs) != std::vector<std::uint8_t>(data, data + size) ||
        !tovane::trust::IsP256Scalar(rs.data()) || !tovane::trust::IsP256Scalar(rs.data() + 32)) {
        std::abort();
    }
    return 0;
}
