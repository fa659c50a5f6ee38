// Tovane.exe /quiet, the check a product runs at each start: no window
// unless an update is offered, an exit code that says what happened, and a
// phased rollout that holds quiet checks back by the machine's bucket in
// HKCU\Software\Kelvo\Tovane.
#include <string>

#include "command_line.h"
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

const char kBucketKey[] = "Software\\Kelvo\\Tovane";
const char kBucketValue[] = "RolloutBucket";

// The bucket as the test's prefix holds it; -1 when there is none.
long ReadBucket() {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (::RegGetValueA(HKEY_CURRENT_USER, kBucketKey, kBucketValue, RRF_RT_REG_DWORD, &type, &value,
                       &size) != ERROR_SUCCESS) {
        return -1;
    }
    return static_cast<long>(value);
}

void WriteBucket(long bucket) {
    if (bucket < 0) {
        ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kBucketKey, kBucketValue);
        return;
    }
    const DWORD value = static_cast<DWORD>(bucket);
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, kBucketKey, kBucketValue, REG_DWORD, &value,
                                sizeof value),
              ERROR_SUCCESS);
}

class QuietTest : public TovaneTest {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        savedBucket_ = ReadBucket();
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    }
    void TearDown() override {
        WriteBucket(savedBucket_);
        TovaneTest::TearDown();
    }

    void PublishRelease(const std::string& release) {
        Publish("Version.txt",
                "[Programs]\r\nPrograms=a.dll?\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=0\r\n"
                "UpdateInof=Kelvo 2.0?quiet notes\r\n" +
                    release);
        Publish("a.dll", "new a");
    }

    // Runs the exe with the arguments until it ends, watching that it never
    // shows a window; its exit code, or -1 when it did not end in time.
    long RunWithoutWindow(const std::string& exe, const std::string& args, DWORD timeoutMs,
                          bool* windowSeen) {
        std::string error;
        if (!tovane_.Start(exe, programDir_, args, &error)) {
            ADD_FAILURE() << error;
            return -1;
        }
        *windowSeen = false;
        const DWORD started = ::GetTickCount();
        while (tovane_.Running() && ::GetTickCount() - started < timeoutMs) {
            *windowSeen = *windowSeen || !TopWindowsOf(tovane_.Pid(), true).empty();
            ::Sleep(20);
        }
        DWORD code = 0;
        return tovane_.WaitExit(0, &code) ? static_cast<long>(code) : -1;
    }

    long savedBucket_ = -1;
};

TEST_F(QuietTest, UpToDateEndsWithinSecondsWithoutAWindow) {
    PublishManifest("a.dll?", 1, 0, "the installed version");
    bool window = true;
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(RunWithoutWindow(exe_, "/quiet", 15000, &window), tovane::kExitDone);
    EXPECT_LE(::GetTickCount() - started, 15000u);
    EXPECT_FALSE(window) << "a quiet check showed a window";
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{UpdatePath("Version.txt")});
}

TEST_F(QuietTest, NoManifestOnTheServerIsNoUpdate) {
    bool window = true;
    EXPECT_EQ(RunWithoutWindow(exe_, "/QUIET", 15000, &window), tovane::kExitDone);
    EXPECT_FALSE(window);
}

TEST_F(QuietTest, NoServerEndsWithinTheTransfersBoundWithoutAWindow) {
    const std::string unreachable = WinPath(Env("KELVO_UNREACHABLE_EXE"));
    ASSERT_FALSE(unreachable.empty()) << "KELVO_UNREACHABLE_EXE not set";
    bool window = true;
    EXPECT_EQ(RunWithoutWindow(unreachable, "/quiet", 30000, &window), tovane::kExitFailed);
    EXPECT_FALSE(window);
    char logPath[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, logPath);
    std::string log;
    ASSERT_TRUE(ReadFile(std::string(logPath) + "Tovane.log", log));
    EXPECT_NE(log.rfind("The update server could not be reached: "), std::string::npos)
        << "the failure goes to the log";
}

