#include "release_values.h"

#include "numbers.h"

namespace tovane {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

bool IsLeapYear(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned DaysInMonth(unsigned year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a date from 1970 on, by counting from March, so
// that the leap day falls at the end of the counted year (after Howard
// Hinnant's days_from_civil). Done here rather than with timegm, which
// Windows lacks, or mktime, which follows the local time zone.
std::int64_t DaysFromCivil(unsigned year, unsigned month, unsigned day) {
    unsigned y = month <= 2 ? year - 1 : year;
    unsigned era = y / 400;
    unsigned yearOfEra = y - era * 400;
    unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, unsigned& year, unsigned& month, unsigned& day) {
    days += 719468;
    auto era = static_cast<unsigned>(days / 146097);
    auto dayOfEra = static_cast<unsigned>(days - static_cast<std::int64_t>(era) * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

// Exactly `count` (at most 4) decimal digits at `at`.
bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
    const DecimalScan scan = ScanDecimal(text.substr(at, count));
    value = static_cast<unsigned>(scan.value);
    return scan.digits == count;
}

void AppendDigits(std::string& out, unsigned value, int count) {
    std::size_t end = out.size() + static_cast<std::size_t>(count);
    out.resize(end);
    for (int i = 1; i <= count; ++i) {
        out[end - static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

bool ParseUtcTime(std::string_view text, std::int64_t* secondsSinceEpoch) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    unsigned year, month, day, hour, minute, second;
    if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) ||
        !ReadDigits(text, 8, 2, day) || !ReadDigits(text, 11, 2, hour) ||
        !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second)) {
        return false;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    *secondsSinceEpoch =
        DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

std::string FormatUtcTime(std::int64_t secondsSinceEpoch) {
    if (secondsSinceEpoch < kEarliestUtcTime || secondsSinceEpoch > kLatestUtcTime) {
        return {};
    }
    unsigned year, month, day;
    CivilFromDays(secondsSinceEpoch / kSecondsPerDay, year, month, day);
    auto secondOfDay = static_cast<unsigned>(secondsSinceEpoch % kSecondsPerDay);
    std::string text;
    text.reserve(20);
    AppendDigits(text, year, 4);
    text += '-';
    AppendDigits(text, month, 2);
    text += '-';
    AppendDigits(text, day, 2);
    text += 'T';
    AppendDigits(text, secondOfDay / 3600, 2);
    text += ':';
    AppendDigits(text, secondOfDay / 60 % 60, 2);
    text += ':';
    AppendDigits(text, secondOfDay % 60, 2);
    text += 'Z';
    return text;
}

bool ParseRolloutPercent(std::string_view text, unsigned* percent) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    unsigned value;
    if (!ReadDigits(text, 0, text.size(), value) || value > 100) {
        return false;
    }
    *percent = value;
    return true;
}

bool InRollout(unsigned bucket, unsigned percent) { return bucket < percent; }

unsigned BucketFromRandom(std::uint32_t random) {
    return static_cast<unsigned>((static_cast<std::uint64_t>(random) * 100) >> 32);
}

}  // namespace tovane
