#include "numbers.h"

#include <limits>

namespace tovane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

DecimalScan ScanDecimal(std::string_view text) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    DecimalScan scan;
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        ++scan.digits;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (scan.overflow || scan.value > (kMax - digit) / 10) {
            scan.overflow = true;
            scan.value = kMax;
        } else {
            scan.value = scan.value * 10 + digit;
        }
    }
    return scan;
}

std::int32_t ParseContentLength(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == '+') {
        ++p;
    }
    const DecimalScan scan = ScanDecimal(p);
    if (scan.digits == 0) {
        return 0;
    }
    const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(scan.value < limit ? scan.value : limit);
}

std::uint32_t ParseProfileUnsigned(const char* text, std::uint32_t defaultValue) {
    if (text == nullptr) {
        return defaultValue;
    }
    const char* p = text;
    while (IsBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const DecimalScan scan = ScanDecimal(p);
    if (scan.digits == 0) {
        return defaultValue;
    }
    if (scan.value > std::numeric_limits<std::uint32_t>::max()) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    auto result = static_cast<std::uint32_t>(scan.value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

bool ParseExactLength(const char* text, std::uint64_t& length) {
    if (text == nullptr) {
        return false;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    const DecimalScan scan = ScanDecimal(p);
    if (scan.digits == 0 || scan.overflow) {
        return false;
    }
    p += scan.digits;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p != '\0') {
        return false;
    }
    length = scan.value;
    return true;
}

}  // namespace tovane
