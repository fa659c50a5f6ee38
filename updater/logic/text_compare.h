// Comparison of names and protocol words without regard to case, as Windows
// compares file names and HTTP its tokens.
#pragma once

#include <cstddef>
#include <string_view>

namespace tovane {

// ASCII letters only: every byte above 0x7F stays as it is, whatever the code
// page, so a GBK or UTF-8 name never matches a different name byte for byte.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace tovane
