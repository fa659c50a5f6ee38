#include "numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

namespace {

TEST(ScanDecimal, LeadingDigitsHeldAtTheTopOfSixtyFourBits) {
    struct {
        std::string_view text;
        std::uint64_t value;
        std::size_t digits;
        bool overflow;
    } cases[] = {
        {"", 0, 0, false},
        {"x1", 0, 0, false},
        {" 1", 0, 0, false},
        {"+1", 0, 0, false},
        {"-1", 0, 0, false},
        {"0", 0, 1, false},
        {"007", 7, 3, false},
        {"12abc", 12, 2, false},
        {"3.5", 3, 1, false},
        {"18446744073709551615", UINT64_MAX, 20, false},
        {"18446744073709551615 9", UINT64_MAX, 20, false},
        {"18446744073709551616", UINT64_MAX, 20, true},
        {"18446744073709551620", UINT64_MAX, 20, true},
        {"184467440737095516150", UINT64_MAX, 21, true},
        {"0000000000000000000000000000001", 1, 31, false},
        {"99999999999999999999999999/2", UINT64_MAX, 26, true},
        {std::string_view("12\0"
                          "3",
                          4),
         12, 2, false},
        {std::string_view("123", 2), 12, 2, false},  // no further than the view
    };
    for (const auto& c : cases) {
        const tovane::DecimalScan scan = tovane::ScanDecimal(c.text);
        EXPECT_EQ(scan.value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(scan.digits, c.digits) << '"' << c.text << '"';
        EXPECT_EQ(scan.overflow, c.overflow) << '"' << c.text << '"';
    }
}

TEST(ParseContentLength, DigitsUpToTheFirstOtherCharacterSaturatedToInt32) {
    struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"25600", 25600},
        {"  42", 42},
        {"+7", 7},
        {"0", 0},
        {"", 0},
        {"abc", 0},
        {"-5", 0},  // not a length: no range, instead of a huge unsigned step count
        {"12abc", 12},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999999", 2147483647},
        {"\t\r\n 9", 9},
        {"+", 0},
        {"+-3", 0},
        {"- 3", 0},
        {"0042", 42},
        {"18446744073709551616", 2147483647},  // past 64 bits: still saturated
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::ParseContentLength(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(tovane::ParseContentLength(nullptr), 0);
}

// Compatibility pin: the original's strtoul wraps '-'; stored Version.ini files hold "%d" values.
TEST(ParseProfileUnsigned, StrtoulLikeWithSaturation) {
    struct {
        const char* text;
        std::uint32_t value;
    } cases[] = {
        {"1", 1},
        {" 15 ", 15},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999", 4294967295u},
        {"-1", 4294967295u},  // what "%d" writes for the largest value reads back the same
        {"-2147483648", 2147483648u},
        {"x", 7},  // no digits: the default
        {"", 7},
        {"3.5", 3},
        {"+5", 5},
        {"-0", 0},
        {"\t\r\n 9", 9},
        {"008", 8},
        {"-", 7},
        {"- 1", 7},
        {"+-1", 7},
        {"-4294967295", 1},
        {"-4294967296", 4294967295u},  // saturated before the sign wraps it
        {"-99999999999999999999999", 4294967295u},
        {"18446744073709551616", 4294967295u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::ParseProfileUnsigned(c.text, 7), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(tovane::ParseProfileUnsigned(nullptr, 9), 9u);
}

TEST(ParseExactLength, WholeValueOnlyAndNoOverflow) {
    std::uint64_t n = 0;
    EXPECT_TRUE(tovane::ParseExactLength("18446744073709551615", n));
    EXPECT_EQ(n, UINT64_MAX);
    EXPECT_FALSE(tovane::ParseExactLength("18446744073709551616", n));
    EXPECT_TRUE(tovane::ParseExactLength(" 123 ", n));
    EXPECT_EQ(n, 123u);
    for (const char* bad : {"", "12a", "-1", "lots", "1 2"}) {
        EXPECT_FALSE(tovane::ParseExactLength(bad, n)) << '"' << bad << '"';
    }
    EXPECT_FALSE(tovane::ParseExactLength(nullptr, n));
}

TEST(ParseExactLength, BlanksLeadingZerosAndLimits) {
    struct {
        const char* text;
        bool ok;
        std::uint64_t value;
    } cases[] = {
        {"\t7\t", true, 7},
        {"0", true, 0},
        {"007", true, 7},
        {"00000000000000000000018446744073709551615", true, UINT64_MAX},
        {"99999999999999999999999", false, 0},
        {"\r7", false, 0},  // blanks are spaces and tabs only
        {"7\n", false, 0},
        {"+1", false, 0},
        {" ", false, 0},
        {"1\t2", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t n = 42;
        EXPECT_EQ(tovane::ParseExactLength(c.text, n), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(n, c.ok ? c.value : 42u) << '"' << c.text << '"';
    }
}

}  // namespace
