// The manifest's file list: one value split at every '?'.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovane {

// Always one entry more than the value has '?' characters; entries are kept
// as they stand, empty ones included, because the installer skips the last
// entry and the clean-up deletes every one.
std::vector<std::string> SplitFileList(std::string_view value);

}  // namespace tovane
