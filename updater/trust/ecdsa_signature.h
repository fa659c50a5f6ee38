// ECDSA P-256 signatures: the DER form that OpenSSL writes (a SEQUENCE of the
// two INTEGERs r and s) and the fixed 64-byte r||s form that CNG takes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovane::trust {

using RawSignature = std::array<std::uint8_t, 64>;

// The largest DER form of a P-256 signature: 2 + 2 * (2 + 33).
constexpr std::size_t kMaxDerSignatureSize = 72;

// Strict: one SEQUENCE holding exactly two minimal INTEGERs and nothing after
// it, r and s each in 1..n-1 for the P-256 group order n. Anything else is
// malformed, however a lax verifier would read it.
bool DecodeDerSignature(const std::uint8_t* data, std::size_t size, RawSignature& rs);

// The DER form of r||s, as `openssl dgst -verify` expects it.
std::vector<std::uint8_t> EncodeDerSignature(const RawSignature& rs);

// True when the 32-byte big-endian value is in 1..n-1 (a valid scalar: a
// signature half or a private key).
bool IsP256Scalar(const std::uint8_t* value32);

}  // namespace tovane::trust
