// Where the update is installed and which list entries are installed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovane {

// The folder part of the product's executable path, up to and including its
// last backslash; the scan never examines the first character, so a path
// whose only backslash is at position 0 has no folder part (""). An empty
// path means the product was not found: the program folder is the target.
std::string InstallTargetFolder(std::string_view productPath, const std::string& programFolder);

// Every entry but the last: a list written with a '?' after each name ends
// with an empty entry. Negative never; 0 for an empty list.
int InstalledEntryCount(std::size_t listSize);

}  // namespace tovane
