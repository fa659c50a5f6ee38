#include "numbers.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

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
