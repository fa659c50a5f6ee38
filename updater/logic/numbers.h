// Numbers read from the network and from profile files, without undefined
// behaviour on values that do not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tovane {

// The decimal digits that open `text`, which every number reader here builds
// its own rules (sign, blanks, leading zeros, limits) around. A value past
// 64 bits is held at UINT64_MAX with `overflow` set, and its digits are still
// counted, so a caller can tell where the number ends.
struct DecimalScan {
    std::uint64_t value = 0;
    std::size_t digits = 0;
    bool overflow = false;
};
DecimalScan ScanDecimal(std::string_view text);

// A Content-Length header value as the progress arithmetic takes it: leading
// blanks skipped, decimal digits up to the first other character. Missing,
// not a number or negative: 0 (no range is set). Too large for a signed
// 32-bit size: saturated to INT32_MAX, so a huge body still gets a range.
std::int32_t ParseContentLength(const char* text);

// A version number from a profile file, read like strtoul: leading blanks,
// an optional sign ('-' wraps modulo 2^32, so a value written back with "%d"
// reads the same again), decimal digits. No digits: the default. Overflow:
// UINT32_MAX.
std::uint32_t ParseProfileUnsigned(const char* text, std::uint32_t defaultValue);

// The exact byte count of a Content-Length value, for checking that a body
// arrived whole: digits only (blanks around them allowed), fitting 64 bits.
bool ParseExactLength(const char* text, std::uint64_t& length);

}  // namespace tovane
