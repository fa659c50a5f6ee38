// Text rules of the version manifest.
#pragma once

#include <string>
#include <string_view>

namespace tovane {

// The first buffer a profile value is read into; a longer value is read
// again into a larger one (profile_buffer.h).
constexpr std::size_t kManifestValueCapacity = 10240;

// The release notes write a '?' for every line break.
inline std::string NotesForDisplay(std::string_view notes) {
    std::string text;
    text.reserve(notes.size() + notes.size() / 8);
    for (char c : notes) {
        if (c == '?') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace tovane