TEST_F(QuietTest, AnOfferedUpdateOpensTheDialogWithItsNotes) {
    PublishRelease("");
    std::string error;
    ASSERT_TRUE(tovane_.Start(exe_, programDir_, "/quiet", &error)) << error;
    HWND dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
    ASSERT_NE(dialog, nullptr) << "no dialog for an offered update";
    ASSERT_TRUE(WaitForOffer(dialog));
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Kelvo 2.0\r\nquiet notes");
    Shot(dialog, "quiet_offer");
    // The dialog carries on as one the user opened: the update installs.
    Click(dialog, IDC_UPDATE);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 30000, &box, dialog));
    EXPECT_EQ(box.text, "Update success");
    AnswerMessageBox(box, IDOK);
    DWORD code = 0;
    ASSERT_TRUE(tovane_.WaitExit(10000, &code));
    EXPECT_EQ(code, static_cast<DWORD>(tovane::kExitOffered));
    std::string installed;
    EXPECT_TRUE(ReadFile(programDir_ + "\\a.dll", installed));
    EXPECT_EQ(installed, "new a");
    std::string version;
    ASSERT_TRUE(ReadFile(programDir_ + "\\Version.ini", version));
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
}

TEST_F(QuietTest, AnUnknownArgumentIsRefusedWithAMessage) {
    for (const char* args : {"/q", "/quiet /quiet", "--help"}) {
        std::string error;
        ASSERT_TRUE(tovane_.Start(exe_, programDir_, args, &error)) << error;
        MessageBoxSeen box;
        ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Tovane", 15000, &box)) << args;
        EXPECT_NE(box.text.find("does not know the argument"), std::string::npos) << box.text;
        AnswerMessageBox(box, IDOK);
        DWORD code = 0;
        ASSERT_TRUE(tovane_.WaitExit(10000, &code)) << args;
        EXPECT_EQ(code, static_cast<DWORD>(tovane::kExitBadArguments)) << args;
    }
    EXPECT_TRUE(RequestedPaths().empty()) << "a refused command line checks nothing";
}

struct RolloutCase {
    const char* name;
    long bucket;          // set before the run
    const char* rollout;  // the [Release] Rollout value
    bool quiet;
    bool offered;
};

class RolloutTest : public QuietTest, public ::testing::WithParamInterface<RolloutCase> {};

TEST_P(RolloutTest, QuietChecksFollowTheBucketAndAPersonAlwaysGetsTheUpdate) {
    const RolloutCase& c = GetParam();
    WriteBucket(c.bucket);
    PublishRelease(std::string("[Release]\r\nRollout=") + c.rollout + "\r\n");
    if (c.quiet && !c.offered) {
        bool window = true;
        EXPECT_EQ(RunWithoutWindow(exe_, "/quiet", 15000, &window), tovane::kExitHeldBack);
        EXPECT_FALSE(window);
    } else {
        std::string error;
        ASSERT_TRUE(tovane_.Start(exe_, programDir_, c.quiet ? "/quiet" : "", &error)) << error;
        HWND dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDCANCEL);
        EXPECT_TRUE(tovane_.WaitExit(10000));
    }
    EXPECT_EQ(ReadBucket(), c.bucket) << "a bucket that is there is never changed";
}

INSTANTIATE_TEST_SUITE_P(
    Buckets, RolloutTest,
    ::testing::Values(RolloutCase{"BelowTheBucketHeldBack", 42, "42", true, false},
                      RolloutCase{"AboveTheBucketOffered", 42, "43", true, true},
                      RolloutCase{"ZeroInACheckTheUserStartedOffered", 0, "0", false, true},
                      RolloutCase{"ZeroHoldsEveryQuietCheckBack", 0, "0", true, false},
                      RolloutCase{"FullOffersTheLastBucket", 99, "100", true, true}),
    [](const ::testing::TestParamInfo<RolloutCase>& info) { return std::string(info.param.name); });

TEST_F(QuietTest, ABucketIsDrawnOnFirstUseAndThenKept) {
    WriteBucket(-1);
    PublishRelease("[Release]\r\nRollout=0\r\n");
    bool window = true;
    EXPECT_EQ(RunWithoutWindow(exe_, "/quiet", 15000, &window), tovane::kExitHeldBack);
    const long drawn = ReadBucket();
    EXPECT_GE(drawn, 0);
    EXPECT_LE(drawn, 99);
    EXPECT_EQ(RunWithoutWindow(exe_, "/quiet", 15000, &window), tovane::kExitHeldBack);
    EXPECT_EQ(ReadBucket(), drawn);
    std::printf("  bucket drawn: %ld\n", drawn);
}

}  // namespace
}  // namespace kelvo::test
