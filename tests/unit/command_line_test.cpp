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

}  // namespace
