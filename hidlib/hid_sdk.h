// The HID class library declarations. MinGW-w64's hidsdi.h and hidpi.h carry
// no extern "C" of their own, so C++ would look for mangled names.
#pragma once

#include <windows.h>

extern "C" {
#include <hidsdi.h>
}
