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
        unsigned long waiting;
        const char* refused;
    } cases[] = {
        {{"/install", "C:\\t\\", "C:\\Program Files\\Kelvo", "1234"},
         ElevatedStep::kInstall,
         "C:\\t\\",
         "C:\\Program Files\\Kelvo\\",
         1234,
         ""},
        {{"-INSTALL", "C:\\t", "D:\\", "4294967295"},
         ElevatedStep::kInstall,
         "C:\\t\\",
         "D:\\",
         4294967295ul,
         ""},
        {{"/install", "C:\\t", "C:\\k"}, ElevatedStep::kInstall, nullptr, nullptr, 0, "/install"},
        {{"/install", "C:\\t", "C:\\k", "1", "/quiet"},
         ElevatedStep::kInstall,
         nullptr,
         nullptr,
         0,
         "/quiet"},
        // A relative folder would mean whatever the current one is.
        {{"/install", "t", "C:\\k", "1"}, ElevatedStep::kInstall, nullptr, nullptr, 0, "t"},
        {{"/install", "C:\\t", "\\\\server\\k", "1"},
         ElevatedStep::kInstall,
         nullptr,
         nullptr,
         0,
         "\\\\server\\k"},
        {{"/install", "C:\\t", "C:\\k", "0"}, ElevatedStep::kInstall, nullptr, nullptr, 0, "0"},
        {{"/install", "C:\\t", "C:\\k", "4294967296"},
         ElevatedStep::kInstall,
         nullptr,
         nullptr,
         0,
         "4294967296"},
        {{"/install", "C:\\t", "C:\\k", "12x"}, ElevatedStep::kInstall, nullptr, nullptr, 0, "12x"},
        {{"/recover"}, ElevatedStep::kRecover, "", "", 0, ""},
        {{"/recover", "x"}, ElevatedStep::kRecover, nullptr, nullptr, 0, "x"},
        // Only first: a switch after /quiet is refused like any other argument.
        {{"/quiet", "/recover"}, ElevatedStep::kNone, nullptr, nullptr, 0, "/recover"},
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
            EXPECT_EQ(line.waiting, c.waiting) << shown;
        }
    }
}

TEST(CommandLine, InstallArgumentsDoubleTheBackslashesBeforeEachClosingQuote) {
    EXPECT_EQ(tovane::InstallArguments("C:\\Temp\\", "C:\\Program Files\\Kelvo\\", 42),
              "/install \"C:\\Temp\\\\\" \"C:\\Program Files\\Kelvo\\\\\" 42");
    EXPECT_EQ(tovane::InstallArguments("C:\\", "D:\\k", 7), "/install \"C:\\\\\" \"D:\\k\" 7");
}

}  // namespace
