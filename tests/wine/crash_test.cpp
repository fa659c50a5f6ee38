// The updater killed at many points of an installation (a crash, a power
// cut, the Task Manager): whatever the point, the next start of Tovane.exe
// leaves the product folder byte for byte the old version or the new one,
// with the version file to match, no backup or journal behind, and the
// product that was stopped running again.
//
// Each kill point is reached through the installer's test hold points
// (TOVANE_INSTALL_HOLD, see updater/install/hold_point.h), which only the
// test build TovaneTestHooks.exe has; one more point is found from outside
// only, by watching the large file's copy grow.
#include <map>
#include <ostream>

#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

const std::size_t kBigOld = 8u << 20;
const std::size_t kBigNew = 40u << 20;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 16);
    }
    return bytes;
}

struct KillPoint {
    const char* name;
    const char* stage;           // the hold point; nullptr: the large copy watched from outside
    bool newVersion;             // what the folder holds after the next start
    bool productStopped = true;  // when the updater is killed
    // Whether the journal was written then; before it only staged copies
    // exist, the product was never asked to close, and the next start has
    // nothing to undo.
    bool journalWritten = true;
};

void PrintTo(const KillPoint& point, std::ostream* os) { *os << point.name; }

class CrashTest : public TovaneTest, public ::testing::WithParamInterface<KillPoint> {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        std::string product;
        ASSERT_TRUE(ReadFile(WinPath(Env("KELVO_PRODUCT_EXE")), product));
        // The listed order gives the hold points' indexes: a.dll 0, big.dat 1,
        // Kelvo.exe 2, d.dat 3 (new), the version file 4.
        oldFiles_ = {{"a.dll", "old a"},
                     {"big.dat", Pattern(kBigOld, 1)},
                     {"Kelvo.exe", product},
                     {"Version.ini", "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n"}};
        newFiles_ = {{"a.dll", "new a"},
                     {"big.dat", Pattern(kBigNew, 2)},
                     {"Kelvo.exe", product + "\r\nKELVO-NEW-BUILD\r\n"},
                     {"d.dat", "new d"}};
        for (const auto& [name, bytes] : oldFiles_) {
            ASSERT_TRUE(WriteFile(programDir_ + "\\" + name, bytes)) << name;
        }
        for (const auto& [name, bytes] : newFiles_) {
            Publish(name, bytes);
        }
        PublishManifest("a.dll?big.dat?Kelvo.exe?d.dat?", 2, 0, "Kelvo 2.0");
        held_ = tempDir_ + "Tovane.held";
        ::DeleteFileA(held_.c_str());
        std::string error;
        ASSERT_TRUE(product_.Start(programDir_ + "\\Kelvo.exe", programDir_, "", &error)) << error;
        ASSERT_NE(WaitForWindowOf(product_.Pid(), "Kelvo", 10000), nullptr);
    }

    void TearDown() override {
        ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", nullptr);
        ::DeleteFileA(held_.c_str());
        EndRecordedStarts(programDir_);
        product_.Kill();
        TovaneTest::TearDown();
    }

    // Byte for byte; the names of what differs, for the message.
    std::string Differences(const std::map<std::string, std::string>& expected,
                            const char* absent) {
        std::string differences;
        for (const auto& [name, bytes] : expected) {
            std::string content;
            if (!ReadFile(programDir_ + "\\" + name, content) || content != bytes) {
                differences += name + " ";
            }
        }
        if (absent != nullptr && FileExists(programDir_ + "\\" + absent)) {
            differences += std::string(absent) + " (should be absent) ";
        }
        return differences;
    }

    std::map<std::string, std::string> oldFiles_;
    std::map<std::string, std::string> newFiles_;
    std::string held_;
    Child product_;
};

