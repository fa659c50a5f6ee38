// GetPrivateProfileStringA under Wine against IniText::Value. Every file of
// the table below and every file in the folder KELVO_INI_CORPUS names (the
// test command gives tests/fuzz/corpus/ini_text, the fuzzer's findings kept
// in the sources; tests/fuzz/run.sh leaves a freshly grown corpus in
// build/fuzz/corpus/ini_text) is written to a temporary file and asked the
// same questions both ways: the manifest's names, names found in the file,
// their case and blank variants, and absent names.
//
// The A call answers in the ANSI code page, so ours is compared as it would
// come out of it: a Unicode file's UTF-8 value and a GBK value both go
// through that code page and back. What depends on the code page is kept out
// and counted (see ini_text.h): under any code page but 936 a file without a
// mark whose GBK pairs end in an ASCII byte, since Wine reads it byte by
// byte there; under 936 the queries holding '?' in a file with bytes 936
// has no character for. An odd UTF-16 file is given to Wine without its last
// byte, which Wine would read with whatever byte follows its buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ini_text.h"
#include "manifest.h"

namespace {

using namespace std::string_literals;

std::wstring Widen(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(bytes.size());
    int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, &wide[0], length);
    return wide;
}

// With the code page's default character for what it lacks, as the A call
// converts; *lossless (when given) tells whether none was needed.
std::string Narrow(std::wstring_view wide, UINT codePage, bool* lossless = nullptr) {
    if (lossless != nullptr) {
        *lossless = true;
    }
    if (wide.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int length = ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, used);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, &bytes[0], length, nullptr, used);
    if (lossless != nullptr) {
        *lossless = !usedDefault && Widen(bytes, codePage) == wide;
    }
    return bytes;
}

std::string Hex(std::string_view bytes, std::size_t limit = 160) {
    std::string text;
    char buffer[8];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            text += buffer;
        }
    }
    if (bytes.size() > limit) {
        text += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

std::string Shown(const std::optional<std::string>& value) {
    return value ? '"' + Hex(*value) + '"' : std::string("(default)");
}

std::string Utf16(std::wstring_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t u : text) {
        const char high = static_cast<char>((u >> 8) & 0xFF);
        const char low = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

bool IsBlank(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

std::wstring Trimmed(std::wstring_view s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlank(s[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(s[end - 1])) {
        --end;
    }
    return std::wstring(s.substr(begin, end - begin));
}

// The file as Wine's reading decodes it, only to find names to ask for.
std::wstring DecodedForNames(const std::string& file) {
    const tovane::ManifestBytes bytes = tovane::ClassifyManifest(file);
    switch (bytes.encoding) {
    case tovane::ManifestEncoding::Gbk:
        return Widen(bytes.body, CP_ACP);
    case tovane::ManifestEncoding::Utf8:
        return Widen(bytes.body, CP_UTF8);
    case tovane::ManifestEncoding::Utf16Le:
    case tovane::ManifestEncoding::Utf16Be:
        break;
    }
    const bool big = bytes.encoding == tovane::ManifestEncoding::Utf16Be;
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.body.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes.body[i]);
        const auto b = static_cast<unsigned char>(bytes.body[i + 1]);
        text += static_cast<wchar_t>(big ? (a << 8) | b : (b << 8) | a);
    }
    return text;
}

struct Query {
    std::wstring section;
    std::wstring key;
    bool operator<(const Query& o) const {
        return section != o.section ? section < o.section : key < o.key;
    }
};

std::wstring SwapCase(std::wstring s) {
    for (wchar_t& c : s) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return s;
}

std::wstring Blanked(const std::wstring& s) { return L" \t" + s + L"\x1A "; }

// The manifest's names and their variants, names found in the file (the
// section each key stands in, by a rough reading of the lines) with theirs,
// and absent ones.
std::vector<Query> QueriesFor(const std::string& file) {
    namespace names = tovane::manifest_names;
    const std::wstring sections[] = {L"",
                                     L" \t",
                                     Widen(names::kProgramsSection, CP_ACP),
                                     Widen(names::kReleaseSection, CP_ACP),
                                     L" KELVO\t",
                                     Widen(names::kFilesSection, CP_ACP),
                                     L"s",
                                     L"Absent"};
    const std::wstring keys[] = {L"",
                                 Widen(names::kProgramsKey, CP_ACP),
                                 Widen(names::kMainVerKey, CP_ACP),
                                 L"subver",
                                 Widen(names::kNotesKey, CP_ACP),
                                 L" k ",
                                 L"a",
                                 L"Absent"};
    std::set<Query> queries;
    for (const std::wstring& s : sections) {
        for (const std::wstring& k : keys) {
            queries.insert({s, k});
        }
    }
    const std::wstring text = DecodedForNames(file);
    std::wstring section;
    std::size_t found = 0;
    for (std::size_t pos = 0; pos < text.size() && found < 24;) {
        std::size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = Trimmed(std::wstring_view(text).substr(pos, end - pos));
        pos = end + 1;
        line = line.substr(0, line.find(L'\0'));
        if (line.empty()) {
            continue;
        }
        const std::size_t close = line.rfind(L']');
        if (line[0] == L'[' && close != std::wstring::npos) {
            section = Trimmed(std::wstring_view(line).substr(1, close - 1));
            queries.insert({section, L"k"});
            continue;
        }
        const std::wstring key = Trimmed(std::wstring_view(line).substr(0, line.find(L'=')));
        queries.insert({section, key});
        queries.insert({SwapCase(section), SwapCase(key)});
        queries.insert({Blanked(section), Blanked(key)});
        queries.insert({L"Absent", key});
        ++found;
    }
    return std::vector<Query>(queries.begin(), queries.end());
}

// Under a code page other than 936 Wine reads a file without a mark byte by
// byte; ours pairs as 936 does, which reads alike unless a pair ends in an
// ASCII byte.
bool PairsDifferently(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < bytes.size() && bytes[i + 1] != '\0') {
            if (static_cast<unsigned char>(bytes[i + 1]) < 0x80) {
                return true;
            }
            ++i;
        }
    }
    return false;
}

