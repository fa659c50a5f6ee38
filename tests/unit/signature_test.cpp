// The DER signature reader against hand-made encodings and against what
// OpenSSL itself writes and reads.
#include "ecdsa_signature.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

namespace {

using tovane::trust::DecodeDerSignature;
using tovane::trust::EncodeDerSignature;
using tovane::trust::RawSignature;
using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// INTEGER of 32 bytes 0x11.., and its well-formed two-integer signature.
const std::string kInt = "0220" + Repeat("11", 32);
const std::string kN = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
const std::string kNMinus1 = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550";

TEST(DecodeDerSignature, AcceptsMinimalEncodingsInRange) {
    struct {
        std::string hex;
        std::string r;  // r as 64 hex digits
    } cases[] = {
        {"3044" + kInt + kInt, Repeat("11", 32)},
        {"3006020101020101", Repeat("00", 31) + "01"},  // r = s = 1
        {"3045022100" + kNMinus1 + kInt, kNMinus1},     // r = n - 1
        {"30250201"
         "7f" +
             kInt,
         Repeat("00", 31) + "7f"},  // short r
        {"3026020200"
         "80" +
             kInt,
         Repeat("00", 31) + "80"},  // padded high bit
    };
    for (const auto& c : cases) {
        Bytes der = FromHex(c.hex);
        RawSignature rs{};
        ASSERT_TRUE(DecodeDerSignature(der.data(), der.size(), rs)) << c.hex;
        EXPECT_EQ(Bytes(rs.begin(), rs.begin() + 32), FromHex(c.r)) << c.hex;
        EXPECT_EQ(EncodeDerSignature(rs), der) << "one value, one encoding: " << c.hex;
    }
}

TEST(DecodeDerSignature, RefusesEverythingElse) {
    const std::string ok = "3044" + kInt + kInt;
    const std::string cases[] = {
        "",
        "30",
        "3000",                         // no integers
        "3022" + kInt,                  // one integer
        "3066" + kInt + kInt + kInt,    // three integers
        ok + "00",                      // trailing garbage
        ok.substr(0, ok.size() - 2),    // truncated
        "3045" + kInt + kInt,           // outer length too long
        "3043" + kInt + kInt,           // outer length too short
        "308144" + kInt + kInt,         // long form for a short length
        "3080" + kInt + kInt + "0000",  // indefinite length
        "3144" + kInt + kInt,           // SET, not SEQUENCE
        "3044"
        "0320" +
            Repeat("11", 32) + kInt,  // BIT STRING, not INTEGER
        "3045"
        "022100" +
            Repeat("11", 32) + kInt,  // superfluous leading zero
        "3044"
        "0220" +
            Repeat("ff", 32) + kInt,  // negative
        "3006"
        "020100"
        "020101",  // r = 0
        "3006"
        "020101"
        "020100",  // s = 0
        "3024"
        "0200" +
            kInt,                       // empty INTEGER
        "3045022100" + kN + kInt,       // r = n
        "3045" + kInt + "022100" + kN,  // s = n
        "3046022200"
        "ff" +
            Repeat("00", 32) + kInt,  // 33-byte magnitude
        "3004"
        "0202"
        "0001",  // one integer, padded needlessly
        "30450281"
        "20" +
            Repeat("11", 32) + kInt,  // inner long form for a short length
    };
    for (const std::string& hex : cases) {
        Bytes der = FromHex(hex);
        RawSignature rs{};
        rs.fill(0xAB);
        EXPECT_FALSE(DecodeDerSignature(der.data(), der.size(), rs)) << hex;
        EXPECT_EQ(rs[0], 0xAB) << "left untouched on failure: " << hex;
    }
    RawSignature rs{};
    EXPECT_FALSE(DecodeDerSignature(nullptr, 8, rs));
}

// Random r and s, many of them with leading zero bytes or the high bit set:
// the encoder writes exactly what OpenSSL writes, and the reader reads back
// what OpenSSL parses.
TEST(DerSignature, MatchesOpenSsl) {
    for (int round = 0; round < 2000; ++round) {
        RawSignature rs{};
        ASSERT_EQ(RAND_bytes(rs.data(), static_cast<int>(rs.size())), 1);
        // Leading zero bytes and 0x80 boundaries, each in turn.
        int zeros = round % 5;
        for (int i = 0; i < zeros; ++i) rs[i] = 0;
        if (round % 3 == 0) rs[32] = 0x80;
        if (round % 7 == 0) rs[0] = 0x7f;
        if (!tovane::trust::IsP256Scalar(rs.data()) ||
            !tovane::trust::IsP256Scalar(rs.data() + 32)) {
            continue;
        }
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ASSERT_EQ(ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 32, nullptr),
                                 BN_bin2bn(rs.data() + 32, 32, nullptr)),
                  1);
        unsigned char* der = nullptr;
        int len = i2d_ECDSA_SIG(sig, &der);
        ASSERT_GT(len, 0);
        Bytes theirs(der, der + len);
        OPENSSL_free(der);
        ECDSA_SIG_free(sig);
        EXPECT_EQ(EncodeDerSignature(rs), theirs);
        RawSignature back{};
        ASSERT_TRUE(DecodeDerSignature(theirs.data(), theirs.size(), back));
        EXPECT_EQ(back, rs);
    }
}

TEST(IsP256Scalar, BoundsOfTheGroupOrder) {
    Bytes zero(32, 0), one = FromHex(Repeat("00", 31) + "01"), nm1 = FromHex(kNMinus1),
                       n = FromHex(kN), max(32, 0xFF);
    EXPECT_FALSE(tovane::trust::IsP256Scalar(zero.data()));
    EXPECT_TRUE(tovane::trust::IsP256Scalar(one.data()));
    EXPECT_TRUE(tovane::trust::IsP256Scalar(nm1.data()));
    EXPECT_FALSE(tovane::trust::IsP256Scalar(n.data()));
    EXPECT_FALSE(tovane::trust::IsP256Scalar(max.data()));
}

}  // namespace