TEST_P(CrashTest, NextStartLeavesTheOldOrTheNewVersionWhole) {
    const KillPoint& k = GetParam();
    if (k.stage != nullptr) {
        ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", k.stage);
    }
    HWND dialog = Launch(tovane_);
    ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", nullptr);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
    Click(dialog, IDC_UPDATE);

    if (k.stage != nullptr) {
        std::string stage;
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(held_, stage) && stage == k.stage; }, 60000))
            << "the installer never reached " << k.stage;
    } else {
        // From outside: the large file's new copy is being written.
        const std::string staging = programDir_ + "\\Tovane.rollback\\1.new";
        bool caught = WaitUntil(
            [&] {
                WIN32_FILE_ATTRIBUTE_DATA data;
                return ::GetFileAttributesExA(staging.c_str(), GetFileExInfoStandard, &data) &&
                       data.nFileSizeLow > 0 && data.nFileSizeLow < kBigNew;
            },
            60000, 1);
        ASSERT_TRUE(caught) << "the copy of big.dat was never seen under way";
    }
    tovane_.Kill();  // TerminateProcess, and waits for the end
    if (k.productStopped) {
        EXPECT_FALSE(product_.Running()) << "the product was not stopped before the files";
    } else {
        EXPECT_TRUE(product_.Running()) << "the product was stopped before the journal";
    }

    // The next start puts things right before it checks. The check's
    // answer replaces the message that an update was undone; it comes late,
    // so that the message stays long enough to be read even on a busy
    // machine, where the 5 ms polls below missed it now and then.
    if (!k.newVersion) {
        PublishFault("Version.txt", R"({"delay_first": 1.5})");
    }
    Child next;
    dialog = Launch(next);
    ASSERT_NE(dialog, nullptr);
    if (!k.newVersion && k.journalWritten) {
        // Shown until the check, which follows, has its answer.
        EXPECT_TRUE(WaitUntil(
            [&] { return ItemText(dialog, IDC_STATUS).find("was undone") != std::string::npos; },
            5000, 5))
            << ItemText(dialog, IDC_STATUS);
    }
    if (k.newVersion) {
        EXPECT_TRUE(WaitUntil([&] { return ItemText(dialog, IDC_STATUS) == kNotNeeded; }, 20000))
            << ItemText(dialog, IDC_STATUS);
    } else {
        EXPECT_TRUE(WaitForOffer(dialog, 20000)) << ItemText(dialog, IDC_STATUS);
    }
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(next.WaitExit(10000));

    if (k.newVersion) {
        EXPECT_EQ(Differences(newFiles_, nullptr), "");
        std::string version;
        ASSERT_TRUE(ReadFile(programDir_ + "\\Version.ini", version));
        EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
        EXPECT_NE(version.find("SubVer=0"), std::string::npos) << version;
    } else {
        EXPECT_EQ(Differences(oldFiles_, "d.dat"), "");
    }
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.rollback")) << "backups left behind";
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal")) << "journal left behind";
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal.tmp"));
    if (k.journalWritten) {
        EXPECT_TRUE(WaitUntil([&] { return RecordedStarts(programDir_).size() == 2; }, 15000))
            << "the product stopped for the update was not started again";
    } else {
        ::Sleep(500);
        EXPECT_EQ(RecordedStarts(programDir_).size(), 1u) << "the product was never stopped";
        EXPECT_TRUE(product_.Running());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kill, CrashTest,
    // The copies are made while the product still runs, before the journal;
    // after the product has stopped only renames and the version remain.
    ::testing::Values(KillPoint{"MidCopyOfTheFirst", "copy.0.half", false, false, false},
                      KillPoint{"MidCopyOfTheLargeSecond", "copy.1.half", false, false, false},
                      KillPoint{"MidCopyOfTheLargeSeenFromOutside", nullptr, false, false, false},
                      KillPoint{"MidCopyOfTheLast", "copy.3.half", false, false, false},
                      KillPoint{"BeforeTheProductIsAskedToClose", "stopping", false, false},
                      KillPoint{"AfterTheJournal", "journal", false},
                      KillPoint{"AfterTheFirst", "placed.0", false},
                      KillPoint{"AfterTheSecond", "placed.1", false},
                      KillPoint{"AfterTheLastFile", "placed.3", false},
                      KillPoint{"BeforeTheVersionWrite", "version", false},
                      KillPoint{"AfterTheVersionBeforeTheCommit", "placed.4", false},
                      KillPoint{"AfterTheCommit", "committed", true}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvo::test
