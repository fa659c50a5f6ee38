#include "manifest_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "file_list.h"
#include "manifest_text.h"

namespace {

using namespace kelvo::publish;

TEST(ParseReleaseVersion, TwoDecimalNumbers) {
    std::uint32_t m = 0, s = 0;
    ASSERT_TRUE(ParseReleaseVersion("1.1", m, s));
    EXPECT_EQ(m, 1u);
    EXPECT_EQ(s, 1u);
    ASSERT_TRUE(ParseReleaseVersion("4294967295.0", m, s));
    EXPECT_EQ(m, 4294967295u);
    EXPECT_EQ(s, 0u);
    ASSERT_TRUE(ParseReleaseVersion("0.4294967295", m, s));
    EXPECT_EQ(m, 0u);
    EXPECT_EQ(s, 4294967295u);
    for (const char* bad : {"",
                            "1",
                            "1.",
                            ".1",
                            "1.1.1",
                            "01.1",
                            "1.x",
                            "-1.1",
                            "1 .1",
                            "4294967296.1",
                            " 1.1",
                            "1.01",
                            "1.00",
                            "+1.1",
                            "1.+1",
                            "1.1 ",
                            "1.4294967296",
                            "99999999999.1",
                            "99999999999999999999999.1",
                            "00.0"}) {
        EXPECT_FALSE(ParseReleaseVersion(bad, m, s)) << '"' << bad << '"';
    }
}

TEST(NotesToValue, LineBreaksBecomeQuestionMarks) {
    struct {
        std::string notes;
        std::string value;
    } cases[] = {
        {"Kelvo 1.1\n- faster start-up\n", "Kelvo 1.1?- faster start-up"},
        {"a\r\nb\rc\n\nd", "a?b?c??d"},
        {"\xC9\xFD\xBC\xB6\r\n", "\xC9\xFD\xBC\xB6"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string value, why;
        ASSERT_TRUE(NotesToValue(c.notes, value, why)) << c.notes;
        EXPECT_EQ(value, c.value);
        // The updater shows them with its own rule: same lines back.
        EXPECT_EQ(tovane::NotesForDisplay(value).find('\n') == std::string::npos,
                  value.find('?') == std::string::npos);
    }
    std::string value, why;
    EXPECT_TRUE(NotesToValue(std::string(tovane::kManifestValueCapacity - 1, 'x'), value, why));
    EXPECT_FALSE(NotesToValue(std::string(tovane::kManifestValueCapacity, 'x'), value, why));
    EXPECT_FALSE(NotesToValue(std::string("a\0b", 3), value, why));
}

TEST(CheckNames, TheUpdatersRuleAndOneKeyPerFile) {
    EXPECT_EQ(CheckNames({"Kelvo.dat", "Kelvo.exe"}), "");
    for (const std::vector<std::string>& distinct :
         {std::vector<std::string>{"\xC9.dll", "\xE9.dll"},  // ASCII letters fold only
          {"Version.txt.bak"},
          {"Version.tx"},
          {"a.dll", "a.dl"}}) {
        EXPECT_EQ(CheckNames(distinct), "") << distinct[0];
    }
    struct {
        std::vector<std::string> names;
        const char* why;
    } cases[] = {
        {{}, "no files"},
        {{"NUL"}, "plain file name"},
        {{"a.dll", "..\\b.dll"}, "plain file name"},
        {{"a.dll."}, "plain file name"},
        {{"a=b.dll"}, "[Files]"},
        {{" a.dll"}, "[Files]"},
        {{";a.dll"}, "[Files]"},
        {{"[a.dll"}, "[Files]"},
        {{"Version.txt"}, "manifest"},
        {{"version.TXT.sig"}, "manifest"},
        {{"Kelvo.exe", "kelvo.EXE"}, "twice"},
        {{"a.dll", "b.dll", "B.DLL"}, "twice"},
        {{"VERSION.TXT"}, "manifest"},
    };
    for (const auto& c : cases) {
        std::string why = CheckNames(c.names);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

// Compatibility pin: the original's key UpdateInof and final '?', which deployed updaters read.
TEST(BuildManifest, WhatTheUpdaterReads) {
    tovane::trust::FilesEntry a{5, {}}, b{6, {}};
    a.sha256.fill(0xAB);
    b.sha256[31] = 1;
    std::string abab;
    for (int i = 0; i < 32; ++i) abab += "ab";
    std::string text = BuildManifest({{"Kelvo.dat", a}, {"Kelvo.exe", b}}, 1, 2, "x?y");
    EXPECT_EQ(text,
              "[Programs]\r\nPrograms=Kelvo.dat?Kelvo.exe?\r\n"
              "[Kelvo]\r\nMainVer=1\r\nSubVer=2\r\nUpdateInof=x?y\r\n"
              "[Files]\r\nKelvo.dat=5 " +
                  abab + "\r\nKelvo.exe=6 " + std::string(62, '0') + "01\r\n");
    EXPECT_EQ(tovane::SplitFileList("Kelvo.dat?Kelvo.exe?"),
              (std::vector<std::string>{"Kelvo.dat", "Kelvo.exe", ""}));
}

}  // namespace
