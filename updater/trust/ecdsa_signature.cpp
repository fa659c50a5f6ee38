#include "ecdsa_signature.h"

#include <cstring>

#include "der.h"

namespace tovane::trust {

namespace {

constexpr std::uint8_t kOrder[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

bool ReadScalar(DerReader& reader, std::uint8_t* out32) {
    Bytes magnitude;
    if (!ReadUnsignedInteger(reader, magnitude) || magnitude.size > 32) {
        return false;
    }
    std::memset(out32, 0, 32);
    if (magnitude.size > 0) {
        std::memcpy(out32 + 32 - magnitude.size, magnitude.data, magnitude.size);
    }
    return IsP256Scalar(out32);
}

// Writes INTEGER value32 in minimal form at `out`; returns the bytes written.
std::size_t PutInteger(std::uint8_t* out, const std::uint8_t* value32) {
    std::size_t skip = 0;
    while (skip < 31 && value32[skip] == 0) {
        ++skip;
    }
    bool pad = (value32[skip] & 0x80) != 0;
    std::size_t length = 32 - skip + (pad ? 1 : 0);
    std::size_t n = 0;
    out[n++] = kDerInteger;
    out[n++] = static_cast<std::uint8_t>(length);
    if (pad) {
        out[n++] = 0;
    }
    std::memcpy(out + n, value32 + skip, 32 - skip);
    return n + 32 - skip;
}

}  // namespace

bool IsP256Scalar(const std::uint8_t* value32) {
    bool zero = true;
    for (int i = 0; i < 32; ++i) {
        zero = zero && value32[i] == 0;
    }
    return !zero && std::memcmp(value32, kOrder, 32) < 0;
}

bool DecodeDerSignature(const std::uint8_t* data, std::size_t size, RawSignature& rs) {
    if (data == nullptr || size == 0 || size > kMaxDerSignatureSize) {
        return false;
    }
    DerReader outer(data, size);
    Bytes body;
    if (!outer.Read(kDerSequence, body) || !outer.AtEnd()) {
        return false;
    }
    DerReader inner(body);
    RawSignature parsed{};
    if (!ReadScalar(inner, parsed.data()) || !ReadScalar(inner, parsed.data() + 32) ||
        !inner.AtEnd()) {
        return false;
    }
    rs = parsed;
    return true;
}

std::vector<std::uint8_t> EncodeDerSignature(const RawSignature& rs) {
    std::uint8_t buffer[kMaxDerSignatureSize];
    std::size_t n = 2;
    n += PutInteger(buffer + n, rs.data());
    n += PutInteger(buffer + n, rs.data() + 32);
    buffer[0] = kDerSequence;
    buffer[1] = static_cast<std::uint8_t>(n - 2);
    return std::vector<std::uint8_t>(buffer, buffer + n);
}

}  // namespace tovane::trust
