// The INI reading rules of ini_text.h, and the decoding of UTF-8 and UTF-16
// the way Wine decodes them.
#include "ini_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tovane {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool IsBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == ' '; }

// One character of the text: a single byte, or in GBK a lead byte and the
// byte after it. Only single bytes are ever structure ('[', '=', blanks...).
struct Char {
    std::size_t begin;
    std::size_t end;
    int single;  // the byte of a one-byte character, -1 for a pair
};

class CharReader {
public:
    CharReader(std::string_view text, bool gbk) : text_(text), gbk_(gbk) {}

    bool AtEnd(std::size_t pos) const { return pos >= text_.size(); }

    Char At(std::size_t pos) const {
        const auto c = static_cast<unsigned char>(text_[pos]);
        // Code page 936 pairs a lead byte with any next byte but a NUL: a CR,
        // LF or '=' after it is swallowed as Wine swallows it.
        if (gbk_ && c >= 0x81 && c <= 0xFE && pos + 1 < text_.size() && text_[pos + 1] != '\0') {
            return {pos, pos + 2, -1};
        }
        return {pos, pos + 1, c};
    }

private:
    std::string_view text_;
    bool gbk_;
};

bool IsSingle(const Char& c, char byte) { return c.single == static_cast<unsigned char>(byte); }
bool IsBlankChar(const Char& c) {
    return c.single >= 0 && IsBlank(static_cast<unsigned char>(c.single));
}
bool IsLineEnd(const Char& c) { return IsSingle(c, '\n') || IsSingle(c, '\r'); }

// A name ends at its first NUL on both sides of a comparison.
std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// The comparable spelling of a name: ASCII letters of one byte in lower
// case, everything else as it stands. Two names match exactly when these
// are equal, since lowering a letter never changes where characters begin.
void Canonical(std::string_view name, bool gbk, std::string& out) {
    out.clear();
    CharReader reader(name, gbk);
    for (std::size_t pos = 0; !reader.AtEnd(pos);) {
        Char c = reader.At(pos);
        if (c.single >= 'A' && c.single <= 'Z') {
            out += static_cast<char>(c.single - 'A' + 'a');
        } else {
            out.append(name.substr(c.begin, c.end - c.begin));
        }
        pos = c.end;
    }
}

// A query as the A call takes it: a C string, trimmed of blanks.
std::string CanonicalQuery(std::string_view query, bool gbk) {
    query = UpToNul(query);
    CharReader reader(query, gbk);
    std::size_t begin = kNone;
    std::size_t end = 0;
    for (std::size_t pos = 0; !reader.AtEnd(pos);) {
        Char c = reader.At(pos);
        if (!IsBlankChar(c)) {
            if (begin == kNone) {
                begin = c.begin;
            }
            end = c.end;
        }
        pos = c.end;
    }
    std::string canonical;
    if (begin != kNone) {
        Canonical(query.substr(begin, end - begin), gbk, canonical);
    }
    return canonical;
}

// One non-empty line, trimmed, as byte ranges of the text.
struct Line {
    bool section = false;
    std::string_view name;  // section or key name, trimmed, not yet cut at a NUL
    bool hasValue = false;
    std::string_view value;  // after '=', trimmed, not yet cut or unquoted
};

