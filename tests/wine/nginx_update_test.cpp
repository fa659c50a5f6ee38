// The update job against a stock web server (nginx), as a user's machine
// meets one: a whole update, and one whose biggest file breaks off twice on
// the way and is resumed. The server sits behind a relay that breaks chosen
// connections (tests/harness/with-nginx.sh).
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

const char kMarker[] = "\r\nKELVO-NEW-BUILD\r\n";

class NginxUpdateTest : public TovaneTest {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        std::string productExe = WinPath(Env("KELVO_PRODUCT_EXE"));
        ASSERT_TRUE(ReadFile(productExe, product_)) << "KELVO_PRODUCT_EXE not set";
        ::DeleteFileA((serverRoot_ + "\\cut-rules.json").c_str());
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
        // The new Kelvo.exe carries 3 MiB and a bit of data after its image:
        // many reads, and steps that do not come out even.
        newExe_ = product_ + kMarker;
        for (std::size_t i = 0; newExe_.size() < 3 * 1024 * 1024 + 5000; ++i) {
            newExe_.push_back(static_cast<char>((i * 7 + i / 251) & 0xFF));
        }
        // The last entry is downloaded but not installed: its bar is the
        // one left standing until installing begins.
        PublishManifest("Kelvo.exe?notes.dat?", 2, 0, "Kelvo 2.0");
        Publish("Kelvo.exe", newExe_);
        notes_ = std::string(25600, 'n');
        Publish("notes.dat", notes_);
    }
    void TearDown() override {
        EndRecordedStarts(programDir_);
        TovaneTest::TearDown();
    }

    // Clicks "Update", and waits for the bar of the last file to stand at
    // the top of its range and for the box that ends the job.
    void RunUpdate(int* lastRange, int* lastPos, MessageBoxSeen* box) {
        HWND dialog = Launch(tovane_);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS);
        const int notesRange = static_cast<int>(notes_.size() / 10240);
        WaitUntil(
            [&] {
                *lastRange = static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
                *lastPos = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
                return *lastRange == notesRange && *lastPos == notesRange;
            },
            60000, 5);
        ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 60000, box, dialog));
    }

    // Bytes of Kelvo.exe the relay has passed to clients so far, this run.
    unsigned long long ServedExe() {
        std::string served;
        if (!ReadFile(serverRoot_ + "\\cut-rules.json.served", served)) {
            return 0;
        }
        const std::string key = "\"/UploadFile/Product_Soft/Kelvo/Kelvo.exe\": ";
        std::size_t at = served.find(key);
        return at == std::string::npos
                   ? 0
                   : std::strtoull(served.c_str() + at + key.size(), nullptr, 10);
    }

    int ManifestRequests() { return static_cast<int>(Occurrences(AccessLog(), "/Version.txt ")); }

    // The update ended in success with the new Kelvo.exe in place and the
    // bar at the top of its range; the updater is then let go.
    void ExpectInstalled(int range, int pos, const MessageBoxSeen& box) {
        EXPECT_EQ(range, 2);
        EXPECT_EQ(pos, 2) << "the bar ends at the top of its range";
        EXPECT_EQ(box.text, "Update success");
        std::string installed;
        ASSERT_TRUE(ReadFile(programDir_ + "\\Kelvo.exe", installed));
        EXPECT_TRUE(installed == newExe_) << "installed " << installed.size() << " bytes";
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(tovane_.WaitExit(15000));
    }

    std::string AccessLog() {
        std::string log;
        ReadFile(serverRoot_ + "\\nginx-access.log", log);
        return log;
    }

    std::string product_;
    std::string newExe_;
    std::string notes_;
};

TEST_F(NginxUpdateTest, WholeUpdate) {
    int range = -1, pos = -1;
    MessageBoxSeen box;
    RunUpdate(&range, &pos, &box);
    ExpectInstalled(range, pos, box);
    const std::string log = AccessLog();
    EXPECT_NE(
        log.find("/UploadFile/Product_Soft/Kelvo/Kelvo.exe 200 " + std::to_string(newExe_.size())),
        std::string::npos)
        << log;
}

TEST_F(NginxUpdateTest, BrokenTwiceAndResumed) {
    // Two connections for Kelvo.exe break (headers included in the counts).
    ASSERT_TRUE(WriteFile(serverRoot_ + "\\cut-rules.json", R"({"Kelvo.exe": [900000, 1200000]})"));
    const unsigned long long servedBefore = ServedExe();
    int range = -1, pos = -1;
    MessageBoxSeen box;
    RunUpdate(&range, &pos, &box);
    ExpectInstalled(range, pos, box);

    // nginx answered the rest twice, each time with a part.
    const std::string log = AccessLog();
    EXPECT_EQ(Occurrences(log, "Kelvo.exe 206 "), 2u) << log;
    EXPECT_EQ(log.find("Kelvo.exe 416"), std::string::npos) << log;
    // What reached the client: the file once, plus at most one lost read
    // per break, plus three sets of headers.
    const unsigned long long served = ServedExe() - servedBefore;
    EXPECT_GE(served, newExe_.size());
    EXPECT_LE(served, newExe_.size() + 2 * 1024 * 1024 + 3 * 1024);
}

// The manifest breaks off twice inside its body (nginx's headers take
// about 240 bytes): the check asks again and offers the update as if
// nothing had happened.
TEST_F(NginxUpdateTest, ManifestBrokenOffIsAskedForAgain) {
    ASSERT_TRUE(WriteFile(serverRoot_ + "\\cut-rules.json", R"({"Version.txt": [270, 290]})"));
    // The access log runs on over the tests of this binary.
    const int before = ManifestRequests();
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Kelvo 2.0");
    EXPECT_EQ(ManifestRequests() - before, 3) << AccessLog();
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
}

}  // namespace
}  // namespace kelvo::test
