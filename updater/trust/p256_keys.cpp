#include "p256_keys.h"

#include <algorithm>
#include <cstring>

#include "der.h"
#include "ecdsa_signature.h"

namespace tovane::trust {

namespace {

// The contents of the OIDs id-ecPublicKey (1.2.840.10045.2.1) and prime256v1
// (1.2.840.10045.3.1.7), without tag and length: DerReader hands back contents,
// and the encoders below write the tag and the length in front.
constexpr std::uint8_t kEcPublicKeyOid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t kPrime256v1Oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

bool Equals(Bytes b, const std::uint8_t* data, std::size_t size) {
    return b.size == size && std::memcmp(b.data, data, size) == 0;
}

bool ReadAlgorithm(DerReader& reader, std::string& why) {
    Bytes algorithm, oid, curve;
    if (!reader.Read(kDerSequence, algorithm)) {
        why = "malformed key (no algorithm)";
        return false;
    }
    DerReader a(algorithm);
    if (!a.Read(kDerOid, oid) || !Equals(oid, kEcPublicKeyOid, sizeof kEcPublicKeyOid)) {
        why = "not an EC key";
        return false;
    }
    if (!a.Read(kDerOid, curve) || !a.AtEnd() ||
        !Equals(curve, kPrime256v1Oid, sizeof kPrime256v1Oid)) {
        why = "not a P-256 (prime256v1) key";
        return false;
    }
    return true;
}

// A BIT STRING with no unused bits holding 04||X||Y.
bool ReadPoint(Bytes bits, PublicKey& key, std::string& why) {
    if (bits.size != 66 || bits.data[0] != 0) {
        why = "malformed public key";
        return false;
    }
    if (bits.data[1] != 0x04) {
        why = "public key not in uncompressed form";
        return false;
    }
    std::memcpy(key.data(), bits.data + 2, 64);
    return true;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.size() % 4 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int j = 0; j < 4; ++j) {
            char c = text[i + j];
            if (c == '=' && last && j >= 2) {
                v[j] = 0;
                ++pad;
            } else if (pad > 0 || (v[j] = Base64Value(c)) < 0) {
                return false;
            }
        }
        std::uint32_t n = static_cast<std::uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<std::uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<std::uint8_t>(n));
    }
    return true;
}

// Lines without their line break (LF or CRLF).
std::string_view NextLine(std::string_view& text) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

bool DecodePem(std::string_view text, std::string& label, std::vector<std::uint8_t>& der) {
    constexpr std::string_view kBegin = "-----BEGIN ";
    constexpr std::string_view kDashes = "-----";
    std::string_view line;
    do {
        if (text.empty()) {
            return false;
        }
        line = NextLine(text);
    } while (line.substr(0, kBegin.size()) != kBegin);
    line.remove_prefix(kBegin.size());
    if (line.size() <= kDashes.size() || line.substr(line.size() - kDashes.size()) != kDashes) {
        return false;
    }
    std::string found(line.substr(0, line.size() - kDashes.size()));
    std::string end = "-----END " + found + "-----";
    std::string body;
    for (;;) {
        if (text.empty()) {
            return false;
        }
        line = NextLine(text);
        if (line == end) {
            break;
        }
        // Blanks are not base64, and a "Proc-Type:" header marks an encrypted
        // key: both end up here as characters the decoder refuses.
        body.append(line);
    }
    if (body.empty() || !DecodeBase64(body, der)) {
        return false;
    }
    label = found;
    return true;
}

std::string EncodePem(std::string_view label, const std::vector<std::uint8_t>& der) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string b64;
    for (std::size_t i = 0; i < der.size(); i += 3) {
        std::uint32_t n = static_cast<std::uint32_t>(der[i]) << 16;
        std::size_t left = der.size() - i;
        if (left > 1) n |= static_cast<std::uint32_t>(der[i + 1]) << 8;
        if (left > 2) n |= der[i + 2];
        b64 += kAlphabet[n >> 18 & 63];
        b64 += kAlphabet[n >> 12 & 63];
        b64 += left > 1 ? kAlphabet[n >> 6 & 63] : '=';
        b64 += left > 2 ? kAlphabet[n & 63] : '=';
    }
    std::string pem = "-----BEGIN " + std::string(label) + "-----\n";
    for (std::size_t i = 0; i < b64.size(); i += 64) {
        pem += b64.substr(i, 64) + '\n';
    }
    pem += "-----END " + std::string(label) + "-----\n";
    return pem;
}

bool ParsePublicKeyInfo(const std::vector<std::uint8_t>& der, PublicKey& key, std::string& why) {
    DerReader outer(der.data(), der.size());
    Bytes info, bits;
    if (!outer.Read(kDerSequence, info) || !outer.AtEnd()) {
        why = "malformed public key";
        return false;
    }
    DerReader reader(info);
    if (!ReadAlgorithm(reader, why)) {
        return false;
    }
    if (!reader.Read(kDerBitString, bits) || !reader.AtEnd()) {
        why = "malformed public key";
        return false;
    }
    return ReadPoint(bits, key, why);
}

