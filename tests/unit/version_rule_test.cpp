#include "version_rule.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using tovane::IsNewerVersion;
using tovane::Version;

struct DecisionCase {
    Version installed;
    Version offered;
    bool update;
};

class UpdateDecisionTest : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(UpdateDecisionTest, MajorFirstEqualIsNotAnUpdate) {
    const DecisionCase& c = GetParam();
    EXPECT_EQ(IsNewerVersion(c.installed, c.offered), c.update)
        << "installed " << c.installed.main << '.' << c.installed.sub << ", offered "
        << c.offered.main << '.' << c.offered.sub;
}

constexpr std::uint32_t kMax = UINT32_MAX;

INSTANTIATE_TEST_SUITE_P(
    Versions, UpdateDecisionTest,
    ::testing::Values(DecisionCase{{1, 5}, {1, 6}, true}, DecisionCase{{1, 5}, {2, 0}, true},
                      DecisionCase{{1, 5}, {1, 5}, false}, DecisionCase{{1, 5}, {1, 4}, false},
                      DecisionCase{{1, 5}, {0, 9}, false}, DecisionCase{{2, 1}, {1, 9}, false},
                      // No local version file: 0.0 installed.
                      DecisionCase{{0, 0}, {0, 1}, true}, DecisionCase{{0, 0}, {0, 0}, false},
                      // Unsigned comparison at the top of the range.
                      DecisionCase{{kMax, 0}, {0, kMax}, false},
                      DecisionCase{{0x7FFFFFFF, 0}, {0x80000000u, 0}, true},
                      DecisionCase{{1, kMax - 1}, {1, kMax}, true}));

}  // namespace
