#include "command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, QuietOrNothingAndEverythingElseRefused) {
    struct {
        std::vector<std::string> arguments;
        bool valid;
        bool quiet;
        const char* refused;
    } cases[] = {
        {{}, true, false, ""},
        {{"/quiet"}, true, true, ""},
        {{"/QUIET"}, true, true, ""},
        {{"-Quiet"}, true, true, ""},
        {{"/quiet", "/quiet"}, false, true, "/quiet"},  // said twice: a script gone wrong
        {{"/q"}, false, false, "/q"},
        {{"quiet"}, false, false, "quiet"},
        {{"/quiet", "x"}, false, true, "x"},
        {{"x", "/quiet"}, false, false, "x"},
        {{""}, false, false, ""},  // an empty argument ("") is an argument too
        {{"/quiet "}, false, false, "/quiet "},
        {{"/silent"}, false, false, "/silent"},
    };
    for (const auto& c : cases) {
        const tovane::CommandLine line = tovane::ParseCommandLine(c.arguments);
        EXPECT_EQ(line.valid, c.valid) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(line.valid ? line.quiet : false, c.valid ? c.quiet : false);
        EXPECT_EQ(line.refused, c.refused) << ::testing::PrintToString(c.arguments);
    }
}

TEST(CommandLine, TheElevatedStepsTakeExactlyTheirArguments) {
    using tovane::ElevatedStep;
    struct {
        std::vector<std::string> arguments;
        ElevatedStep step;
        const char* downloads;  // nullptr: refused
        const char* target;
        const char* refused;
    } cases[] = {
        {{"/install", "C:\\t\\", "C:\\Program Files\\Kelvo"},
         ElevatedStep::kInstall,
         "C:\\t\\",
         "C:\\Program Files\\Kelvo\\",
         ""},
        {{"-INSTALL", "C:\\t", "D:\\"}, ElevatedStep::kInstall, "C:\\t\\", "D:\\", ""},
        {{"/install", "C:\\t"}, ElevatedStep::kInstall, nullptr, nullptr, "/install"},
        {{"/install", "C:\\t", "C:\\k", "/quiet"},
         ElevatedStep::kInstall,
         nullptr,
         nullptr,
         "/quiet"},
        // A relative folder would mean whatever the current one is.
        {{"/install", "t", "C:\\k"}, ElevatedStep::kInstall, nullptr, nullptr, "t"},
        {{"/install", "C:\\t", "\\\\server\\k"},
         ElevatedStep::kInstall,
         nullptr,
         nullptr,
         "\\\\server\\k"},
        {{"/recover"}, ElevatedStep::kRecover, "", "", ""},
        {{"/recover", "x"}, ElevatedStep::kRecover, nullptr, nullptr, "x"},
        // Only first: a switch after /quiet is refused like any other argument.
        {{"/quiet", "/recover"}, ElevatedStep::kNone, nullptr, nullptr, "/recover"},
    };
    for (const auto& c : cases) {
        const tovane::CommandLine line = tovane::ParseCommandLine(c.arguments);
        const std::string shown = ::testing::PrintToString(c.arguments);
        EXPECT_EQ(line.valid, c.downloads != nullptr) << shown;
        EXPECT_EQ(line.refused, c.refused) << shown;
        if (line.valid) {
            EXPECT_EQ(line.elevated, c.step) << shown;
            EXPECT_EQ(line.downloads, c.downloads) << shown;
            EXPECT_EQ(line.target, c.target) << shown;
        }
    }
}

TEST(CommandLine, InstallArgumentsDoubleTheBackslashesBeforeEachClosingQuote) {
    EXPECT_EQ(tovane::InstallArguments("C:\\Temp\\", "C:\\Program Files\\Kelvo\\"),
              "/install \"C:\\Temp\\\\\" \"C:\\Program Files\\Kelvo\\\\\"");
    EXPECT_EQ(tovane::InstallArguments("C:\\", "D:\\k"), "/install \"C:\\\\\" \"D:\\k\"");
}

}  // namespace
