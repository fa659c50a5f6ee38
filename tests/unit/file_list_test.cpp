#include "file_list.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* value;
    std::vector<std::string> entries;
};

class SplitFileListTest : public ::testing::TestWithParam<SplitCase> {};

// Compatibility pin: the original's split keeps empty entries; servers' lists all end with '?'.
TEST_P(SplitFileListTest, OneEntryMoreThanQuestionMarksEmptyOnesKept) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(tovane::SplitFileList(c.value), c.entries) << "value: \"" << c.value << '"';
}

INSTANTIATE_TEST_SUITE_P(ManifestValues, SplitFileListTest,
                         ::testing::Values(SplitCase{"a.dll?b.exe?", {"a.dll", "b.exe", ""}},
                                           SplitCase{"a.dll?b.exe", {"a.dll", "b.exe"}},
                                           SplitCase{"", {""}},
                                           SplitCase{"?a.dll?", {"", "a.dll", ""}},
                                           SplitCase{"a.dll??b.exe?", {"a.dll", "", "b.exe", ""}},
                                           SplitCase{"?", {"", ""}}, SplitCase{"??", {"", "", ""}},
                                           // Blanks are part of the name; nothing is trimmed.
                                           SplitCase{" a.dll ? b.exe?", {" a.dll ", " b.exe", ""}},
                                           SplitCase{"only.exe", {"only.exe"}}));

// Compatibility pin: one entry more than '?' marks, as the original; its last-entry skip needs it.
TEST(SplitFileList, EntryCountFollowsQuestionMarksForLongValues) {
    std::string value;
    for (int i = 0; i < 1000; ++i) {
        value += "f" + std::to_string(i) + ".dll?";
    }
    auto entries = tovane::SplitFileList(value);
    ASSERT_EQ(entries.size(), 1001u);
    EXPECT_EQ(entries.front(), "f0.dll");
    EXPECT_EQ(entries[999], "f999.dll");
    EXPECT_EQ(entries.back(), "");
}

}  // namespace
