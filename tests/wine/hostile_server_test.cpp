// Tovane.exe against a server that sends too much, too slowly, or nothing:
// each row checks what the user is told, that the check ends by itself, what
// the server got to send (within the limit, give or take what the loopback
// connection buffers), and that nothing large is left in the temporary
// folder and nothing is installed.
#include <string>

#include "files_value.h"
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

// What the sockets of one loopback connection hold besides what the
// updater read: the server counts it as sent.
constexpr std::uint64_t kBufferSlack = std::uint64_t(8) << 20;
constexpr std::uint64_t kManifestLimit = std::uint64_t(4) << 20;

std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

const char kUnreachable[] = "The update server could not be reached: ";

// "Update" pressed on the offer, refused for the download of a.dll, and
// the dialog closed.
void UpdateRefusedForADownload(Child& tovane) {
    HWND dialog = WaitForWindowOf(tovane.Pid(), "Update", 20000, "#32770");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, 15000))
        << ItemText(dialog, IDC_STATUS);
    Click(dialog, IDC_UPDATE);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitForMessageBox(tovane.Pid(), "Update", 60000, &box, dialog));
    EXPECT_EQ(box.text,
              "The update file \"a.dll\" could not be downloaded completely. Nothing was changed; "
              "please try the update again later.");
    AnswerMessageBox(box, IDOK);
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane.WaitExit(10000));
}

struct ManifestCase {
    const char* name;
    const char* fault;   // the manifest's fault sidecar
    const char* reason;  // what the status says after kUnreachable
    DWORD withinMs;      // the check's end, at the latest
    std::uint64_t maxServed;
    int maxRequests;  // of Version.txt
};

class HostileManifestTest : public TovaneTest,
                            public ::testing::WithParamInterface<ManifestCase> {};

TEST_P(HostileManifestTest, TheCheckEndsByItselfWithTheReasonAndNothingLeft) {
    const ManifestCase& c = GetParam();
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    PublishManifest("a.dll?", 2, 0, "never offered");
    PublishFault("Version.txt", c.fault);
    const DWORD started = ::GetTickCount();
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    const std::string status = WaitForDecision(dialog, c.withinMs);
    const DWORD took = ::GetTickCount() - started;
    EXPECT_TRUE(StartsWith(status, std::string(kUnreachable) + c.reason)) << status;
    EXPECT_NE(status.find("No update is offered."), std::string::npos) << status;
    EXPECT_LE(took, c.withinMs);
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
    const std::uint64_t served = ServedBytes("Version.txt");
    EXPECT_LE(served, c.maxServed) << "bytes the server sent";
    int requests = 0;
    for (const std::string& path : RequestedPaths()) {
        requests += path == UpdatePath("Version.txt");
    }
    EXPECT_GE(requests, 1);
    EXPECT_LE(requests, c.maxRequests) << "a limit is never fetched past again";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini")) << FileSize(tempDir_ + "Version.ini");
    std::printf("  %s: %s after %lu ms, %llu bytes served, %d request(s)\n", c.name, status.c_str(),
                static_cast<unsigned long>(took), static_cast<unsigned long long>(served),
                requests);
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, HostileManifestTest,
    ::testing::Values(
        // Chunked, no length, no end: stopped one byte past 4 MiB.
        ManifestCase{"EndlessChunked", R"({"endless": 10737418240, "chunked": true})",
                     "more than the 4194304 bytes allowed arrived", 60000,
                     kManifestLimit + kBufferSlack, 1},
        // A length of 10 GiB: refused from the headers, before a byte is read.
        ManifestCase{"EndlessUnderALength", R"({"endless": 10737418240, "length": "10737418240"})",
                     "the server announced 10737418240 bytes, more than the 4194304 allowed", 30000,
                     kBufferSlack, 1},
        // One byte every two seconds: too slow in every minute, and over after
        // two minutes whatever it does.
        ManifestCase{"Drip", R"({"drip": 2})", "not complete within 120 s", 135000, 4096, 10}),
    [](const ::testing::TestParamInfo<ManifestCase>& info) {
        return std::string(info.param.name);
    });

