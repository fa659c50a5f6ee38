// Texts between encodings: the program's GBK texts and the manifest's
// release notes turned into UTF-16 for the wide-character calls, so that
// they read the same whatever the system's ANSI code page is, and a Unicode
// manifest's file names into that code page for the file calls.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "manifest.h"
#include "text_encoding.h"

namespace kelvo::ui {

// Bytes of the given code page as UTF-16. A byte sequence that is not valid
// there does not cost the rest of the text: the text is then converted
// leniently, with the system's replacement character for what it cannot read.
std::wstring WideFromCodePage(std::string_view bytes, UINT codePage);
inline std::wstring WideFromGbk(std::string_view gbk) {
    return WideFromCodePage(gbk, tovane::kGbkCodePage);
}

// MessageBoxW with text and caption given as GBK (or ASCII) bytes.
int MessageBoxGbk(HWND owner, const char* text, const char* caption, UINT type);

// The manifest's release notes for the status box: each '?' a line break,
// in the manifest's own encoding.
std::wstring NotesForBox(const tovane::Manifest& manifest);

// UTF-8 bytes in the system's ANSI code page, for the ANSI file calls; false
// when a character has no exact form there (no best-fit stand-in is taken:
// it could name another file) or the bytes are not UTF-8.
bool AnsiFromUtf8(std::string_view utf8, std::string* ansi);
// The same from UTF-16 (a path the system gave in wide characters).
bool AnsiFromWide(std::wstring_view wide, std::string* ansi);

}  // namespace kelvo::ui
