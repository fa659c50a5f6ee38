#include "file_names.h"

#include <gtest/gtest.h>

namespace {

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
