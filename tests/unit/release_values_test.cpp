#include "release_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

using tovane::BucketFromRandom;
using tovane::FormatUtcTime;
using tovane::InRollout;
using tovane::ParseRolloutPercent;
using tovane::ParseUtcTime;

// The seconds as `date -u -d TEXT +%s` prints them.
TEST(UtcTime, KnownInstantsBothWays) {
    struct {
        const char* text;
        std::int64_t seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"1970-01-01T00:00:01Z", 1},
        {"1970-03-01T00:00:00Z", 5097600},
        {"1972-02-29T23:59:59Z", 68255999},
        {"1999-12-31T23:59:59Z", 946684799},
        {"2000-02-29T12:34:56Z", 951827696},  // 2000: a leap year, divisible by 400
        {"2000-03-01T00:00:00Z", 951868800},
        {"2026-12-31T23:59:59Z", 1798761599},
        {"2027-03-10T14:00:00Z", 1804687200},
        {"2038-01-19T03:14:08Z", 2147483648},  // one past what a 32-bit time_t holds
        {"2100-02-28T23:59:59Z", 4107542399},  // 2100: no leap year
        {"2100-03-01T00:00:00Z", 4107542400},
        {"2400-02-29T00:00:00Z", 13574563200},
        {"9999-12-31T23:59:59Z", 253402300799},
    };
    for (const auto& c : cases) {
        std::int64_t seconds = -1;
        EXPECT_TRUE(ParseUtcTime(c.text, &seconds)) << c.text;
        EXPECT_EQ(seconds, c.seconds) << c.text;
        EXPECT_EQ(FormatUtcTime(c.seconds), c.text);
    }
}

TEST(UtcTime, RefusesEveryOtherSpelling) {
    const std::string nul("2027-03-10T14:00:0\0Z", 20);
    const char* cases[] = {
        "",
        "2027-03-10T14:00:00",   // no zone
        "2027-03-10T14:00:00z",  // one spelling only
        "2027-03-10t14:00:00Z",
        "2027-03-10 14:00:00Z",
        "2027-03-10T14:00:00+00:00",  // an offset, even a zero one
        "2027-03-10T14:00:00.0Z",     // fractions
        "2027-03-10T14:00Z",
        "2027-3-10T14:00:00Z",  // no padding
        "2027-03-10T4:00:00Z",
        " 2027-03-10T14:00:00Z",  // blanks
        "2027-03-10T14:00:00Z ",
        "2027-03-10T14:00:00Z\n",
        "+027-03-10T14:00:00Z",  // signs where digits belong
        "2027-03-10T14:00:-1Z",
        "2027-03-1aT14:00:00Z",
        "2027-03-10T14:00:0\xB9Z",  // superscript one in Latin-1
        "2027/03/10T14:00:00Z",
        "1969-12-31T23:59:59Z",  // before the epoch
        "0000-01-01T00:00:00Z",
        "2027-00-10T14:00:00Z",  // no month 0 or 13
        "2027-13-10T14:00:00Z",
        "2027-03-00T14:00:00Z",  // no day 0
        "2027-03-32T14:00:00Z",
        "2027-04-31T14:00:00Z",  // 30-day months
        "2027-11-31T14:00:00Z",
        "2027-02-29T14:00:00Z",  // not a leap year
        "2100-02-29T14:00:00Z",  // divisible by 100, not by 400
        "2028-02-30T14:00:00Z",  // a leap year has 29 days in February
        "2027-03-10T24:00:00Z",  // no end-of-day 24:00
        "2027-03-10T14:60:00Z",
        "2027-03-10T14:00:60Z",  // no leap seconds
        "2027-03-10T99:99:99Z",
    };
    for (const char* text : cases) {
        std::int64_t seconds = 12345;
        EXPECT_FALSE(ParseUtcTime(text, &seconds)) << '"' << text << '"';
        EXPECT_EQ(seconds, 12345) << "changed by \"" << text << '"';
    }
    // A NUL byte inside: the C string view of it would be too short.
    std::int64_t seconds = 12345;
    EXPECT_FALSE(ParseUtcTime(nul, &seconds));
    EXPECT_EQ(seconds, 12345);
}

TEST(UtcTime, NothingOutsideTheYears1970To9999IsFormatted) {
    for (std::int64_t t :
         {std::int64_t{-1}, tovane::kLatestUtcTime + 1, std::numeric_limits<std::int64_t>::min(),
          std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_EQ(FormatUtcTime(t), "") << t;
    }
}

// Month lengths by the Gregorian rule, written out here independently of
// the code under test.
int MonthLength(int year, int month) {
    if (month == 2) {
        return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0) ? 29 : 28;
    }
    return month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31;
}

