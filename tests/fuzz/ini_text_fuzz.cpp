// libFuzzer target: the in-memory INI reader and the manifest read through
// it. The input is the whole file; the queries are the manifest's names and
// names picked from the input by a rough reading of its lines. Checked:
// - reading the same bytes twice gives the same answers;
// - no answer holds a NUL;
// - a query answers alike with its ASCII letters in the other case and with
//   blanks around it, wherever that leaves its characters as they were;
// - Values answers each key as Value does;
// - a file of ASCII bytes reads alike with a UTF-8, UTF-16LE or UTF-16BE
//   mark;
// - a section appended after the file is found, unless one of its name came
//   first;
// - the manifest's [Files] values are Value's answers for the listed names.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ini_text.h"
#include "manifest.h"

namespace {

using tovane::IniText;
using tovane::ManifestEncoding;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string SwapCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

std::string Trimmed(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

// What to ask for: the manifest's names, and what looks like a section or
// key name in the raw bytes (wrong for UTF-16, which is fine: any query goes).
struct Queries {
    std::vector<std::string> sections;
    std::vector<std::string> keys;
};

Queries QueriesFor(std::string_view data) {
    namespace names = tovane::manifest_names;
    Queries q;
    q.sections = {"", names::kProgramsSection, names::kReleaseSection, names::kFilesSection};
    q.keys = {"", names::kProgramsKey, names::kMainVerKey, names::kNotesKey};
    std::size_t pos = 0;
    const std::size_t kSections = 7;
    const std::size_t kKeys = 12;
    while (pos < data.size() && (q.sections.size() < kSections || q.keys.size() < kKeys)) {
        std::size_t end = data.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = data.size();
        }
        std::string_view line = data.substr(pos, end - pos);
        pos = end + 1;
        std::size_t close = line.rfind(']');
        if (!line.empty() && line[0] == '[' && close != std::string_view::npos) {
            if (q.sections.size() < kSections) {
                q.sections.push_back(Trimmed(line.substr(1, close - 1)));
            }
        } else if (!line.empty() && q.keys.size() < kKeys) {
            q.keys.push_back(Trimmed(line.substr(0, line.find('='))));
        }
    }
    return q;
}

// Another spelling of the same query, or nullopt where changing it could
// change its characters (in GBK a letter or blank may be a pair's second
// byte).
std::optional<std::string> OtherCase(const std::string& q, bool gbk) {
    if (gbk && !IsAscii(q)) {
        return std::nullopt;
    }
    return SwapCase(q);
}

std::string Blanked(const std::string& q, bool gbk) {
    std::string s = " \t\x0B" + q;
    // A blank after a lead byte would become its second byte.
    if (!gbk || q.empty() || static_cast<unsigned char>(q.back()) < 0x80) {
        s += "\x1A\x0C ";
    }
    return s;
}

std::string Utf16(std::string_view ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view lowerNeedle) {
    for (std::size_t i = 0; i + lowerNeedle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < lowerNeedle.size()) {
            char c = text[i + k];
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (c != lowerNeedle[k]) {
                break;
            }
            ++k;
        }
        if (k == lowerNeedle.size()) {
            return true;
        }
    }
    return false;
}

void CheckAppendedSectionIsFound(std::string_view data, ManifestEncoding form) {
    static constexpr char kLines[] = "\n\n[FuzzAppended]\nkey=value\n";
    std::string file(data);
    if (form == ManifestEncoding::Utf16Le || form == ManifestEncoding::Utf16Be) {
        if (data.size() % 2 != 0) {
            return;  // its odd last byte is dropped, so the rest would shift
        }
        file += Utf16(kLines, form == ManifestEncoding::Utf16Be).substr(2);
    } else {
        file += kLines;
    }
    if (ContainsIgnoringCase(data, "fuzzappended")) {
        return;  // an earlier section of the name may have come first
    }
    Require(IniText::Parse(file).Value("FuzzAppended", "key") == std::string("value"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const IniText ini = IniText::Parse(data);
    const IniText again = IniText::Parse(data);
    Require(ini.encoding() == again.encoding());
    Require(ini.encoding() == ManifestEncoding::Gbk || ini.encoding() == ManifestEncoding::Utf8);
    const bool gbk = ini.encoding() == ManifestEncoding::Gbk;
    const ManifestEncoding form = tovane::ClassifyManifest(data).encoding;

    // The same text under each mark, where every form spells it alike.
    std::vector<IniText> forms;
    if (form == ManifestEncoding::Gbk && IsAscii(data)) {
        forms.push_back(IniText::Parse("\xEF\xBB\xBF" + std::string(data)));
        forms.push_back(IniText::Parse(Utf16(data, false)));
        forms.push_back(IniText::Parse(Utf16(data, true)));
    }

    // Each variant of the queries is asked in one pass through Values, which
    // is itself held to Value's answers.
    const Queries queries = QueriesFor(data);
    const std::vector<std::string>& keys = queries.keys;
    std::vector<std::string> otherCase;
    std::vector<std::string> blanked;
    for (const std::string& key : keys) {
        otherCase.push_back(OtherCase(key, gbk).value_or(key));
        blanked.push_back(Blanked(key, gbk));
    }
    for (const std::string& section : queries.sections) {
        std::vector<std::optional<std::string>> answers;
        for (const std::string& key : keys) {
            std::optional<std::string> value = ini.Value(section, key);
            Require(!value || value->find('\0') == std::string::npos);
            answers.push_back(std::move(value));
        }
        Require(ini.Values(section, keys) == answers);
        Require(again.Values(section, keys) == answers);
        Require(ini.Values(OtherCase(section, gbk).value_or(section), otherCase) == answers);
        Require(ini.Values(Blanked(section, gbk), blanked) == answers);
        for (const IniText& other : forms) {
            Require(other.Values(section, keys) == answers);
        }
    }

    CheckAppendedSectionIsFound(data, form);

    tovane::Manifest manifest;
    if (tovane::ParseManifest(data, &manifest) == tovane::ManifestParse::kOk) {
        Require(manifest.encoding == ini.encoding());
        Require(!manifest.files.empty());
        for (const std::string& name : manifest.files) {
            const std::string* value = manifest.FilesValue(name);
            std::optional<std::string> expected =
                name.empty() ? std::nullopt
                             : ini.Value(tovane::manifest_names::kFilesSection, name);
            Require(value == nullptr ? !expected : expected && *value == *expected);
        }
    }
    return 0;
}
