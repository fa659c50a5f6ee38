// Text rules of the version manifest.
#pragma once

#include <string>
#include <string_view>

namespace tovane {

namespace detail {
template <class Char>
std::basic_string<Char> NotesForDisplay(std::basic_string_view<Char> notes) {
    const Char lineBreak[] = {Char('\r'), Char('\n'), Char(0)};
    std::basic_string<Char> text;
    text.reserve(notes.size() + notes.size() / 8);
    for (Char c : notes) {
        if (c == Char('?')) {
            text += lineBreak;
        } else {
            text += c;
        }
    }
    return text;
}
}  // namespace detail

// The release notes write a '?' for every line break. On GBK or UTF-8 bytes
// as read from the file: '?' (0x3F) is never part of a multi-byte character
// in either, since GBK trail bytes start at 0x40.
inline std::string NotesForDisplay(std::string_view notes) {
    return detail::NotesForDisplay(notes);
}
// On the notes of a Unicode manifest.
inline std::wstring NotesForDisplay(std::wstring_view notes) {
    return detail::NotesForDisplay(notes);
}

}  // namespace tovane