// Every day of two spans, at its first and last second: each reads back as
// the same instant, and each date follows the one before it in the calendar
// (the next day, or after a month's last day the 1st of the next month, or
// after 31 December 1 January). The spans cover one whole 400-year cycle of
// leap years from 1970 on (2000, 2100, 2400) and the cycle up to the last
// day that can be written; the whole range takes too long under the
// sanitizers.
TEST(UtcTime, EveryDayReadsBackAndFollowsThePreviousOne) {
    struct {
        std::int64_t firstDay, lastDay;
        const char* firstDate;
        const char* lastDate;
    } spans[] = {
        {0, 157420, "1970-01-01", "2401-01-01"},
        {2786800, tovane::kLatestUtcTime / 86400, "9600-01-01", "9999-12-31"},
    };
    for (const auto& span : spans) {
        std::string previous;
        for (std::int64_t day = span.firstDay; day <= span.lastDay; ++day) {
            std::string first = FormatUtcTime(day * 86400);
            std::string last = FormatUtcTime(day * 86400 + 86399);
            ASSERT_EQ(first.substr(0, 10) + "T00:00:00Z", first) << day;
            ASSERT_EQ(first.substr(0, 10) + "T23:59:59Z", last) << day;
            std::int64_t a = -1, b = -1;
            ASSERT_TRUE(ParseUtcTime(first, &a) && ParseUtcTime(last, &b)) << first;
            ASSERT_EQ(a, day * 86400) << first;
            ASSERT_EQ(b, day * 86400 + 86399) << last;
            if (day == span.firstDay) {
                EXPECT_EQ(first.substr(0, 10), span.firstDate);
            } else {
                int y0 = std::stoi(previous.substr(0, 4)), m0 = std::stoi(previous.substr(5, 2)),
                    d0 = std::stoi(previous.substr(8, 2));
                int y = std::stoi(first.substr(0, 4)), m = std::stoi(first.substr(5, 2)),
                    d = std::stoi(first.substr(8, 2));
                bool monthEnd = d0 == MonthLength(y0, m0);
                bool next = (!monthEnd && y == y0 && m == m0 && d == d0 + 1) ||
                            (monthEnd && m0 < 12 && y == y0 && m == m0 + 1 && d == 1) ||
                            (monthEnd && m0 == 12 && y == y0 + 1 && m == 1 && d == 1);
                ASSERT_TRUE(next) << previous << " then " << first;
            }
            previous = first;
        }
        EXPECT_EQ(previous.substr(0, 10), span.lastDate);
    }
}

TEST(RolloutPercent, PlainDecimalZeroToHundred) {
    struct {
        const char* text;
        bool ok;
        unsigned percent;
    } cases[] = {
        {"0", true, 0},           {"1", true, 1},     {"25", true, 25},   {"99", true, 99},
        {"100", true, 100},       {"101", false, 0},  {"1000", false, 0}, {"-1", false, 0},
        {"+5", false, 0},         {"", false, 0},     {"abc", false, 0},  {"05", false, 0},
        {"00", false, 0},         {"010", false, 0},  {" 5", false, 0},   {"5 ", false, 0},
        {"5%", false, 0},         {"25.0", false, 0}, {"0x10", false, 0}, {"\xB9", false, 0},
        {"4294967321", false, 0},  // 25 after wrapping 32 bits
    };
    for (const auto& c : cases) {
        unsigned percent = 777;
        EXPECT_EQ(ParseRolloutPercent(c.text, &percent), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(percent, c.ok ? c.percent : 777u) << '"' << c.text << '"';
    }
}

TEST(InRollout, BucketBelowPercent) {
    struct {
        unsigned bucket, percent;
        bool in;
    } cases[] = {
        {0, 0, false},   {99, 0, false}, {0, 1, true},    {1, 1, false},   {49, 50, true},
        {50, 50, false}, {98, 99, true}, {99, 99, false}, {99, 100, true}, {0, 100, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InRollout(c.bucket, c.percent), c.in) << c.bucket << " of " << c.percent;
    }
}

// Each percent reaches that many of the 100 buckets, and widening it keeps
// every machine that already had the release.
TEST(InRollout, PercentIsTheShareAndWideningOnlyAdds) {
    for (unsigned percent = 0; percent <= 100; ++percent) {
        unsigned reached = 0;
        for (unsigned bucket = 0; bucket < 100; ++bucket) {
            bool in = InRollout(bucket, percent);
            reached += in ? 1 : 0;
            if (in && percent < 100) {
                EXPECT_TRUE(InRollout(bucket, percent + 1)) << bucket << " of " << percent;
            }
        }
        EXPECT_EQ(reached, percent);
    }
}

// Where each bucket starts, from the exact share k * 2^32 / 100 rounded up:
// every bucket then holds 42949672 or 42949673 values.
TEST(BucketFromRandom, EvenSharesOfTheRandomValues) {
    EXPECT_EQ(BucketFromRandom(0), 0u);
    EXPECT_EQ(BucketFromRandom(UINT32_MAX), 99u);
    std::uint64_t start = 0;
    for (unsigned k = 1; k <= 100; ++k) {
        std::uint64_t next = ((std::uint64_t{k} << 32) + 99) / 100;
        EXPECT_EQ(BucketFromRandom(static_cast<std::uint32_t>(start)), k - 1);
        EXPECT_EQ(BucketFromRandom(static_cast<std::uint32_t>(next - 1)), k - 1);
        if (k < 100) {
            EXPECT_EQ(BucketFromRandom(static_cast<std::uint32_t>(next)), k);
        }
        EXPECT_TRUE(next - start == 42949672 || next - start == 42949673) << k - 1;
        start = next;
    }
    EXPECT_EQ(start, std::uint64_t{1} << 32);
}

}  // namespace