struct Tally {
    std::size_t files = 0;
    std::size_t queries = 0;
    std::size_t found = 0;  // queries Wine answered with a value
    std::size_t mismatches = 0;
    std::size_t filesPairedApart = 0;
    std::size_t filesOddUtf16 = 0;
    std::size_t queriesNotInCodePage = 0;
    std::size_t queriesPairedApart = 0;
    std::size_t queriesWithDefaultChar = 0;
};

// The code page a registration asks for (a host without the locale would
// silently run under another one).
void ExpectAskedCodePage() {
    char asked[16];
    DWORD n = ::GetEnvironmentVariableA("KELVO_EXPECT_ACP", asked, sizeof asked);
    if (n > 0 && n < sizeof asked) {
        EXPECT_EQ(std::to_string(::GetACP()), asked) << "is the locale installed (locale -a)?";
    }
}

class Differential {
public:
    Differential() {
        ExpectAskedCodePage();
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "kelvo-ini-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(dir_.c_str(), nullptr);
        acp_ = ::GetACP();
        CPINFO info{};
        ::GetCPInfo(acp_, &info);
        singleByteAcp_ = info.MaxCharSize == 1;
    }
    ~Differential() { ::RemoveDirectoryA(dir_.c_str()); }

    UINT acp() const { return acp_; }

