// An INI file read in memory the way GetPrivateProfileStringA reads it under
// Wine 8.0, so the manifest needs no temporary file and no profile call.
//
// The rules, from Wine's kernel32 profile code and checked under Wine 8.0:
// - The byte-order mark alone decides the encoding (ClassifyManifest). UTF-8
//   is decoded as MultiByteToWideChar does: each refused sequence is one
//   U+FFFD, and a sequence cut off by the end of the file takes the rest.
//   Without a mark the bytes are ANSI, read here as code page 936: a byte
//   0x81-0xFE takes the next byte with it into one character unless that is
//   a NUL or there is none, even a CR, LF or '='.
// - Lines end at every CR and every LF. A line is trimmed of blanks: tab, LF,
//   VT, FF, CR, Ctrl-Z (0x1A) and space, nothing else (neither U+00A0 nor
//   U+3000); Ctrl-Z does not end the file.
// - A trimmed line that starts with '[' and holds a ']' names a section: the
//   text up to the last ']', trimmed; whatever follows is ignored. A '['
//   without ']' is a key like any other line. There are no comments: ";x=1"
//   is the key ";x".
// - Other lines are keys: the name up to the first '=', trimmed; the value
//   after it, trimmed. A line without '=' is a key without a value.
// - Keys before the first section header belong to a section named "", which
//   the query "" (or blanks) finds; sections named "" later never are.
// - A query is trimmed of the same blanks and compared with names ignoring
//   the case of ASCII letters only: Wine 8.0 folds no other letter (not even
//   U+212A to 'k'). Names end at their first NUL, for both sides.
// - Only the first section of a name counts, later ones of the same name are
//   never read; in it, the first key of the name answers, even one without a
//   value (that one answers nothing).
// - The value ends at its first NUL. One starting and ending with the same
//   quote, ' or ", loses both when it is at least two characters long.
//
// Where ours knowingly differs (the differential test under Wine keeps these
// out of its comparison):
// - Wine reads a file without a mark in the process's ANSI code page. Here it
//   is always 936; under a single-byte code page such as 1252, Wine does not
//   pair bytes, so a byte 0x81-0xFE followed by an ASCII byte splits
//   differently there (a following ']', '=', blank, line end or letter).
// - Byte pairs with no character in code page 936, and a lone 0x81-0xFE
//   before a NUL or at the end, come back as the bytes as they stand; the A
//   call gives '?' for each, and there a name or query holding one matches
//   a '?'.
// - An odd trailing byte of a UTF-16 file is dropped; Wine reads it with the
//   byte that happens to follow its buffer, differently from call to call.
// - Unpaired surrogates of UTF-16 become U+FFFD, so a name holding one is
//   found here by U+FFFD and never by Wine. In values the A call turns both
//   into '?', like every character the ANSI code page lacks: values of a
//   Unicode file are UTF-8 here, converted by the A call.
// - Queries are taken in the file's encoding (GBK bytes, or UTF-8 for a
//   Unicode file) and end at their first NUL, as a C string would.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text_encoding.h"

namespace tovane {

class IniText {
public:
    // The whole file. Memory: the text itself, at most three times its bytes
    // (each refused UTF-8 byte becomes a three-byte U+FFFD); nothing is
    // indexed, so each query reads the text once.
    static IniText Parse(std::string_view fileBytes);

    // Gbk for a file without a mark, Utf8 for every Unicode one: the
    // encoding of the values and of the queries.
    ManifestEncoding encoding() const { return encoding_; }

    // What GetPrivateProfileStringA(section, key, default, ...) gives with a
    // buffer large enough, or nullopt where it gives the default.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Value(section, keys[i]) for every i, from one reading of the text: a
    // long list of names costs no more than one name.
    std::vector<std::optional<std::string>> Values(std::string_view section,
                                                   const std::vector<std::string>& keys) const;

private:
    ManifestEncoding encoding_ = ManifestEncoding::Gbk;
    // GBK bytes as they stand, or the Unicode text as UTF-8.
    std::string text_;
};

}  // namespace tovane
