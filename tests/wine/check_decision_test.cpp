// The check job and the update decision, seen from outside: what the status
// box and the "Update" button show, and what is left in the temporary folder.
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

struct DecisionCase {
    const char* name;
    const char* installed;  // content of Version.ini, or nullptr for none
    unsigned offeredMain;
    unsigned offeredSub;
    bool offered;
};

class TovaneDecisionTest : public TovaneTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(TovaneDecisionTest, OffersOnlyANewerVersion) {
    const DecisionCase& c = GetParam();
    if (c.installed != nullptr) {
        WriteInstalledVersion(c.installed);
    }
    PublishManifest("a.dll?b.exe?", c.offeredMain, c.offeredSub, "First line?Second line");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    std::string status = WaitForDecision(dialog);
    if (c.offered) {
        EXPECT_EQ(status, "First line\r\nSecond line");
        EXPECT_TRUE(ItemEnabled(dialog, IDC_UPDATE));
    } else {
        EXPECT_EQ(status, kNotNeeded);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    }
    EXPECT_FALSE(ItemVisible(dialog, IDC_PROGRESS)) << "the check job never shows the bar";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini")) << "the manifest is deleted after reading";
    Shot(dialog, std::string("decision_") + c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, TovaneDecisionTest,
    ::testing::Values(
        DecisionCase{"MinorNewer", "[Kelvo]\r\nMainVer=1\r\nSubVer=5\r\n", 1, 6, true},
        DecisionCase{"MajorNewer", "[Kelvo]\r\nMainVer=1\r\nSubVer=5\r\n", 2, 0, true},
        DecisionCase{"Equal", "[Kelvo]\r\nMainVer=1\r\nSubVer=5\r\n", 1, 5, false},
        DecisionCase{"Older", "[Kelvo]\r\nMainVer=1\r\nSubVer=5\r\n", 1, 4, false},
        DecisionCase{"SmallerMajorLargerMinor", "[Kelvo]\r\nMainVer=2\r\nSubVer=1\r\n", 1, 9,
                     false},
        // No local version file: installed 0.0, anything else is newer.
        DecisionCase{"NoVersionFile", nullptr, 0, 1, true},
        DecisionCase{"NoVersionFileOfferedZero", nullptr, 0, 0, false},
        DecisionCase{"VersionFileWithoutSection", "[Other]\r\nMainVer=7\r\n", 0, 1, true},
        // Too large for 32 bits: read as the largest value, so nothing is newer.
        DecisionCase{"InstalledOverflows", "[Kelvo]\r\nMainVer=99999999999\r\nSubVer=0\r\n", 5, 0,
                     false}),
    [](const ::testing::TestParamInfo<DecisionCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(TovaneTest, MissingManifestMeansNoUpdate) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForDecision(dialog), kNotNeeded);
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    EXPECT_EQ(RequestedPaths(),
              std::vector<std::string>{"/UploadFile/Product_Soft/Kelvo/Version.txt"});
}

TEST_F(TovaneTest, StaleManifestIsNotReadWhenTheDownloadFails) {
    // A manifest left over from an earlier run must not decide this one.
    ASSERT_TRUE(
        WriteFile(tempDir_ + "Version.ini",
                  "[Programs]\r\nPrograms=old.dll?\r\n[Kelvo]\r\nMainVer=9\r\nSubVer=9\r\n"));
    PublishFault("Version.txt", R"({"status": 500})");
    Publish("Version.txt", "irrelevant");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    // A server error is said to be one, never passed off as "up to date".
    const std::string status = WaitForDecision(dialog);
    EXPECT_EQ(status.rfind("The update server could not be reached: GET \"http://127.0.0.1:", 0),
              0u)
        << status;
    const std::string end =
        "/UploadFile/Product_Soft/Kelvo/Version.txt\" failed (HTTP 500). No update is offered.";
    EXPECT_TRUE(status.size() > end.size() &&
                status.compare(status.size() - end.size(), end.size(), end) == 0)
        << status;
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
}

TEST_F(TovaneTest, LongNotesAreShownWhole) {
    // Past the 10 239 characters a fixed buffer would hold.
    std::string notes(12000, 'n');
    notes[0] = 'A';
    notes.back() = 'Z';
    PublishManifest("a.dll?", 1, 0, notes);
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog));
    std::string status = ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(status.size(), 12000u);
    EXPECT_EQ(status.front(), 'A');
    EXPECT_EQ(status.back(), 'Z');
}

class TovaneUnsafeNameTest : public TovaneTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(TovaneUnsafeNameTest, RefusesTheWholeListBeforeAnyDownload) {
    std::string programs = std::string("good.dll?") + GetParam() + "?";
    PublishManifest(programs, 3, 0, "notes");
    Publish("good.dll", "good");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    std::string status = WaitForDecision(dialog);
    EXPECT_NE(status.find("cannot be used safely"), std::string::npos) << status;
    EXPECT_NE(status.find(GetParam()), std::string::npos) << "the refused name is shown";
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
    EXPECT_EQ(RequestedPaths().size(), 1u) << "only the manifest was fetched";
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
}

INSTANTIATE_TEST_SUITE_P(Names, TovaneUnsafeNameTest,
                         ::testing::Values("..\\evil.dll", "sub/evil.dll", "..", "C:evil.dll",
                                           "evil.dll:stream", "\\\\server\\share\\evil.dll", "NUL",
                                           "com1.txt", "trailing.dll."));

}  // namespace
}  // namespace kelvo::test
