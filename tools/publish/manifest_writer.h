// The text of Version.txt as the publishing tool writes it: the parts the
// updater reads ([Programs], [Kelvo]) and the [Files] entries it checks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files_entry.h"

namespace kelvo::publish {

struct ListedFile {
    std::string name;
    tovane::trust::FilesEntry entry;
};

// "1.1" -> 1, 1: two decimal numbers that fit 32 bits, nothing else.
bool ParseReleaseVersion(std::string_view text, std::uint32_t& main, std::uint32_t& sub);

// Notes as the manifest carries them: every line break (CRLF, LF or CR) a
// '?', trailing ones dropped. False when the result would not fit the
// updater's value buffer, or has a byte an INI value cannot hold.
bool NotesToValue(std::string_view notes, std::string& value, std::string& why);

// Checks every name with the updater's rule and refuses duplicates (Windows
// names compare without case). Empty when all is well, else the reason.
std::string CheckNames(const std::vector<std::string>& names);

// The files in the order given: the updater starts the last one again after
// installing, so the product's program goes last.
std::string BuildManifest(const std::vector<ListedFile>& files, std::uint32_t main,
                          std::uint32_t sub, std::string_view notesValue);

}  // namespace kelvo::publish
