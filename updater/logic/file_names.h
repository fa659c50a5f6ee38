// Checks on the names that the manifest lists: each is used as a file name in
// the temporary folder and in the product's folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovane {

// True for a bare file name that stays inside the folder it is appended to:
// no path separator, no drive or stream colon, not "." or "..", no
// characters Windows refuses in names, no trailing dot or blank (Windows
// drops them, so another file would be written), and not a device name
// (CON, NUL, COM1 ... with or without extension). The empty name is not a
// file name either; callers decide what an empty entry means.
bool IsPlainFileName(std::string_view name);

// The first non-empty entry that is not a plain file name, or nullptr. Empty
// entries are what the list's split rule makes of a trailing '?', and are
// left to the callers.
const std::string* FindUnsafeName(const std::vector<std::string>& names);

}  // namespace tovane