    void Compare(const std::string& label, const std::string& file, Tally& tally) {
        const tovane::IniText ours = tovane::IniText::Parse(file);
        const bool ansi = ours.encoding() == tovane::ManifestEncoding::Gbk;
        if (ansi && acp_ != 936 && (!singleByteAcp_ || PairsDifferently(file))) {
            ++tally.filesPairedApart;
            return;
        }
        std::string forWine = file;
        const tovane::ManifestEncoding form = tovane::ClassifyManifest(file).encoding;
        if ((form == tovane::ManifestEncoding::Utf16Le ||
             form == tovane::ManifestEncoding::Utf16Be) &&
            file.size() % 2 != 0) {
            forWine.pop_back();
            ++tally.filesOddUtf16;
        }
        const std::string path = dir_ + "\\f" + std::to_string(++serial_) + ".ini";
        ASSERT_TRUE(WriteOld(path, forWine)) << path;
        // Bytes the code page has no character for read as its default '?'.
        const bool roundTrips = !ansi || Narrow(Widen(file, acp_), acp_) == file;
        ++tally.files;
        std::vector<char> buffer(2 * file.size() + 64);
        for (const Query& q : QueriesFor(file)) {
            bool sectionOk = false;
            bool keyOk = false;
            const std::string section = Narrow(q.section, acp_, &sectionOk);
            const std::string key = Narrow(q.key, acp_, &keyOk);
            if (!sectionOk || !keyOk || section.find('\0') != std::string::npos ||
                key.find('\0') != std::string::npos) {
                ++tally.queriesNotInCodePage;
                continue;
            }
            if (ansi && acp_ != 936 && (PairsDifferently(section) || PairsDifferently(key))) {
                ++tally.queriesPairedApart;
                continue;
            }
            if (!roundTrips &&
                (section.find('?') != std::string::npos || key.find('?') != std::string::npos)) {
                ++tally.queriesWithDefaultChar;
                continue;
            }
            std::optional<std::string> wine = WineValue(section.c_str(), key.c_str(), path, buffer);
            std::optional<std::string> mine =
                ansi ? ours.Value(section, key)
                     : ours.Value(Narrow(q.section, CP_UTF8), Narrow(q.key, CP_UTF8));
            if (mine) {
                mine = Narrow(Widen(*mine, ansi ? acp_ : CP_UTF8), acp_);
            }
            ++tally.queries;
            tally.found += wine.has_value();
            if (wine != mine) {
                if (++tally.mismatches <= 40) {
                    ADD_FAILURE() << label << ": [" << Hex(section) << "] " << Hex(key)
                                  << "\n  Wine gives " << Shown(wine) << "\n  ours gives "
                                  << Shown(mine) << "\n  file: " << Hex(file, 400);
                }
            }
        }
        ::DeleteFileA(path.c_str());
    }

private:
    // Written an hour old: Wine then keeps the parsed file between calls
    // instead of reading it again for each (each path is used once).
    static bool WriteOld(const std::string& path, const std::string& bytes) {
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        bool ok =
            bytes.empty() ||
            (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t;
        t.LowPart = now.dwLowDateTime;
        t.HighPart = now.dwHighDateTime;
        t.QuadPart -= 36000000000ULL;
        FILETIME old{t.LowPart, t.HighPart};
        ok = ::SetFileTime(file, nullptr, nullptr, &old) && ok;
        return ::CloseHandle(file) && ok;
    }

    // nullopt where the call gives its default; a value that happens to
    // spell the default is told apart by asking again with another.
    static constexpr char kDefault[] =
        "\x01"
        "default";
    static constexpr char kOtherDefault[] =
        "\x02"
        "other";

    static std::optional<std::string> WineValue(const char* section, const char* key,
                                                const std::string& path,
                                                std::vector<char>& buffer) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        DWORD n =
            ::GetPrivateProfileStringA(section, key, kDefault, buffer.data(), size, path.c_str());
        EXPECT_LT(n + 1, size) << "the buffer was too small";
        std::string value(buffer.data(), n);
        if (value != kDefault) {
            return value;
        }
        n = ::GetPrivateProfileStringA(section, key, kOtherDefault, buffer.data(), size,
                                       path.c_str());
        if (std::string(buffer.data(), n) == kOtherDefault) {
            return std::nullopt;
        }
        return value;
    }

    std::string dir_;
    UINT acp_ = 0;
    bool singleByteAcp_ = true;
    unsigned serial_ = 0;
};

void Report(const char* what, UINT acp, const Tally& t) {
    std::printf(
        "%s under code page %u: %zu files, %zu queries compared (%zu found by Wine), %zu "
        "mismatches\n  kept out: %zu files read byte by byte here, %zu queries outside the code "
        "page, %zu queries paired apart, %zu queries with '?' in a file 936 cannot show; %zu "
        "odd UTF-16 files given to Wine without their last byte\n",
        what, acp, t.files, t.queries, t.found, t.mismatches, t.filesPairedApart,
        t.queriesNotInCodePage, t.queriesPairedApart, t.queriesWithDefaultChar, t.filesOddUtf16);
    std::fflush(stdout);
}

struct HandCase {
    const char* name;
    std::string file;
};

