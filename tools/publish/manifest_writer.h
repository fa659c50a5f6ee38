// The text of Version.txt as the publishing tool writes it: the parts the
// updater reads ([Programs], [Kelvo]), the [Files] entries it checks, the
// optional [Release] section, and [Compressed] for the files that have a
// gzip form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files_entry.h"

namespace kelvo::publish {

struct ListedFile {
    std::string name;
    tovane::trust::FilesEntry entry;
    // The size of `<name>.gz` when it is published beside the file.
    std::optional<std::uint64_t> gzipSize = std::nullopt;
};

// "1.1" -> 1, 1: two decimal numbers that fit 32 bits, nothing else.
bool ParseReleaseVersion(std::string_view text, std::uint32_t& main, std::uint32_t& sub);

// Notes as the manifest carries them: every line break (CRLF, LF or CR) a
// '?', trailing ones dropped. False when the result would not fit the
// updater's value buffer, or has a byte an INI value cannot hold.
bool NotesToValue(std::string_view notes, std::string& value, std::string& why);

// Checks every name with the updater's rule and refuses duplicates (Windows
// names compare without case), and a name that is another's gzip form
// (`<name>.gz`). Empty when all is well, else the reason.
std::string CheckNames(const std::vector<std::string>& names);

// What goes into [Release]; a value left unset is not written, and with
// neither the section is left out.
struct ReleaseInfo {
    // Seconds since 1970 (UTC), within what FormatUtcTime writes.
    std::optional<std::int64_t> expires;
    // 0..100.
    std::optional<unsigned> rolloutPercent;
};

// The longest --expires-in: ten years. A manifest dated further ahead no
// longer protects against being replayed, and a larger number is more
// likely a typing slip than a plan.
constexpr unsigned kMaxExpiryDays = 3650;

// A --expires-in value: whole days 1..kMaxExpiryDays in plain decimal.
bool ParseExpiryDays(std::string_view text, unsigned& days);

// `now` plus `days` whole days, or false when that falls outside what the
// manifest can carry (after the year 9999).
bool ExpiryAfter(std::int64_t now, unsigned days, std::int64_t& expires);

// The files in the order given: the updater starts the last one again after
// installing, so the product's program goes last. [Release] comes after
// [Files] and [Compressed] after both, for the files with a gzipSize: the
// sections before each stay byte for byte what older releases had, and
// updaters that know neither never look at them.
std::string BuildManifest(const std::vector<ListedFile>& files, std::uint32_t main,
                          std::uint32_t sub, std::string_view notesValue,
                          const ReleaseInfo& release = {});

}  // namespace kelvo::publish
