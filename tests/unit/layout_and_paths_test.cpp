#include "app_paths.h"
#include "icon_layout.h"

#include <gtest/gtest.h>

namespace {

struct CentreCase {
    int client;
    int icon;
    int offset;
};

class CentredIconOffsetTest : public ::testing::TestWithParam<CentreCase> {};

// Compatibility pin: the original's truncating division; users see the icon where it always was.
TEST_P(CentredIconOffsetTest, TruncatesTowardZero) {
    const CentreCase& c = GetParam();
    EXPECT_EQ(tovane::CentredIconOffset(c.client, c.icon), c.offset)
        << "client " << c.client << ", icon " << c.icon;
}

INSTANTIATE_TEST_SUITE_P(Extents, CentredIconOffsetTest,
                         ::testing::Values(CentreCase{32, 32, 0},  // exactly as wide as the icon
                                           CentreCase{33, 32, 1},  // one pixel wider
                                           CentreCase{34, 32, 1}, CentreCase{35, 32, 2},
                                           CentreCase{31, 32, 0},  // one narrower: (0)/2
                                           CentreCase{30, 32,
                                                      0},  // two narrower: (-1)/2 is 0, not -1
                                           CentreCase{29, 32, -1},  // three narrower: (-2)/2
                                           CentreCase{0, 32, -15},  // empty client area: (-31)/2
                                           CentreCase{160, 32, 64}, CentreCase{161, 48, 57}));

// Compatibility pin: the original doubles a drive root's backslash; it still names the stored file.
TEST(AppPaths, ProgramFolderAndVersionFile) {
    struct {
        const char* currentDir;
        const char* folder;
        const char* versionFile;
    } cases[] = {
        {"C:\\Apps\\Kelvo", "C:\\Apps\\Kelvo\\", "C:\\Apps\\Kelvo\\Version.ini"},
        // A drive root already ends with a backslash; one more is added.
        {"C:\\", "C:\\\\", "C:\\\\Version.ini"},
        {"\\\\server\\share\\kelvo", "\\\\server\\share\\kelvo\\",
         "\\\\server\\share\\kelvo\\Version.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::ProgramFolderFromCurrentDir(c.currentDir), c.folder);
        EXPECT_EQ(tovane::LocalVersionFilePath(c.currentDir, "Version"), c.versionFile);
    }
}

}  // namespace
