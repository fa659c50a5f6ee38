// The in-memory INI reader against the answers GetPrivateProfileStringA gives
// under Wine for the same files, and the manifest read through it.
#include "ini_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using tovane::IniText;
using tovane::ManifestEncoding;

constexpr std::nullopt_t kDefault = std::nullopt;  // the call would give its default

struct ReadCase {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

std::string PrintValue(const std::optional<std::string>& value) {
    return value ? '"' + *value + '"' : std::string("(default)");
}

class ReadingRulesTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadingRulesTest, AnswersAsTheProfileCallDoes) {
    const ReadCase& c = GetParam();
    IniText ini = IniText::Parse(c.file);
    std::optional<std::string> value = ini.Value(c.section, c.key);
    EXPECT_EQ(value, c.expected) << "got " << PrintValue(value);
}

std::string CaseName(const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadingRulesTest,
    ::testing::Values(
        ReadCase{"CrLf", "[s]\r\na=1\r\nb=2\r\n", "s", "b", "2"},
        ReadCase{"LfOnly", "[s]\na=1\nb=2", "s", "b", "2"},
        ReadCase{"CrOnly", "a=1\rb=2\r[s]\rc=3\r\n", "s", "c", "3"},
        ReadCase{"CrOnlyBeforeAnySection", "a=1\rb=2\r[s]\rc=3\r\n", "", "b", "2"},
        ReadCase{"RunsOfLineEnds", "[s]\r\r\n\n\r\na=1\n\r", "s", "a", "1"},
        ReadCase{"EmptyFile", "", "", "", kDefault},
        ReadCase{"OnlyBlankLines", " \r\n\t\r\n", "", "", kDefault},
        ReadCase{"BlanksAroundNameAndValue", "[s]\n \t k \t = \t v  w \t\n", "s", "k", "v  w"},
        ReadCase{"VerticalTabFormFeedCtrlZAreBlanks", "[s]\n\x0B\x0C\x1Ak\x1A=\x1Av\x1A\x0C\n", "s",
                 "k", "v"},
        ReadCase{"CtrlZDoesNotEndTheFile", "[s]\na=1\x1A\nb=2\n", "s", "b", "2"},
        ReadCase{"BlankInsideNameKept", "[s]\na b=1\n", "s", "a b", "1"},
        ReadCase{"BlankInsideNameMustMatch", "[s]\na b=1\n", "s", "ab", kDefault},
        ReadCase{"SemicolonLineIsAKey", "[s]\n;x=1\n", "s", ";x", "1"},
        ReadCase{"HashLineIsAKey", "[s]\n#x=1\n", "s", "#x", "1"},
        ReadCase{"EqualsInValue", "[s]\na=b=c\n", "s", "a", "b=c"},
        ReadCase{"EqualsRightAfterEquals", "[s]\na= =b\n", "s", "a", "=b"},
        ReadCase{"EmptyValue", "[s]\na=\n", "s", "a", ""},
        ReadCase{"BlankValue", "[s]\na = \t\n", "s", "a", ""},
        ReadCase{"EmptyName", "[s]\n=v\n", "s", "", "v"},
        ReadCase{"EmptyNameFoundByBlanks", "[s]\n =v\n", "s", " \t", "v"},
        ReadCase{"LineWithoutEqualsAnswersNothing", "[s]\na\n", "s", "a", kDefault},
        ReadCase{"LineWithoutEqualsHidesALaterKey", "[s]\na\na=1\n", "s", "a", kDefault},
        ReadCase{"LongValue", "[s]\nk=" + std::string(70000, 'x') + "\n", "s", "k",
                 std::string(70000, 'x')}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Sections, ReadingRulesTest,
    ::testing::Values(
        ReadCase{"KeysBeforeAnySection", "k=0\n[s]\nk=1\n", "", "k", "0"},
        ReadCase{"KeysBeforeAnySectionByBlanks", "k=0\n[s]\nk=1\n", " \t", "k", "0"},
        ReadCase{"KeysOfTheNamedSection", "k=0\n[s]\nk=1\n", "s", "k", "1"},
        ReadCase{"LaterUnnamedSectionIsNeverRead", "[s]\nk=1\n[]\nk=2\n", "", "k", kDefault},
        ReadCase{"LaterBlankSectionIsNeverRead", "[s]\nk=1\n[ \t]\nk=2\n", "", "k", kDefault},
        ReadCase{"NameTrimmed", "[ a\t]\nk=1\n", "a", "k", "1"},
        ReadCase{"LastBracketCloses", "[b] junk ] x\nk=2\n", "b] junk", "k", "2"},
        ReadCase{"FirstBracketDoesNot", "[b] junk ] x\nk=2\n", "b", "k", kDefault},
        ReadCase{"TextAfterBracketIgnored", "[s] ;c=1\nk=2\n", "s", "k", "2"},
        ReadCase{"HeaderWithEqualsIsStillAHeader", "[a=b]\nk=1\n", "a=b", "k", "1"},
        ReadCase{"OpenWithoutCloseIsAKey", "[s]\n[c=1\n", "s", "[c", "1"},
        ReadCase{"OpenWithoutCloseStaysInSection", "[s]\n[c\nk=3\n", "s", "k", "3"},
        ReadCase{"CloseWithoutOpenIsAKey", "[s]\nc]=1\n", "s", "c]", "1"},
        ReadCase{"IndentedHeader", "  [s]\nk=1\n", "s", "k", "1"},
        ReadCase{"FirstSectionOfANameWins", "[s]\na=1\n[S]\nb=3\n", "S", "b", kDefault},
        ReadCase{"FirstSectionStillAnswers", "[s]\na=1\n[S]\nb=3\n", "s", "A", "1"},
        ReadCase{"FirstKeyWins", "[s]\na=1\nA=2\n", "s", "a", "1"},
        ReadCase{"AbsentSection", "[s]\na=1\n", "t", "a", kDefault},
        ReadCase{"AbsentKey", "[s]\na=1\n", "s", "b", kDefault},
        ReadCase{"KeyOfAnotherSection", "[s]\na=1\n[t]\nb=2\n", "s", "b", kDefault}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Queries, ReadingRulesTest,
    ::testing::Values(ReadCase{"CaseOfAsciiLetters", "[Kelvo]\nMainVer=3\n", "kELVO", "MAINVER",
                               "3"},
                      ReadCase{"QueryTrimmed", "[s]\na=1\n", "\t s \x1A", " a\x0B", "1"},
                      ReadCase{"QueryEndsAtNul", "[s]\na=1\n", "s\0x"s, "a\0zz"s, "1"},
                      ReadCase{"QueryInnerBlankKept", "[s]\na=1\n", "s", "a a", kDefault}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Quotes, ReadingRulesTest,
    ::testing::Values(ReadCase{"Double", "[s]\na=\"x\"\n", "s", "a", "x"},
                      ReadCase{"Single", "[s]\na='y'\n", "s", "a", "y"},
                      ReadCase{"OnlyOneDouble", "[s]\na=\"\n", "s", "a", "\""},
                      ReadCase{"OnlyOneSingle", "[s]\na='\n", "s", "a", "'"},
                      ReadCase{"EmptyBetweenQuotes", "[s]\na=\"\"\n", "s", "a", ""},
                      ReadCase{"Unmatched", "[s]\na=\"x'\n", "s", "a", "\"x'"},
                      ReadCase{"OnlyAtTheEnd", "[s]\na=x\"\n", "s", "a", "x\""},
                      ReadCase{"BlanksInsideKept", "[s]\na= \" x \" \n", "s", "a", " x "},
                      ReadCase{"QuoteInside", "[s]\na=\"a\"b\"\n", "s", "a", "a\"b"},
                      ReadCase{"OnlyTheOuterPair", "[s]\na=\"\"x\"\"\n", "s", "a", "\"x\""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Nul, ReadingRulesTest,
    ::testing::Values(ReadCase{"ValueEndsAtNul", "[s]\na=x\0y\n"s, "s", "a", "x"},
                      ReadCase{"NulFirstGivesEmpty", "[s]\na=\0y\n"s, "s", "a", ""},
                      ReadCase{"KeyNameEndsAtNul", "[s]\nb\0c=z\n"s, "s", "b", "z"},
                      ReadCase{"KeyNameStartingWithNulIsEmpty", "[s]\n\0e=5\n"s, "s", "", "5"},
                      ReadCase{"SectionNameEndsAtNul", "[t\0u]\nk=1\n"s, "t", "k", "1"},
                      ReadCase{"QuoteBeforeNulIsUnmatched", "[s]\nf=\"q\0\"\n"s, "s", "f", "\"q"},
                      ReadCase{"NulIsNoLineEnd", "[s]\na=1\0b=2\n"s, "s", "b", kDefault},
                      ReadCase{"NulIsNoBlank", "[s]\na=1 \0\n"s, "s", "a", "1 "}),
    CaseName);

// Without a byte-order mark: code page 936, where a lead byte 0x81-0xFE and
// the byte after it are one character.
INSTANTIATE_TEST_SUITE_P(
    Gbk, ReadingRulesTest,
    ::testing::Values(
        // "你好": the bytes as they stand.
        ReadCase{"ValueBytesAsTheyStand", "[s]\nk=\xC4\xE3\xBA\xC3\n", "s", "k",
                 "\xC4\xE3\xBA\xC3"},
        ReadCase{"NameOfGbkCharacters", "[\xB8\xFC\xD0\xC2]\n\xC4\xE3=1\n", "\xB8\xFC\xD0\xC2",
                 "\xC4\xE3", "1"},
        ReadCase{"LeadByteTakesTheEquals", "[s]\n\x81=x=1\n", "s", "\x81=x", "1"},
        ReadCase{"LeadByteTakesTheLineEnd", "[s]\na=\x81\nb=2\n", "s", "a", "\x81\nb=2"},
        ReadCase{"SoNoLineThere", "[s]\na=\x81\nb=2\n", "s", "b", kDefault},
        ReadCase{"LeadByteTakesTheBlank", "[s]\na=x\x81 \n", "s", "a", "x\x81 "},
        ReadCase{"LeadByteTakesTheBracket", "[a\x81]\nk=1\n", "", "k", "1"},
        ReadCase{"SoNoSectionThere", "[a\x81]\nk=1\n", "a\x81", "k", kDefault},
        ReadCase{"LeadByteTakesTheQuote", "[s]\na=\"x\x81\"\n", "s", "a", "\"x\x81\""},
        ReadCase{"LeadByteBeforeNulStandsAlone", "[s]\na=x\x81\0y\n"s, "s", "a", "x\x81"},
        ReadCase{"LeadByteAtTheEnd", "[s]\na=x\x81", "s", "a", "x\x81"},
        ReadCase{"SecondByteLetterKeepsItsCase",
                 "[s]\n\x81"
                 "A=1\n",
                 "s",
                 "\x81"
                 "a",
                 kDefault},
        ReadCase{"SecondByteLetterMatchesItself",
                 "[s]\n\x81"
                 "A=1\n",
                 "s",
                 "\x81"
                 "A",
                 "1"},
        ReadCase{"LetterAfterAPairFolds",
                 "[s]\n\x81"
                 "Ab=1\n",
                 "s",
                 "\x81"
                 "AB",
                 "1"},
        ReadCase{"QueryPairKeepsTrailingBlank", "[s]\n\x81 =1\n", "s", "\x81 ", "1"},
        ReadCase{"Byte80AndFFStandAlone", "[s]\n\xFF=\x80\n", "s", "\xFF", "\x80"}),
    CaseName);

std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : text) {
        const char high = static_cast<char>(u >> 8);
        const char low = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

struct UnicodeCase {
    const char* name;
    std::string file;
    std::string_view section;
    std::string_view key;
    std::optional<std::string_view> expected;
};

class UnicodeFilesTest : public ::testing::TestWithParam<UnicodeCase> {};

TEST_P(UnicodeFilesTest, ValuesComeBackAsUtf8) {
    const UnicodeCase& c = GetParam();
    IniText ini = IniText::Parse(c.file);
    EXPECT_EQ(ini.encoding(), ManifestEncoding::Utf8);
    std::optional<std::string> value = ini.Value(c.section, c.key);
    std::optional<std::string> expected;
    if (c.expected) {
        expected.emplace(*c.expected);
    }
    EXPECT_EQ(value, expected) << "got " << PrintValue(value);
}

// "[s]\r\nk=更新" in each form; U+1F600 as a surrogate pair.
INSTANTIATE_TEST_SUITE_P(
    Forms, UnicodeFilesTest,
    ::testing::Values(
        UnicodeCase{"Utf8", "\xEF\xBB\xBF[s]\r\nk=\xE6\x9B\xB4\xE6\x96\xB0\r\n", "s", "k",
                    "\xE6\x9B\xB4\xE6\x96\xB0"},
        UnicodeCase{"Utf16Le", Utf16(u"[s]\r\nk=\u66F4\u65B0\r\n", false), "s", "k",
                    "\xE6\x9B\xB4\xE6\x96\xB0"},
        UnicodeCase{"Utf16Be", Utf16(u"[s]\r\nk=\u66F4\u65B0\r\n", true), "s", "k",
                    "\xE6\x9B\xB4\xE6\x96\xB0"},
        UnicodeCase{"SurrogatePair", Utf16(u"[s]\nk=\U0001F600\n", false), "s", "k",
                    "\xF0\x9F\x98\x80"},
        UnicodeCase{"UnpairedHighSurrogate", Utf16(u"[s]\nk=a\xD800z\n", false), "s", "k",
                    "a\xEF\xBF\xBDz"},
        UnicodeCase{"UnpairedLowSurrogate", Utf16(u"[s]\nk=\xDC00\xD800\n", true), "s", "k",
                    "\xEF\xBF\xBD\xEF\xBF\xBD"},
        UnicodeCase{"OddTrailingByteDropped", Utf16(u"[s]\nk=ab", false) + "X", "s", "k", "ab"},
        UnicodeCase{"NulUnitEndsValue", Utf16(u"[s]\nk=a\0b"sv, false), "s", "k", "a"},
        UnicodeCase{"MarkOnly", Utf16(u"", false), "", "", kDefault},
        UnicodeCase{"SecondMarkIsNoBlank", "\xEF\xBB\xBF\xEF\xBB\xBF[s]\nk=1\n", "s", "k",
                    kDefault},
        UnicodeCase{"SoItsKeysHaveNoSection", "\xEF\xBB\xBF\xEF\xBB\xBF[s]\nk=1\n", "", "k", "1"},
        // No GBK pairs in Unicode text: the blank after a multi-byte
        // character is trimmed.
        UnicodeCase{"BlankAfterMultiByteTrimmed", "\xEF\xBB\xBF[s]\nk=\xE6\x9B\xB4 \n", "s", "k",
                    "\xE6\x9B\xB4"},
        // Wine 8.0 trims only ASCII blanks and folds only ASCII letters.
        UnicodeCase{"NoBreakSpaceIsNoBlank", Utf16(u"[s]\n\u00A0k=1\n", false), "s", "k", kDefault},
        UnicodeCase{"IdeographicSpaceIsNoBlank", Utf16(u"[s]\nk=\u30001\u3000\n", false), "s", "k",
                    "\xE3\x80\x80"
                    "1\xE3\x80\x80"},
        UnicodeCase{"NonAsciiLetterKeepsItsCase", Utf16(u"[\u00C0]\nk=1\n", false), "\xC3\xA0", "k",
                    kDefault},
        UnicodeCase{"NonAsciiLetterMatchesItself", Utf16(u"[\u00C0]\nk=1\n", false), "\xC3\x80",
                    "k", "1"},
        UnicodeCase{"KelvinSignIsNoK", Utf16(u"[s]\n\u212A=1\n", false), "s", "k", kDefault}),
    [](const ::testing::TestParamInfo<UnicodeCase>& info) { return std::string(info.param.name); });

// Refused UTF-8, one U+FFFD for the bytes MultiByteToWideChar takes with it.
INSTANTIATE_TEST_SUITE_P(
    RefusedUtf8, UnicodeFilesTest,
    ::testing::Values(
        UnicodeCase{"StrayContinuation", "\xEF\xBB\xBFk=a\x80z", "", "k", "a\xEF\xBF\xBDz"},
        UnicodeCase{"OverlongTwoBytes", "\xEF\xBB\xBFk=a\xC0\x80z", "", "k",
                    "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
        UnicodeCase{"LeadThenAscii", "\xEF\xBB\xBFk=a\xC2z", "", "k", "a\xEF\xBF\xBDz"},
        UnicodeCase{"OverlongThreeBytes", "\xEF\xBB\xBFk=a\xE0\x80\x80z", "", "k",
                    "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
        UnicodeCase{"Surrogate", "\xEF\xBB\xBFk=a\xED\xA0\x80z", "", "k",
                    "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
        UnicodeCase{"PastU10FFFF", "\xEF\xBB\xBFk=a\xF4\x90\x80\x80z", "", "k",
                    "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        UnicodeCase{"LeadF5", "\xEF\xBB\xBFk=a\xF5\x80z", "", "k", "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
        UnicodeCase{"BrokenByAscii", "\xEF\xBB\xBFk=a\xE2(\xA1z", "", "k",
                    "a\xEF\xBF\xBD(\xEF\xBF\xBDz"},
        UnicodeCase{"ThreeOfFourThenAscii", "\xEF\xBB\xBFk=a\xF0\x90\x80z", "", "k",
                    "a\xEF\xBF\xBDz"},
        // Cut off by the end of the file: the rest goes with it.
        UnicodeCase{"CutByTheEnd", "\xEF\xBB\xBFk=a\xF0\x90z", "", "k", "a\xEF\xBF\xBD"},
        UnicodeCase{"CutByTheEndTakesTheLineEnd", "\xEF\xBB\xBFk=a\xE2\n", "", "k",
                    "a\xEF\xBF\xBD"},
        UnicodeCase{"LineEndAfterALeadStays", "\xEF\xBB\xBFk=a\xE2\nj=1\n", "", "j", "1"},
        UnicodeCase{"NoncharacterKept", "\xEF\xBB\xBFk=\xEF\xBF\xBF", "", "k", "\xEF\xBF\xBF"},
        UnicodeCase{"LargestCodePoint", "\xEF\xBB\xBFk=\xF4\x8F\xBF\xBF", "", "k",
                    "\xF4\x8F\xBF\xBF"}),
    [](const ::testing::TestParamInfo<UnicodeCase>& info) { return std::string(info.param.name); });

TEST(IniTextEncoding, DecidedByTheMarkAlone) {
    EXPECT_EQ(IniText::Parse("[s]\nk=1").encoding(), ManifestEncoding::Gbk);
    EXPECT_EQ(IniText::Parse("").encoding(), ManifestEncoding::Gbk);
    EXPECT_EQ(IniText::Parse("\xEF\xBB\xBF").encoding(), ManifestEncoding::Utf8);
    EXPECT_EQ(IniText::Parse("\xFF\xFE").encoding(), ManifestEncoding::Utf8);
    EXPECT_EQ(IniText::Parse("\xFE\xFF").encoding(), ManifestEncoding::Utf8);
    // UTF-8 bytes without the mark are GBK: E6 9B is one pair, B4 E6 the next.
    EXPECT_EQ(IniText::Parse("k=\xE6\x9B\xB4\xE6\x96\xB0").Value("", "k"),
              "\xE6\x9B\xB4\xE6\x96\xB0");
}

TEST(IniTextValues, EachAnswerIsTheOneValueGives) {
    const std::string file =
        "[Files]\n"
        "a.dll=1 aa\n"
        "B.exe = 2 bb \n"
        "nokey\n"
        "a.dll=shadowed\n"
        "nokey=shadowed\n"
        "\"q\"='3 q'\n"
        "[files]\n"
        "late=never\n";
    const std::vector<std::string> keys = {"a.dll", "b.EXE", " a.dll\t", "nokey", "late",
                                           "",      "\"q\"", "missing",  "A.DLL", "a.dll"};
    IniText ini = IniText::Parse(file);
    std::vector<std::optional<std::string>> values = ini.Values("FILES", keys);
    ASSERT_EQ(values.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(values[i], ini.Value("FILES", keys[i])) << '"' << keys[i] << '"';
    }
    // And what those answers are.
    EXPECT_EQ(values[0], "1 aa");
    EXPECT_EQ(values[1], "2 bb");
    EXPECT_EQ(values[2], "1 aa");
    EXPECT_EQ(values[3], kDefault);
    EXPECT_EQ(values[4], kDefault);
    EXPECT_EQ(values[6], "3 q");
    EXPECT_EQ(values[7], kDefault);
    EXPECT_TRUE(ini.Values("Files", {}).empty());
    EXPECT_EQ(ini.Values("nosuch", {"a.dll"}), std::vector<std::optional<std::string>>{kDefault});
}

// A manifest in the form the server publishes; names and values GBK.
const char kGbkManifest[] =
    "[Programs]\r\n"
    "Programs=Kelvo.exe?\xC9\xFD\xBC\xB6.dll?Qorinhid.dll?\r\n"
    "[Kelvo]\r\n"
    "MainVer=2\r\n"
    "SubVer=15\r\n"
    "UpdateInof=\xB8\xFC\xD0\xC2?- \xC6\xF4\xB6\xAF\xB8\xFC\xBF\xEC\r\n"
    "[Files]\r\n"
    "kelvo.EXE=10 aaaa\r\n"
    "\xC9\xFD\xBC\xB6.dll = 20 bbbb\r\n";

TEST(ParseManifest, ReadsEveryPart) {
    tovane::Manifest m;
    ASSERT_EQ(tovane::ParseManifest(kGbkManifest, &m), tovane::ManifestParse::kOk);
    EXPECT_EQ(m.encoding, ManifestEncoding::Gbk);
    EXPECT_EQ(m.files,
              (std::vector<std::string>{"Kelvo.exe", "\xC9\xFD\xBC\xB6.dll", "Qorinhid.dll", ""}));
    EXPECT_EQ(m.offered.main, 2u);
    EXPECT_EQ(m.offered.sub, 15u);
    EXPECT_EQ(m.notes, "\xB8\xFC\xD0\xC2?- \xC6\xF4\xB6\xAF\xB8\xFC\xBF\xEC");
    ASSERT_NE(m.FilesValue("Kelvo.exe"), nullptr) << "found whatever the case of the key";
    EXPECT_EQ(*m.FilesValue("Kelvo.exe"), "10 aaaa");
    ASSERT_NE(m.FilesValue("\xC9\xFD\xBC\xB6.dll"), nullptr);
    EXPECT_EQ(*m.FilesValue("\xC9\xFD\xBC\xB6.dll"), "20 bbbb");
    EXPECT_EQ(m.FilesValue("Qorinhid.dll"), nullptr);
    EXPECT_EQ(m.FilesValue(""), nullptr) << "the empty entry is never looked up";
    EXPECT_EQ(m.filesValues.size(), 2u);
}

// What the file checks are handed: a value present but empty, or too long
// for any valid entry, comes through whole, for ParseFilesValue to refuse
// (never cut to a buffer, as a profile call would cut it); a key in another
// section is no [Files] value.
TEST(ParseManifest, FilesValuesComeAsTheyStandForTheCheckToJudge) {
    const std::string longValue(300, '7');
    tovane::Manifest m;
    ASSERT_EQ(tovane::ParseManifest("[Programs]\r\nPrograms=Kelvo.exe?Kelvo.dll?Kelvo.dat?"
                                    "Missing.bin?Long.bin?\r\n"
                                    "[Kelvo]\r\nKelvo.dat=1 x\r\n"
                                    "[Files]\r\nKelvo.exe=6 abc\r\nKelvo.dll=\r\nLong.bin=" +
                                        longValue + "\r\n",
                                    &m),
              tovane::ManifestParse::kOk);
    struct {
        const char* name;
        const char* value;  // nullptr: no [Files] value
    } const cases[] = {
        {"Kelvo.exe", "6 abc"},          {"Kelvo.dll", ""},
        {"Kelvo.dat", nullptr},          {"Missing.bin", nullptr},
        {"Long.bin", longValue.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string* value = m.FilesValue(c.name);
        if (c.value == nullptr) {
            EXPECT_EQ(value, nullptr);
            continue;
        }
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(*value, c.value);
    }
}

TEST(ParseManifest, AbsentPartsGiveTheDefaults) {
    struct {
        const char* name;
        std::string file;
    } const cases[] = {
        {"empty file", ""},
        {"other sections only", "[Other]\nPrograms=a.dll\nMainVer=3\n"},
        {"keys without values", "[Programs]\nPrograms\n[Kelvo]\nMainVer\nSubVer\nUpdateInof\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tovane::Manifest m;
        m.notes = "stale";
        ASSERT_EQ(tovane::ParseManifest(c.file, &m), tovane::ManifestParse::kOk);
        EXPECT_EQ(m.files, std::vector<std::string>{""});
        EXPECT_EQ(m.offered.main, 0u);
        EXPECT_EQ(m.offered.sub, 0u);
        EXPECT_EQ(m.notes, "");
        EXPECT_TRUE(m.filesValues.empty());
        EXPECT_TRUE(m.compressed.empty());
    }
}

TEST(ParseManifest, VersionsReadLikeStrtoul) {
    struct {
        const char* value;
        std::uint32_t expected;
    } const cases[] = {
        {"7", 7},
        {"'7'", 7},
        {"\"8\"", 8},
        {"12abc", 12},
        {"abc", 0},
        {"-1", 0xFFFFFFFFu},
        {"99999999999", 0xFFFFFFFFu},
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        tovane::Manifest m;
        ASSERT_EQ(
            tovane::ParseManifest(
                std::string("[Kelvo]\nMainVer=") + c.value + "\nSubVer= " + c.value + " \n", &m),
            tovane::ManifestParse::kOk);
        EXPECT_EQ(m.offered.main, c.expected);
        EXPECT_EQ(m.offered.sub, c.expected);
    }
}

TEST(ParseManifest, UnicodeManifestGivesUtf8) {
    const std::string file = Utf16(
        u"[Programs]\r\nPrograms=\u5347\u7EA7.dll?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=2\r\n"
        u"UpdateInof=\u66F4\u65B0?ok\r\n[Files]\r\n\u5347\u7EA7.DLL=5 cc\r\n",
        false);
    tovane::Manifest m;
    ASSERT_EQ(tovane::ParseManifest(file, &m), tovane::ManifestParse::kOk);
    EXPECT_EQ(m.encoding, ManifestEncoding::Utf8);
    EXPECT_EQ(m.files, (std::vector<std::string>{"\xE5\x8D\x87\xE7\xBA\xA7.dll", ""}));
    EXPECT_EQ(m.offered.main, 1u);
    EXPECT_EQ(m.offered.sub, 2u);
    EXPECT_EQ(m.notes, "\xE6\x9B\xB4\xE6\x96\xB0?ok");
    ASSERT_NE(m.FilesValue("\xE5\x8D\x87\xE7\xBA\xA7.dll"), nullptr);
    EXPECT_EQ(*m.FilesValue("\xE5\x8D\x87\xE7\xBA\xA7.dll"), "5 cc");
}

TEST(ParseManifest, FilesLookupFollowsTheReadingRules) {
    const char file[] =
        "[Programs]\n"
        "Programs=b.dll? a.dll ?c.dll?d.dll?a.dll\n"
        "[Files]\n"
        "A.DLL=1 a\n"
        "b.dll\n"
        "b.dll=shadowed\n"
        "c.dll=\"3 c\"\n"
        "[Files]\n"
        "d.dll=never read\n";
    tovane::Manifest m;
    ASSERT_EQ(tovane::ParseManifest(file, &m), tovane::ManifestParse::kOk);
    EXPECT_EQ(m.files, (std::vector<std::string>{"b.dll", " a.dll ", "c.dll", "d.dll", "a.dll"}));
    ASSERT_NE(m.FilesValue(" a.dll "), nullptr) << "the name is trimmed like a query";
    EXPECT_EQ(*m.FilesValue(" a.dll "), "1 a");
    ASSERT_NE(m.FilesValue("a.dll"), nullptr);
    EXPECT_EQ(*m.FilesValue("a.dll"), "1 a");
    EXPECT_EQ(m.FilesValue("b.dll"), nullptr) << "its first line has no '='";
    ASSERT_NE(m.FilesValue("c.dll"), nullptr);
    EXPECT_EQ(*m.FilesValue("c.dll"), "3 c");
    EXPECT_EQ(m.FilesValue("d.dll"), nullptr) << "a second [Files] is never read";
}

TEST(ParseGzipValue, OneSpellingOnly) {
    struct {
        const char* text;
        bool ok;
        std::uint64_t size;
    } const cases[] = {
        {"gzip 1234", true, 1234},
        {"gzip 0", true, 0},
        {"gzip 20", true, 20},
        {"gzip 18446744073709551615", true, UINT64_MAX},
        {"gzip 18446744073709551616", false, 0},
        {"gzip 99999999999999999999999", false, 0},
        {"gzip 01234", false, 0},
        {"gzip 00", false, 0},
        {"gzip", false, 0},
        {"gzip ", false, 0},
        {"gzip  1234", false, 0},
        {"gzip\t1234", false, 0},
        {"gzip 1234 ", false, 0},
        {"gzip 1234x", false, 0},
        {"gzip +1234", false, 0},
        {"gzip -1", false, 0},
        {"gzip 1 2", false, 0},
        {"GZIP 1234", false, 0},
        {"Gzip 1234", false, 0},
        {"gzip1234", false, 0},
        {" gzip 1234", false, 0},
        {"zstd 1234", false, 0},
        {"br 1234", false, 0},
        {"1234", false, 0},
        {"gzip 1234 sha256", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t size = 777;
        EXPECT_EQ(tovane::ParseGzipValue(c.text, &size), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(size, c.ok ? c.size : 777u) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(tovane::FormatGzipValue(c.size), c.text);
        }
    }
}

// [Compressed] counts for listed names with a [Files] value only, is read
// like [Files], and a value of another form leaves the file uncompressed
// without touching anything else.
TEST(ParseManifest, CompressedSizes) {
    const std::string head =
        "[Programs]\r\nPrograms=Kelvo.dat?Kelvo.exe?Extra.dll?\r\n"
        "[Kelvo]\r\nMainVer=1\r\nSubVer=2\r\n"
        "[Files]\r\nKelvo.dat=1000 aa\r\nKelvo.exe=2000 bb\r\n";
    using Sizes = std::map<std::string, std::uint64_t>;
    struct {
        const char* name;
        std::string tail;  // after [Files]
        Sizes compressed;
    } const cases[] = {
        {"none", "", {}},
        {"one", "[Compressed]\r\nKelvo.dat=gzip 300\r\n", {{"Kelvo.dat", 300}}},
        {"both, the key's case and blanks as in [Files]",
         "[Compressed]\r\nKELVO.DAT = gzip 300\r\nkelvo.exe=gzip 1500\r\n",
         {{"Kelvo.dat", 300}, {"Kelvo.exe", 1500}}},
        {"after [Release]",
         "[Release]\r\nRollout=25\r\n[Compressed]\r\nKelvo.exe=gzip 1500\r\n",
         {{"Kelvo.exe", 1500}}},
        {"quoted like any profile value",
         "[Compressed]\r\nKelvo.dat=\"gzip 300\"\r\n",
         {{"Kelvo.dat", 300}}},
        {"listed without a [Files] value", "[Compressed]\r\nExtra.dll=gzip 10\r\n", {}},
        {"not listed",
         "[Compressed]\r\nOther.dll=gzip 10\r\nKelvo.dat=gzip 5\r\n",
         {{"Kelvo.dat", 5}}},
        {"unknown method",
         "[Compressed]\r\nKelvo.dat=zstd 300\r\nKelvo.exe=gzip 7\r\n",
         {{"Kelvo.exe", 7}}},
        {"a newer form of the value", "[Compressed]\r\nKelvo.dat=gzip 300 crc=1\r\n", {}},
        {"leading zero", "[Compressed]\r\nKelvo.dat=gzip 0300\r\n", {}},
        {"past 64 bits", "[Compressed]\r\nKelvo.dat=gzip 18446744073709551616\r\n", {}},
        {"no value", "[Compressed]\r\nKelvo.dat\r\n", {}},
        {"first key wins",
         "[Compressed]\r\nKelvo.dat=gzip 1\r\nKelvo.dat=gzip 2\r\nKelvo.exe=x\r\n"
         "Kelvo.exe=gzip 3\r\n",
         {{"Kelvo.dat", 1}}},
        {"a second section is never read",
         "[Compressed]\r\nKelvo.dat=gzip 1\r\n[Compressed]\r\nKelvo.exe=gzip 3\r\n",
         {{"Kelvo.dat", 1}}},
    };
    tovane::Manifest plain;
    ASSERT_EQ(tovane::ParseManifest(head, &plain), tovane::ManifestParse::kOk);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tovane::Manifest m;
        ASSERT_EQ(tovane::ParseManifest(head + c.tail, &m), tovane::ManifestParse::kOk);
        EXPECT_EQ(m.compressed, c.compressed);
        // Nothing else reads differently.
        EXPECT_EQ(m.files, plain.files);
        EXPECT_EQ(m.filesValues, plain.filesValues);
        EXPECT_EQ(m.offered.main, plain.offered.main);
        EXPECT_EQ(m.offered.sub, plain.offered.sub);
    }
}

TEST(ParseManifest, SizeLimit) {
    std::string file = "[Kelvo]\nMainVer=4\n";
    file.resize(tovane::limits::kManifestBytes, ' ');
    tovane::Manifest m;
    ASSERT_EQ(tovane::ParseManifest(file, &m), tovane::ManifestParse::kOk);
    EXPECT_EQ(m.offered.main, 4u);

    file += ' ';
    tovane::Manifest untouched;
    untouched.notes = "as it was";
    EXPECT_EQ(tovane::ParseManifest(file, &untouched), tovane::ManifestParse::kTooLarge);
    EXPECT_EQ(untouched.notes, "as it was");
    EXPECT_TRUE(untouched.files.empty());
}

}  // namespace
