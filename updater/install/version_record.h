// The installed version as the product's folder records it: Version.ini,
// section [Kelvo], keys MainVer and SubVer. Read and written here only.
#pragma once

#include <windows.h>

#include <string>

#include "version_rule.h"

namespace tovane {

// 0.0 for a file that is absent, unreadable or without the keys; each
// number read like the profile functions' callers always have (numbers.h).
Version ReadVersionRecord(const std::string& path);

// Writes both numbers, every other key of the file kept, and flushes the
// file to the disk.
bool WriteVersionRecord(const std::string& path, Version version, DWORD* error);

}  // namespace tovane