// Calls visit(const Line&) for every non-empty line in order until it
// returns false.
template <typename Visit>
void ForEachLine(std::string_view text, bool gbk, Visit&& visit) {
    CharReader reader(text, gbk);
    std::size_t pos = 0;
    while (!reader.AtEnd(pos)) {
        // One pass over the line's characters gathers every position the
        // rules need; "end" positions are those just past a non-blank one.
        std::size_t first = kNone;         // first non-blank
        bool firstIsOpen = false;          // ... and it is '['
        std::size_t afterOpen = kNone;     // first non-blank after that
        std::size_t lastEnd = kNone;       // end of the last non-blank
        std::size_t close = kNone;         // last ']'
        std::size_t beforeClose = kNone;   // end of the last non-blank before it
        std::size_t equals = kNone;        // first '='
        std::size_t beforeEquals = kNone;  // end of the last non-blank before it
        std::size_t valueBegin = kNone;    // first non-blank after it
        while (!reader.AtEnd(pos)) {
            Char c = reader.At(pos);
            if (IsLineEnd(c)) {
                break;
            }
            pos = c.end;
            if (IsBlankChar(c)) {
                continue;
            }
            if (first == kNone) {
                first = c.begin;
                firstIsOpen = IsSingle(c, '[');
            } else if (afterOpen == kNone) {
                afterOpen = c.begin;
            }
            if (equals == kNone && IsSingle(c, '=')) {
                equals = c.begin;
                beforeEquals = lastEnd == kNone ? c.begin : lastEnd;
            } else if (equals != kNone && valueBegin == kNone) {
                valueBegin = c.begin;
            }
            if (IsSingle(c, ']')) {
                close = c.begin;
                beforeClose = lastEnd;
            }
            lastEnd = c.end;
        }
        while (!reader.AtEnd(pos) && IsLineEnd(reader.At(pos))) {
            ++pos;
        }
        if (first == kNone) {
            continue;
        }
        Line line;
        if (firstIsOpen && close != kNone) {
            line.section = true;
            if (afterOpen < close) {
                line.name = text.substr(afterOpen, beforeClose - afterOpen);
            }
        } else if (equals != kNone) {
            line.name = text.substr(first, beforeEquals - first);
            line.hasValue = true;
            if (valueBegin != kNone) {
                line.value = text.substr(valueBegin, lastEnd - valueBegin);
            }
        } else {
            line.name = text.substr(first, lastEnd - first);
        }
        if (!visit(line)) {
            return;
        }
    }
}

// The value as the caller receives it: up to its first NUL, and without a
// pair of matching quotes around it.
std::string FinishValue(std::string_view value, bool gbk) {
    value = UpToNul(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) {
        // The last character, not the last byte: in GBK a quote byte may be
        // the second half of a pair.
        CharReader reader(value, gbk);
        Char last{0, 0, -1};
        for (std::size_t pos = 0; !reader.AtEnd(pos); pos = last.end) {
            last = reader.At(pos);
        }
        if (IsSingle(last, value.front())) {
            value = value.substr(1, value.size() - 2);
        }
    }
    return std::string(value);
}

// Calls visit(canonicalName, line) for each key of the first section named
// `section` (canonical), in order, until it returns false.
template <typename Visit>
void ForEachKeyOf(std::string_view text, bool gbk, const std::string& section, Visit&& visit) {
    // Keys before any header belong to the unnamed section, which comes first
    // and so is the one the query "" finds.
    bool inside = section.empty();
    std::string name;
    ForEachLine(text, gbk, [&](const Line& line) {
        if (line.section) {
            if (inside) {
                return false;  // the first section of that name has ended
            }
            Canonical(UpToNul(line.name), gbk, name);
            inside = name == section;
            return true;
        }
        if (!inside) {
            return true;
        }
        Canonical(UpToNul(line.name), gbk, name);
        return visit(name, line);
    });
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::uint32_t kReplacement = 0xFFFD;

// UTF-16 to UTF-8. An odd last byte is dropped: Wine reads it together with
// whatever byte lies past its buffer, which no reader can repeat.
std::string FromUtf16(std::string_view body, bool bigEndian) {
    const std::size_t units = body.size() / 2;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(body[2 * i]);
        const auto b = static_cast<unsigned char>(body[2 * i + 1]);
        return bigEndian ? (a << 8) | b : (b << 8) | a;
    };
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            std::uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
                ++i;
                continue;
            }
        }
        AppendUtf8(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u, out);
    }
    return out;
}

