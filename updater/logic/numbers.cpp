#include "numbers.h"

#include <limits>

namespace tovane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accumulates decimal digits, saturating at `limit`. Returns false when
// there was no digit.
bool ParseDigits(const char*& p, std::uint64_t limit, std::uint64_t& value) {
    if (!IsDigit(*p)) {
        return false;
    }
    value = 0;
    for (; IsDigit(*p); ++p) {
        if (value <= limit) {
            value = value * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    }
    if (value > limit) {
        value = limit;
    }
    return true;
}

}  // namespace

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
    std::uint64_t value = 0;
    if (!ParseDigits(p, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()),
                     value)) {
        return 0;
    }
    return static_cast<std::int32_t>(value);
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
    std::uint64_t value = 0;
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    if (!ParseDigits(p, limit + 1, value)) {
        return defaultValue;
    }
    if (value > limit) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    auto result = static_cast<std::uint32_t>(value);
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
    if (*p < '0' || *p > '9') {
        return false;
    }
    std::uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        auto digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p != '\0') {
        return false;
    }
    length = value;
    return true;
}

}  // namespace tovane
