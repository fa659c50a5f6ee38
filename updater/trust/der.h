// A strict reader of DER (distinguished encoding) elements: definite, minimal
// lengths only, so that one value has exactly one accepted encoding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovane::trust {

struct Bytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Reads consecutive elements from a byte range.
class DerReader {
public:
    DerReader(const std::uint8_t* data, std::size_t size) : rest_{data, size} {}
    explicit DerReader(Bytes bytes) : rest_(bytes) {}

    // The next element if it has tag `tag`; its contents in `contents`. False
    // (and nothing consumed) on another tag, a truncated element or a length
    // written in more bytes than needed.
    bool Read(std::uint8_t tag, Bytes& contents);
    // The tag of the next element without consuming it; false at the end.
    bool PeekTag(std::uint8_t& tag) const;
    bool AtEnd() const { return rest_.size == 0; }

private:
    Bytes rest_;
};

constexpr std::uint8_t kDerInteger = 0x02;
constexpr std::uint8_t kDerBitString = 0x03;
constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerOid = 0x06;
constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerContext0 = 0xA0;
constexpr std::uint8_t kDerContext1 = 0xA1;

// The contents of a non-negative INTEGER in minimal form (no superfluous
// leading zero, no sign bit set) with the leading zero byte, if any, dropped.
bool ReadUnsignedInteger(DerReader& reader, Bytes& magnitude);

}  // namespace tovane::trust
