// Texts on their way to the screen: the program's GBK texts and the
// manifest's release notes turned into UTF-16 for the wide-character calls,
// so that they read the same whatever the system's ANSI code page is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

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

// Makes the downloaded manifest at path readable by the profile calls on
// Windows and Wine alike, and tells its encoding. Windows' profile calls know
// no UTF-8 byte-order mark: the mark would make "[Programs]" an unknown line.
// Wine does know it, but its ANSI calls then hand the values out in the ANSI
// code page, which cannot hold Chinese notes on a Western system. So a
// UTF-8 manifest is rewritten in place as UTF-16LE with its mark, the one
// Unicode form both read, and its notes are then read with the wide call;
// names and numbers keep being read with the ANSI calls. A GBK manifest is
// left as it is.
tovane::ManifestEncoding PrepareManifestForReading(const std::string& path);

// The bytes that rewrite makes of a manifest's bytes (the same bytes when
// they need none).
std::string ManifestBytesForReading(const std::string& bytes);

// The release notes (UpdateInof) of a prepared manifest, each '?' a line
// break, ready for the status box. Read whole: false when they are too long
// to read (they are then refused, never cut).
bool ReadManifestNotes(const std::string& path, tovane::ManifestEncoding encoding,
                       std::wstring* notes);

}  // namespace kelvo::ui