namespace {

// SEC 1 ECPrivateKey: version 1, the scalar, optional curve, optional point.
bool ParseEcPrivateKey(Bytes der, bool curveKnown, PrivateKey& key, std::string& why) {
    DerReader outer(der);
    Bytes body, version, scalar;
    why = "malformed private key";
    if (!outer.Read(kDerSequence, body) || !outer.AtEnd()) {
        return false;
    }
    DerReader reader(body);
    if (!reader.Read(kDerInteger, version) || version.size != 1 || version.data[0] != 1 ||
        !reader.Read(kDerOctetString, scalar) || scalar.size != 32) {
        return false;
    }
    std::uint8_t tag = 0;
    if (reader.PeekTag(tag) && tag == kDerContext0) {
        Bytes params, oid;
        if (!reader.Read(kDerContext0, params)) {
            return false;
        }
        DerReader p(params);
        if (!p.Read(kDerOid, oid) || !p.AtEnd()) {
            return false;
        }
        if (!Equals(oid, kPrime256v1Oid, sizeof kPrime256v1Oid)) {
            why = "not a P-256 (prime256v1) key";
            return false;
        }
        curveKnown = true;
    }
    if (!curveKnown) {
        why = "private key names no curve";
        return false;
    }
    if (!reader.PeekTag(tag) || tag != kDerContext1) {
        why = "private key file holds no public key";
        return false;
    }
    Bytes wrapped, bits;
    if (!reader.Read(kDerContext1, wrapped) || !reader.AtEnd()) {
        return false;
    }
    DerReader w(wrapped);
    if (!w.Read(kDerBitString, bits) || !w.AtEnd()) {
        return false;
    }
    PrivateKey parsed;
    if (!ReadPoint(bits, parsed.point, why)) {
        return false;
    }
    std::memcpy(parsed.d.data(), scalar.data, 32);
    if (!IsP256Scalar(parsed.d.data())) {
        why = "private key out of range";
        return false;
    }
    key = parsed;
    return true;
}

}  // namespace

bool ParsePrivateKey(std::string_view label, const std::vector<std::uint8_t>& der, PrivateKey& key,
                     std::string& why) {
    Bytes all{der.data(), der.size()};
    if (label == "EC PRIVATE KEY") {
        return ParseEcPrivateKey(all, false, key, why);
    }
    if (label != "PRIVATE KEY") {
        why = label == "ENCRYPTED PRIVATE KEY" ? "encrypted private keys are not supported"
                                               : "not a private key (" + std::string(label) + ")";
        return false;
    }
    DerReader outer(all);
    Bytes info, version, inner;
    if (!outer.Read(kDerSequence, info) || !outer.AtEnd()) {
        why = "malformed private key";
        return false;
    }
    DerReader reader(info);
    if (!reader.Read(kDerInteger, version) || version.size != 1 || version.data[0] != 0) {
        why = "malformed private key";
        return false;
    }
    if (!ReadAlgorithm(reader, why)) {
        return false;
    }
    // Attributes may follow the key; they carry nothing needed here.
    if (!reader.Read(kDerOctetString, inner)) {
        why = "malformed private key";
        return false;
    }
    return ParseEcPrivateKey(inner, true, key, why);
}

bool ReadPrivateKeyPem(std::string_view text, PrivateKey& key, std::string& why) {
    std::string label;
    std::vector<std::uint8_t> der;
    if (!DecodePem(text, label, der)) {
        why = "not a PEM file";
        return false;
    }
    return ParsePrivateKey(label, der, key, why);
}

std::vector<std::uint8_t> EncodePublicKeyInfo(const PublicKey& key) {
    std::vector<std::uint8_t> der = {0x30, 0x59, 0x30, 0x13, kDerOid, sizeof kEcPublicKeyOid};
    der.insert(der.end(), std::begin(kEcPublicKeyOid), std::end(kEcPublicKeyOid));
    der.insert(der.end(), {kDerOid, sizeof kPrime256v1Oid});
    der.insert(der.end(), std::begin(kPrime256v1Oid), std::end(kPrime256v1Oid));
    der.insert(der.end(), {kDerBitString, 0x42, 0x00, 0x04});
    der.insert(der.end(), key.begin(), key.end());
    return der;
}

std::vector<std::uint8_t> EncodePrivateKeyInfo(const PrivateKey& key) {
    std::vector<std::uint8_t> der = {0x30, 0x81, 0x87, kDerInteger, 0x01,
                                     0x00, 0x30, 0x13, kDerOid,     sizeof kEcPublicKeyOid};
    der.insert(der.end(), std::begin(kEcPublicKeyOid), std::end(kEcPublicKeyOid));
    der.insert(der.end(), {kDerOid, sizeof kPrime256v1Oid});
    der.insert(der.end(), std::begin(kPrime256v1Oid), std::end(kPrime256v1Oid));
    der.insert(der.end(),
               {kDerOctetString, 0x6D, 0x30, 0x6B, kDerInteger, 0x01, 0x01, kDerOctetString, 0x20});
    der.insert(der.end(), key.d.begin(), key.d.end());
    der.insert(der.end(), {kDerContext1, 0x44, kDerBitString, 0x42, 0x00, 0x04});
    der.insert(der.end(), key.point.begin(), key.point.end());
    return der;
}

}  // namespace tovane::trust