// A listed file with a [Files] entry is never taken past its signed size,
// and an announcement past it is refused without a second request.
struct FileCase {
    const char* name;
    const char* fault;
    std::uint64_t maxServed;
};

class HostileFileTest : public TovaneTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(HostileFileTest, AFileIsNeverTakenPastItsSignedSize) {
    const FileCase& c = GetParam();
    const std::string content(1 << 20, 'a');
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    Publish(
        "Version.txt",
        "[Programs]\r\nPrograms=a.dll?\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=0\r\nUpdateInof=big\r\n"
        "[Files]\r\na.dll=" +
            FilesValue(content) + "\r\n");
    Publish("a.dll", content);
    PublishFault("a.dll", c.fault);
    ASSERT_NE(Launch(tovane_), nullptr);
    UpdateRefusedForADownload(tovane_);
    EXPECT_FALSE(FileExists(programDir_ + "\\a.dll")) << "nothing is installed";
    EXPECT_FALSE(FileExists(tempDir_ + "a.dll")) << "the download is gone";
    const std::uint64_t served = ServedBytes("a.dll");
    EXPECT_LE(served, c.maxServed);
    int requests = 0;
    for (const std::string& path : RequestedPaths()) {
        requests += path == UpdatePath("a.dll");
    }
    EXPECT_EQ(requests, 1) << "no retry fetches past a limit";
    std::printf("  %s: %llu bytes served\n", c.name, static_cast<unsigned long long>(served));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFileTest,
    ::testing::Values(FileCase{"EndlessChunked", R"({"endless": 10737418240, "chunked": true})",
                               (1u << 20) + kBufferSlack},
                      // The same file announced as 4 GiB.
                      FileCase{"AnnouncedAsFourGiB",
                               R"({"endless": 10737418240, "length": "4294967296"})",
                               kBufferSlack}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// A file without a [Files] entry has no signed size: the free space of the
// temporary folder's volume bounds it, and an announcement past it is
// refused before a byte is written.
TEST_F(TovaneTest, AFileWithoutAnEntryMustFitTheFreeSpace) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    PublishManifest("a.dll?", 2, 0, "no entries");
    Publish("a.dll", "small");
    // A petabyte: no test machine has that free.
    PublishFault("a.dll", R"({"endless": 10737418240, "length": "1125899906842624"})");
    ASSERT_NE(Launch(tovane_), nullptr);
    UpdateRefusedForADownload(tovane_);
    EXPECT_FALSE(FileExists(tempDir_ + "a.dll"));
    EXPECT_FALSE(FileExists(programDir_ + "\\a.dll"));
    char log[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, log);
    std::string text;
    ASSERT_TRUE(ReadFile(std::string(log) + "Tovane.log", text));
    EXPECT_NE(text.rfind("not enough free space for 1125899906842624 more bytes"),
              std::string::npos);
}

// No server at all: a refused connection is said to be one, never "up to
// date" (TovaneUnreachable.exe is this updater built for a closed port).
TEST_F(TovaneTest, NoServerIsSaidToBeUnreachable) {
    exe_ = WinPath(Env("KELVO_UNREACHABLE_EXE"));
    ASSERT_FALSE(exe_.empty()) << "KELVO_UNREACHABLE_EXE not set";
    const DWORD started = ::GetTickCount();
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    const std::string status = WaitForDecision(dialog, 30000);
    EXPECT_TRUE(StartsWith(status, std::string(kUnreachable) + "HttpSendRequest \"http://"))
        << status;
    EXPECT_NE(status.find("failed (system error 12029). No update is offered."), std::string::npos)
        << status;
    EXPECT_LE(::GetTickCount() - started, 30000u);
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
}

}  // namespace
}  // namespace kelvo::test
