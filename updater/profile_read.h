// Profile values read whole, whatever their length: the profile functions cut
// a value silently to the buffer they are given, and a list or notes cut
// short would install part of an update and record it as complete.
#pragma once

#include <windows.h>

#include <string>

namespace tovane {

// False when the value is longer than any buffer the updater takes (it is
// then refused, never cut); *value is empty then.
bool ReadWholeProfileString(const char* section, const char* key, const std::string& file,
                            std::string* value);
bool ReadWholeProfileString(const wchar_t* section, const wchar_t* key, const std::wstring& file,
                            std::wstring* value);

}  // namespace tovane