std::vector<HandCase> HandWrittenFiles() {
    std::vector<HandCase> cases = {
        {"manifest gbk",
         "[Programs]\r\nPrograms=Kelvo.exe?\xC9\xFD\xBC\xB6.dll?Qorinhid.dll?\r\n[Kelvo]\r\n"
         "MainVer=2\r\nSubVer=15\r\nUpdateInof=\xB8\xFC\xD0\xC2?- \xC6\xF4\xB6\xAF\r\n[Files]\r\n"
         "kelvo.EXE=10 aaaa\r\n\xC9\xFD\xBC\xB6.dll = 20 bbbb\r\n"},
        {"blanks", " \t [ Kelvo ] \t\r\n \x0B MainVer \x0C = \x1A 3 \t\r\n\t SubVer\t=\t4 5\t\r\n"},
        {"blank only lines", " \r\n\t\r\n\x1A\r\n"},
        {"cr only", "a=1\rb=2\r[s]\rc=3\r[Kelvo]\rMainVer=1\rSubVer=2\r"},
        {"lf only", "[s]\na=1\nb=2\n[Kelvo]\nMainVer=7"},
        {"runs of line ends", "[s]\r\r\n\n\r\na=1\n\r\n\rb=2\r\n\r"},
        {"no final line end", "[s]\na=last"},
        {"quotes",
         "[s]\na=\"x\"\nb='y'\nc=\"\nd='\ne=\"\"\nf=\"x'\ng= \" x \" \nh=\"a\"b\"\ni=\"\"x\"\"\n"
         "j=x\"\nk=''\n[Kelvo]\nMainVer='7'\nSubVer=\"8\"\nUpdateInof=\"notes\"\n"},
        {"duplicates",
         "[s]\na=1\nA=2\na=3\n[S]\nb=3\na=4\n[Kelvo]\nMainVer=1\n[kelvo]\nMainVer=2\nSubVer=9\n"},
        {"keys before any section", "k=0\na=x\n[s]\nk=1\n[]\nk=2\n[ ]\na=y\n"},
        {"brackets",
         "[b] junk ] x\nk=2\n[c\nk=3\n[a=b]\nk=4\nc]=1\n  [s]\nk=5\n[s] "
         ";c=1\n[\nk=6\n]\n[]]\nk=7\n"},
        {"comments are keys", "[s]\n;x=1\n#y=2\n; k = 3\nk=4\n"},
        {"equals", "[s]\na=b=c\nb= =b\n=v\nk==\n a = = \n"},
        {"empty values", "[s]\na=\nb = \t\nk\nk=1\nc\n"},
        {"nul bytes",
         "[s]\na=x\0y\nb\0c=z\n\0e=5\nf=\"q\0\"\ng=1\0h=2\nk=1 \0\n[t\0u]\nk=1\n[\0]\nk=8\n"s},
        {"ctrl z", "[s]\na=1\x1A\n\x1A b=2\nc\x1A=\x1A 3\x1A\x1A\nk=\x1A\x1A\n\x1A"},
        {"ctrl z mid line",
         "[s]\nk=a\x1A"
         "b\n\x1A[t]\x1A\nk=1\n"},
        {"gbk values and names",
         "[\xB8\xFC\xD0\xC2]\n\xC4\xE3=\xC4\xE3\xBA\xC3\nk=\xC4\xE3 \n[s]\nk=\xA1\xA1x\xA1\xA1\n"},
        {"gbk lead takes equals", "[s]\n\x81=x=1\nk=2\n"},
        {"gbk lead takes line end", "[s]\na=\x81\nb=2\nk=3\n"},
        {"gbk lead takes blank", "[s]\na=x\x81 \nk=\x81 \n"},
        {"gbk lead takes bracket", "[a\x81]\nk=1\n[s\xB8]]\nk=2\n"},
        {"gbk lead takes quote", "[s]\na=\"x\x81\"\nk='\xB8'\n"},
        {"gbk lead before nul", "[s]\na=x\x81\0y\nk=\x81\0\n"s},
        {"gbk lead at the end", "[s]\nk=x\x81"},
        {"gbk second byte letter",
         "[s]\n\x81"
         "A=1\n\x81"
         "a=2\nk=3\n\x81"
         "Ab=4\n"},
        {"gbk 80 and ff", "[s]\n\xFF=\x80\nk=\xFF\x80\n"},
        {"gbk invalid pairs", "[s]\nk=\x81\x7F\n\x81\x30=2\n?=3\n"},
        {"utf8 manifest",
         "\xEF\xBB\xBF[Programs]\r\nPrograms=\xE5\x8D\x87\xE7\xBA\xA7.dll?b.dll\r\n[Kelvo]\r\n"
         "MainVer=1\r\nSubVer=2\r\nUpdateInof=\xE6\x9B\xB4\xE6\x96\xB0?ok\r\n[Files]\r\n"
         "b.DLL=5 cc\r\n"},
        {"utf8 mark only", "\xEF\xBB\xBF"},
        {"utf8 second mark", "\xEF\xBB\xBF\xEF\xBB\xBF[s]\nk=1\n"},
        {"utf8 refused",
         "\xEF\xBB\xBF[s]\na=a\x80z\nb=a\xC0\x80z\nc=a\xC2z\nd=a\xE0\x80\x80z\ne=a\xED\xA0\x80z\n"
         "f=a\xF4\x90\x80\x80z\ng=a\xF5\x80z\nh=a\xE2(\xA1z\ni=a\xF0\x90\x80z\nj=\xEF\xBF\xBF\n"
         "k=\xF4\x8F\xBF\xBF\nl=\xFE\xFF\nm=a\xE2\nn=1\n"},
        {"utf8 cut by the end", "\xEF\xBB\xBF[s]\nk=a\xF0\x90z"},
        {"utf8 cut by the end takes line end", "\xEF\xBB\xBF[s]\nk=a\xE2\n"},
        {"utf8 blank after multibyte", "\xEF\xBB\xBF[s]\nk=\xE6\x9B\xB4 \n"},
        {"utf16le manifest",
         Utf16(L"[Programs]\r\nPrograms=\u5347\u7EA7.dll?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=2\r\n"
               L"UpdateInof=\u66F4\u65B0?ok\r\n[Files]\r\n\u5347\u7EA7.DLL=5 cc\r\n",
               false)},
        {"utf16be manifest",
         Utf16(L"[Programs]\r\nPrograms=a.dll?\r\n[Kelvo]\r\nMainVer=3\r\nSubVer=4\r\n"
               L"UpdateInof=\u00E9t\u00E9\r\n",
               true)},
        {"utf16 mark only", Utf16(L"", false)},
        {"utf16be mark only", Utf16(L"", true)},
        {"utf16 odd length", Utf16(L"[s]\nk=ab\na=1", false) + "X"},
        {"utf16be odd length", Utf16(L"[s]\nk=ab\na=1\n", true) + "X"},
        {"utf16 mark and one byte", "\xFF\xFE\x00"s},
        {"utf16 surrogates", Utf16(L"[s]\nk=\U0001F600\na=a\xD800z\nb=\xDC00\xD800\n", false)},
        {"utf16 nul unit", Utf16(L"[s]\nk=a\0b\nj\0x=2\n"s, false)},
        {"utf16 unicode blanks",
         Utf16(L"[s]\n\u00A0k=1\nk=\u30001\u3000\n\u0085a=2\na=\u20283\u2028\n", false)},
        {"utf16 unicode letters",
         Utf16(L"[\u00C0]\nk=1\n[s]\n\u212A=2\nI=3\n\u0130=4\n\u00C5=5\nk=6\n", false)},
        {"long value", "[s]\nk=" + std::string(70000, 'x') + "\na=1\n"},
        {"megabyte value", "[Kelvo]\nUpdateInof=" + std::string(1 << 20, 'n') + "\nMainVer=5\n"},
    };
    std::string many = "[Programs]\nPrograms=";
    for (int i = 0; i < 3000; ++i) {
        many += "f" + std::to_string(i) + ".dll?";
    }
    many += "\n[Files]\n";
    for (int i = 0; i < 3000; ++i) {
        many += "F" + std::to_string(i) + ".DLL=" + std::to_string(i) + " x\n";
    }
    cases.push_back({"many files", many});
    return cases;
}

