#include "install_plan.h"

#include <gtest/gtest.h>

namespace {

// Compatibility pin: the original's scan never reads character 0; updates land where it put them.
TEST(InstallTargetFolder, BackslashScanThatNeverExaminesTheFirstCharacter) {
    const std::string program = "C:\\Program\\";
    struct {
        const char* productPath;
        const char* folder;
    } cases[] = {
        {"D:\\Apps\\Prod\\main.exe", "D:\\Apps\\Prod\\"},
        {"C:\\main.exe", "C:\\"},
        {"main.exe", ""},          // no backslash: bare names, relative to the current directory
        {"\\main.exe", ""},        // the only backslash is the first character
        {"\\\\main.exe", "\\\\"},  // the second character is examined
        {"x\\", "x\\"},            // a trailing backslash is the folder itself
        {"a", ""},                 // one character: nothing is examined
        {"", "C:\\Program\\"},     // product not found: the program folder
        {"\\\\srv\\share\\k.exe", "\\\\srv\\share\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::InstallTargetFolder(c.productPath, program), c.folder)
            << "product path \"" << c.productPath << '"';
    }
}

// Compatibility pin: the original never installs the last entry; servers' lists end in '?' for it.
TEST(InstalledEntryCount, EveryEntryButTheLast) {
    EXPECT_EQ(tovane::InstalledEntryCount(0), 0);
    EXPECT_EQ(tovane::InstalledEntryCount(1), 0);  // the single empty entry of a missing list
    EXPECT_EQ(tovane::InstalledEntryCount(3), 2);  // a.dll, b.exe, (empty)
}

}  // namespace
