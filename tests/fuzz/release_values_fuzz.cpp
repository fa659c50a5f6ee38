// libFuzzer target: the [Release] values. Whatever is accepted has exactly
// one spelling, the one the publishing tool writes; every instant the tool
// can write reads back as itself, in the same order as the text sorts; and
// buckets stay in 0..99 and grow with the random value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "release_values.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    std::int64_t parsed = -1;
    if (tovane::ParseUtcTime(text, &parsed)) {
        Check(parsed >= tovane::kEarliestUtcTime && parsed <= tovane::kLatestUtcTime);
        Check(tovane::FormatUtcTime(parsed) == text);
    }
    unsigned percent = 0;
    if (tovane::ParseRolloutPercent(text, &percent)) {
        Check(percent <= 100 && std::to_string(percent) == text);
    }

    // The same bytes as numbers: raw, and folded into the range the tool
    // writes so that most inputs reach the formatting of a real date.
    std::uint64_t raw = 0;
    std::memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    std::int64_t anyTime = static_cast<std::int64_t>(raw);
    std::string formatted = tovane::FormatUtcTime(anyTime);
    bool inRange = anyTime >= tovane::kEarliestUtcTime && anyTime <= tovane::kLatestUtcTime;
    Check(formatted.empty() != inRange);
    std::int64_t t = static_cast<std::int64_t>(raw % (tovane::kLatestUtcTime + 1));
    std::string a = tovane::FormatUtcTime(t);
    std::int64_t back = -1;
    Check(a.size() == 20 && tovane::ParseUtcTime(a, &back) && back == t);
    if (t < tovane::kLatestUtcTime) {
        std::string b = tovane::FormatUtcTime(t + 1);
        Check(a < b && tovane::ParseUtcTime(b, &back) && back == t + 1);
    }

    auto random = static_cast<std::uint32_t>(raw);
    unsigned bucket = tovane::BucketFromRandom(random);
    Check(bucket < 100);
    if (random < UINT32_MAX) {
        unsigned above = tovane::BucketFromRandom(random + 1);
        Check(above == bucket || above == bucket + 1);
    }
    auto anyPercent = static_cast<unsigned>(raw >> 32) % 101;
    Check(tovane::InRollout(bucket, 100) && !tovane::InRollout(bucket, 0));
    if (tovane::InRollout(bucket, anyPercent)) {
        Check(anyPercent == 100 || tovane::InRollout(bucket, anyPercent + 1));
    }
    return 0;
}