TEST(IniDifferential, HandWrittenFiles) {
    Differential differential;
    Tally tally;
    for (const HandCase& c : HandWrittenFiles()) {
        SCOPED_TRACE(c.name);
        differential.Compare(c.name, c.file, tally);
    }
    Report("hand-written files", differential.acp(), tally);
    EXPECT_EQ(tally.mismatches, 0u);
    EXPECT_GT(tally.found, 0u) << "Wine found nothing: the files were not read";
    EXPECT_GT(tally.files, 0u);
}

TEST(IniDifferential, CorpusFiles) {
    char folder[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableA("KELVO_INI_CORPUS", folder, sizeof folder);
    if (n == 0 || n >= sizeof folder) {
        GTEST_SKIP() << "KELVO_INI_CORPUS is not set";
    }
    // A Unix path as the shell gives it: Wine maps the root to drive Z:.
    std::string dir = folder;
    if (!dir.empty() && dir[0] == '/') {
        for (char& c : dir) {
            c = c == '/' ? '\\' : c;
        }
        dir = "Z:" + dir;
    }
    Differential differential;
    Tally tally;
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << dir;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            continue;
        }
        const std::string path = dir + "\\" + entry.cFileName;
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        std::string bytes(::GetFileSize(file, nullptr), '\0');
        DWORD read = 0;
        const bool ok =
            bytes.empty() ||
            (::ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
             read == bytes.size());
        ::CloseHandle(file);
        ASSERT_TRUE(ok) << path;
        differential.Compare(entry.cFileName, bytes, tally);
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    Report("corpus files", differential.acp(), tally);
    EXPECT_EQ(tally.mismatches, 0u);
    EXPECT_GT(tally.files, 0u) << "no file in " << dir;
}

}  // namespace
