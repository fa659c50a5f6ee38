#include "text_encoding.h"

#include <gtest/gtest.h>

#include "manifest_text.h"

namespace {

using tovane::ManifestEncoding;

struct ClassifyCase {
    const char* name;
    std::string_view file;
    ManifestEncoding encoding;
    std::string_view body;
};

class ClassifyManifestTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyManifestTest, DecidesByTheByteOrderMarkAndStripsIt) {
    const ClassifyCase& c = GetParam();
    tovane::ManifestBytes result = tovane::ClassifyManifest(c.file);
    EXPECT_EQ(result.encoding, c.encoding);
    EXPECT_EQ(result.body, c.body);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Files, ClassifyManifestTest,
    ::testing::Values(
        ClassifyCase{"PlainGbk", "[Programs]\r\nUpdateInof=\xC4\xE3\xBA\xC3", ManifestEncoding::Gbk,
                     "[Programs]\r\nUpdateInof=\xC4\xE3\xBA\xC3"},
        ClassifyCase{"Empty", "", ManifestEncoding::Gbk, ""},
        ClassifyCase{"Utf8Bom", "\xEF\xBB\xBF[Programs]\r\n", ManifestEncoding::Utf8,
                     "[Programs]\r\n"},
        ClassifyCase{"Utf8BomOnly", "\xEF\xBB\xBF", ManifestEncoding::Utf8, ""},
        // Cut short, or the same bytes not at the start: no mark, GBK as ever.
        ClassifyCase{"TwoBytesOfTheUtf8Bom", "\xEF\xBB", ManifestEncoding::Gbk, "\xEF\xBB"},
        ClassifyCase{"Utf8BomNotAtTheStart", " \xEF\xBB\xBF[Programs]", ManifestEncoding::Gbk,
                     " \xEF\xBB\xBF[Programs]"},
        // A GBK text whose first character starts like the mark: 0xEF 0xBB is
        // a GBK character, 0xBF a lead byte of the next.
        ClassifyCase{"GbkStartingWithEfBb", "\xEF\xBB\xC4\xE3", ManifestEncoding::Gbk,
                     "\xEF\xBB\xC4\xE3"},
        ClassifyCase{"Utf16LeBom", "\xFF\xFE[\0P\0"sv, ManifestEncoding::Utf16Le, "[\0P\0"sv},
        ClassifyCase{"Utf16BeBom", "\xFE\xFF\0["sv, ManifestEncoding::Utf16Be, "\0["sv},
        // One byte of a UTF-16 mark is no mark.
        ClassifyCase{"HalfAUtf16Bom", "\xFE"sv, ManifestEncoding::Gbk, "\xFE"sv}),
    [](const ::testing::TestParamInfo<ClassifyCase>& info) {
        return std::string(info.param.name);
    });

TEST(NotesForDisplay, GbkAndUtf8CharactersKeepTheirBytes) {
    // "更新?完成" in GBK and in UTF-8: only the ASCII '?' is a line break.
    EXPECT_EQ(tovane::NotesForDisplay("\xB8\xFC\xD0\xC2?\xCD\xEA\xB3\xC9"),
              "\xB8\xFC\xD0\xC2\r\n\xCD\xEA\xB3\xC9");
    EXPECT_EQ(tovane::NotesForDisplay("\xE6\x9B\xB4\xE6\x96\xB0?\xE5\xAE\x8C"),
              "\xE6\x9B\xB4\xE6\x96\xB0\r\n\xE5\xAE\x8C");
}

TEST(NotesForDisplay, WideNotesBreakTheSameWay) {
    EXPECT_EQ(tovane::NotesForDisplay(std::wstring_view(L"\u66F4\u65B0?\u5B8C\u6210??")),
              L"\u66F4\u65B0\r\n\u5B8C\u6210\r\n\r\n");
    EXPECT_EQ(tovane::NotesForDisplay(std::wstring_view(L"")), L"");
    // U+FF1F, the full-width question mark, is text, not a break.
    EXPECT_EQ(tovane::NotesForDisplay(std::wstring_view(L"a\uFF1Fb")), L"a\uFF1Fb");
}

}  // namespace
