#include "file_names.h"

#include <gtest/gtest.h>

#include <string_view>

#include "text_compare.h"

namespace {

TEST(EqualsIgnoreCase, FoldsAsciiLettersOnly) {
    struct {
        std::string_view a;
        std::string_view b;
        bool equal;
    } cases[] = {
        {"", "", true},
        {"Version.txt", "VERSION.TXT", true},
        {"kelvo.EXE", "Kelvo.exe", true},
        {"AZ", "az", true},
        {"a", "b", false},
        {"a.dll", "a.dl", false},
        {"", "a", false},
        {"@", "`", false},  // one bit apart, as 'A' and 'a' are, but not letters
        {"[", "{", false},
        {"^", "~", false},
        {"\xC9", "\xC9", true},
        {"\xC9", "\xE9", false},  // Latin-1 É and é: above ASCII, left as they are
        {std::string_view("a\0b", 3), std::string_view("A\0B", 3), true},
        {std::string_view("a\0", 2), "a", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::EqualsIgnoreCase(c.a, c.b), c.equal)
            << '"' << c.a << "\" \"" << c.b << '"';
        EXPECT_EQ(tovane::EqualsIgnoreCase(c.b, c.a), c.equal)
            << '"' << c.b << "\" \"" << c.a << '"';
    }
}

TEST(IsPlainFileName, AcceptsBareNames) {
    for (const char* name :
         {"a.dll", "Kelvo.exe", "Qorinhid.dll", "read me.txt", ".hidden", "x", "console.cfg",
          "COM10.dat", "LPT.txt", "nul_device.txt", "\xC9\xFD\xBC\xB6.dll" /* GBK "升级" */}) {
        EXPECT_TRUE(tovane::IsPlainFileName(name)) << name;
    }
}

TEST(IsPlainFileName, RefusesAnythingThatLeavesTheFolder) {
    for (const char* name : {"",
                             ".",
                             "..",
                             "..\\a.dll",
                             "../a.dll",
                             "sub\\a.dll",
                             "sub/a.dll",
                             "C:a.dll",
                             "C:\\a.dll",
                             "\\\\server\\share\\a.dll",
                             "a.dll:stream",
                             "a.dll::$DATA",
                             "a<b",
                             "a>b",
                             "a|b",
                             "a\"b",
                             "a*b",
                             "a?b",
                             "a.dll.",
                             "a.dll ",
                             "tab\there",
                             "CON",
                             "con",
                             "con.fig",
                             "NUL.txt",
                             "nul .txt",
                             "PRN",
                             "AUX.dll",
                             "COM1",
                             "com9.log",
                             "LPT1",
                             "lpt0.x",
                             "CONIN$",
                             "conout$.txt",
                             "CLOCK$",
                             "cOnIn$",
                             "Com1",
                             "lPt9.x",
                             "Clock$.txt"}) {
        EXPECT_FALSE(tovane::IsPlainFileName(name)) << '"' << name << '"';
    }
}

TEST(FindUnsafeName, EmptyEntriesAreLeftToTheSplitRule) {
    EXPECT_EQ(tovane::FindUnsafeName({"a.dll", "b.exe", ""}), nullptr);
    EXPECT_EQ(tovane::FindUnsafeName({""}), nullptr);
    EXPECT_EQ(tovane::FindUnsafeName({"", "a.dll", "", ""}), nullptr);
    std::vector<std::string> list = {"a.dll", "..\\evil.dll", "NUL", ""};
    const std::string* bad = tovane::FindUnsafeName(list);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(*bad, "..\\evil.dll") << "the first unsafe name is reported";
}

}  // namespace
