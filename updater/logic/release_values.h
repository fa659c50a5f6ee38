// The values of the manifest's optional [Release] section: until when a
// signed manifest may be acted on, and the share of machines a quiet check
// offers the release to. Written by the publishing tool, read by the updater.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovane {

constexpr char kReleaseInfoSection[] = "Release";
constexpr char kExpiresKey[] = "Expires";
constexpr char kRolloutKey[] = "Rollout";

// The range FormatUtcTime can write: 1970-01-01T00:00:00Z..9999-12-31T23:59:59Z.
constexpr std::int64_t kEarliestUtcTime = 0;
constexpr std::int64_t kLatestUtcTime = 253402300799;

// "YYYY-MM-DDTHH:MM:SSZ" and nothing else: 20 characters, UTC, a date that
// exists (leap years by the Gregorian rule), hours 00-23, minutes and seconds
// 00-59 (no leap second), years 1970-9999. A signed value then has one
// spelling and one meaning on every machine, whatever its locale or time
// zone. On failure *secondsSinceEpoch is left as it was.
bool ParseUtcTime(std::string_view text, std::int64_t* secondsSinceEpoch);

// The inverse of ParseUtcTime; empty for a time outside the range above, so
// that a caller cannot write a value the updater would refuse.
std::string FormatUtcTime(std::int64_t secondsSinceEpoch);

// "0".."100" in plain decimal: no blanks, no sign, no leading zeros. The tool
// writes it that way, and a signed value should have one spelling only. On
// failure *percent is left as it was.
bool ParseRolloutPercent(std::string_view text, unsigned* percent);

// Whether a machine in `bucket` (0..99) is offered a release rolled out to
// `percent`: 0 offers it to none, 100 to all, and widening the percent only
// adds machines, never drops one that had it.
bool InRollout(unsigned bucket, unsigned percent);

// A bucket 0..99 from a uniformly random 32-bit value, by multiplying and
// keeping the high part: each bucket gets 42949672 or 42949673 of the 2^32
// values, a difference of about 2 in 10^8, far below what a rollout share
// could show. Larger values never give smaller buckets.
unsigned BucketFromRandom(std::uint32_t random);

}  // namespace tovane