// UTF-8 decoded as Wine's MultiByteToWideChar(CP_UTF8, 0) decodes it, then
// written out again: what it refuses becomes U+FFFD here too, one for the
// same bytes, so values and lines come out as Wine sees them.
std::string FromUtf8(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    const std::size_t size = body.size();
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(body[i]); };
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        // Continuation bytes the lead byte announces; C0, C1 and F5-FF
        // announce none and stand alone as U+FFFD, as do stray 80-BF.
        const std::size_t more = lead >= 0xC2 && lead <= 0xDF   ? 1
                                 : lead >= 0xE0 && lead <= 0xEF ? 2
                                 : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                                : 0;
        if (i + 1 + more > size) {
            out.append("\xEF\xBF\xBD");
            break;  // cut off by the end: Wine's reading takes the rest
        }
        std::uint32_t cp = lead & (more == 1 ? 0x1F : more == 2 ? 0x0F : 0x07);
        std::size_t taken = 1;  // bytes that go with this character
        bool ok = more != 0;
        // Each continuation byte is checked as it comes, so a refusal takes
        // the bytes read so far and leaves the rest to be read again.
        for (std::size_t k = 1; ok && k <= more; ++k) {
            const unsigned char next = byte(i + k) ^ 0x80;
            if (next >= 0x40) {
                ok = false;
                break;
            }
            cp = (cp << 6) | next;
            const std::size_t left = more - k;
            if (left == 1 && cp >= (0x110000 >> 6)) {
                ok = false;  // past U+10FFFF: refused before this byte is taken
                break;
            }
            ++taken;
            if (left == 2) {
                ok = cp >= 0x10;  // overlong four-byte form
            } else if (left == 1) {
                ok = cp >= 0x20 && !(cp >= (0xD800 >> 6) && cp <= (0xDFFF >> 6));
            } else {
                ok = cp >= 0x80;
            }
        }
        AppendUtf8(ok ? cp : kReplacement, out);
        i += taken;
    }
    return out;
}

}  // namespace

IniText IniText::Parse(std::string_view fileBytes) {
    IniText ini;
    const ManifestBytes file = ClassifyManifest(fileBytes);
    switch (file.encoding) {
    case ManifestEncoding::Gbk:
        ini.text_.assign(file.body);
        break;
    case ManifestEncoding::Utf8:
        ini.encoding_ = ManifestEncoding::Utf8;
        ini.text_ = FromUtf8(file.body);
        break;
    case ManifestEncoding::Utf16Le:
    case ManifestEncoding::Utf16Be:
        ini.encoding_ = ManifestEncoding::Utf8;
        ini.text_ = FromUtf16(file.body, file.encoding == ManifestEncoding::Utf16Be);
        break;
    }
    return ini;
}

std::optional<std::string> IniText::Value(std::string_view section, std::string_view key) const {
    const bool gbk = encoding_ == ManifestEncoding::Gbk;
    const std::string wanted = CanonicalQuery(key, gbk);
    std::optional<std::string> result;
    ForEachKeyOf(text_, gbk, CanonicalQuery(section, gbk),
                 [&](const std::string& name, const Line& line) {
                     if (name != wanted) {
                         return true;
                     }
                     if (line.hasValue) {
                         result = FinishValue(line.value, gbk);
                     }
                     return false;
                 });
    return result;
}

std::vector<std::optional<std::string>> IniText::Values(
    std::string_view section, const std::vector<std::string>& keys) const {
    const bool gbk = encoding_ == ManifestEncoding::Gbk;
    // The queries sorted by their comparable spelling, so each key line of
    // the section finds the queries it answers by binary search.
    std::vector<std::pair<std::string, std::size_t>> wanted;
    wanted.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        wanted.emplace_back(CanonicalQuery(keys[i], gbk), i);
    }
    std::sort(wanted.begin(), wanted.end());
    std::vector<std::optional<std::string>> results(keys.size());
    std::vector<bool> answered(keys.size(), false);
    std::size_t open = keys.size();
    ForEachKeyOf(text_, gbk, CanonicalQuery(section, gbk),
                 [&](const std::string& name, const Line& line) {
                     auto it = std::lower_bound(wanted.begin(), wanted.end(), name,
                                                [](const std::pair<std::string, std::size_t>& w,
                                                   const std::string& n) { return w.first < n; });
                     for (; it != wanted.end() && it->first == name; ++it) {
                         if (answered[it->second]) {
                             break;  // the first key of this name answered them all
                         }
                         answered[it->second] = true;
                         --open;
                         if (line.hasValue) {
                             results[it->second] = FinishValue(line.value, gbk);
                         }
                     }
                     return open > 0;
                 });
    return results;
}

}  // namespace tovane
