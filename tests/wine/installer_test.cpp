// The installer in-process, with the product behind a fake: the order in
// which the product is asked and made to stop (the manual-close prompt can
// only be reached this way, since Wine never fails TerminateProcess), and
// installing, rolling back and recovering on real folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "install/installer.h"
#include "install/product_control.h"
#include "install_journal.h"
#include "support/driver.h"

namespace kelvo::test {
namespace {

// A scripted product. Its process ends on WM_CLOSE, on termination, or once
// the prompt has been answered a number of times; the test may hold its
// executable open without sharing until a number of answers.
class FakeProduct : public tovane::ProductControl {
public:
    bool running = true;
    bool window = true;
    std::string exe;
    bool endsOnClose = false;
    bool terminateWorks = true;
    int endsAfterAsks = 0;      // 0: never through the prompt
    int exeHeldUntilAsks = 0;   // 0: the executable is not held
    std::vector<bool> answers;  // "Yes" = true, in order; "No" once they run out

    int closes = 0;
    int terminates = 0;
    int asks = 0;
    std::vector<std::string> started;
    bool ended = false;
    std::string journal;  // when set: whether it existed when WM_CLOSE went out
    bool journalAtClose = false;
    // When set: these files' contents when WM_CLOSE went out.
    std::vector<std::string> watched;
    std::vector<std::string> watchedAtClose;

    void Hold() {
        held_ = ::CreateFileA(exe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held_, INVALID_HANDLE_VALUE);
    }
    void Release() {
        if (held_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(held_);
            held_ = INVALID_HANDLE_VALUE;
        }
    }
    ~FakeProduct() override { Release(); }

    bool IsRunning() override { return running && !ended; }
    bool OpenProduct(std::string* path) override {
        *path = window ? exe : std::string();
        return window;
    }
    void RequestClose() override {
        ++closes;
        journalAtClose = !journal.empty() && FileExists(journal);
        watchedAtClose.clear();
        for (const std::string& path : watched) {
            std::string content;
            watchedAtClose.push_back(ReadFile(path, content) ? content : "<missing>");
        }
        ended = ended || endsOnClose;
    }
    bool WaitForExit(DWORD) override { return ended; }
    bool Terminate(DWORD* error) override {
        ++terminates;
        if (!terminateWorks) {
            *error = ERROR_ACCESS_DENIED;
            return false;
        }
        ended = true;
        return true;
    }
    bool AskWhetherClosed() override {
        ++asks;
        if (endsAfterAsks != 0 && asks >= endsAfterAsks) {
            ended = true;
        }
        if (exeHeldUntilAsks != 0 && asks >= exeHeldUntilAsks) {
            Release();
        }
        std::size_t i = static_cast<std::size_t>(asks - 1);
        return i < answers.size() && answers[i];
    }
    bool Start(const std::string& path, DWORD*) override {
        started.push_back(path);
        return true;
    }

private:
    HANDLE held_ = INVALID_HANDLE_VALUE;
};

class NoProgress : public tovane::InstallProgress {
public:
    void Status(const std::string&) override {}
    void Range(int) override {}
    void Position(int) override {}
};

std::string Content(const std::string& path) {
    std::string content;
    return ReadFile(path, content) ? content : std::string("<missing>");
}

struct StopCase {
    const char* name;
    bool endsOnClose;
    bool terminateWorks;
    int endsAfterAsks;
    int exeHeldUntilAsks;
    std::vector<bool> answers;
    tovane::StopOutcome outcome;
    int asks;
};

TEST(StopProduct, ClosesWaitsEndsAndAsksUntilTheProcessIsProvenGone) {
    const std::string dir = FreshDir("StopProduct");
    using tovane::StopOutcome;
    const StopCase cases[] = {
        {"closes on request", true, true, 0, 0, {}, StopOutcome::kStopped, 0},
        {"ended after the grace period", false, true, 0, 0, {}, StopOutcome::kStopped, 0},
        {"termination fails, No", false, false, 0, 0, {false}, StopOutcome::kStillRunning, 1},
        {"Yes while running, then Yes once ended",
         false,
         false,
         2,
         0,
         {true, true},
         StopOutcome::kStopped,
         2},
        {"Yes while running, then No",
         false,
         false,
         0,
         0,
         {true, false},
         StopOutcome::kStillRunning,
         2},
        {"process gone but executable still held, then released",
         false,
         false,
         1,
         2,
         {true, true},
         StopOutcome::kStopped,
         2},
        {"Yes three times before it ends",
         false,
         false,
         3,
         0,
         {true, true, true},
         StopOutcome::kStopped,
         3},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProduct product;
        product.exe = dir + "\\Kelvo.exe";
        ASSERT_TRUE(WriteFile(product.exe, "the product"));
        product.endsOnClose = c.endsOnClose;
        product.terminateWorks = c.terminateWorks;
        product.endsAfterAsks = c.endsAfterAsks;
        product.exeHeldUntilAsks = c.exeHeldUntilAsks;
        product.answers = c.answers;
        if (c.exeHeldUntilAsks != 0) {
            product.Hold();
        }
        std::string exe;
        EXPECT_EQ(tovane::StopProduct(product, 100, &exe), c.outcome);
        EXPECT_EQ(exe, product.exe);
        EXPECT_EQ(product.closes, 1) << "WM_CLOSE first, once";
        EXPECT_EQ(product.terminates, c.endsOnClose ? 0 : 1);
        EXPECT_EQ(product.asks, c.asks);
        product.Release();
        EXPECT_EQ(Content(product.exe), "the product") << "the executable is never touched";
    }
}

TEST(StopProduct, LeavesAProductWithoutWindowOrNotRunningAlone) {
    FakeProduct notRunning;
    notRunning.running = false;
    std::string exe = "stale";
    EXPECT_EQ(tovane::StopProduct(notRunning, 100, &exe), tovane::StopOutcome::kNotRunning);
    EXPECT_TRUE(exe.empty());
    FakeProduct noWindow;
    noWindow.window = false;
    EXPECT_EQ(tovane::StopProduct(noWindow, 100, &exe), tovane::StopOutcome::kNoWindow);
    for (const FakeProduct* p : {&notRunning, &noWindow}) {
        EXPECT_EQ(p->closes + p->terminates + p->asks, 0);
    }
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = FreshDir(CurrentTestFileName()) + "\\";
        source_ = FreshDir(CurrentTestFileName() + "-downloads") + "\\";
        ASSERT_TRUE(WriteFile(program_ + "a.dll", "old a"));
        ASSERT_TRUE(WriteFile(program_ + "Kelvo.exe", "old exe"));
        ASSERT_TRUE(WriteFile(program_ + "Version.ini", "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n"));
        ASSERT_TRUE(WriteFile(source_ + "a.dll", "new a"));
        ASSERT_TRUE(WriteFile(source_ + "Kelvo.exe", "new exe"));
        ASSERT_TRUE(WriteFile(source_ + "n.dat", "new n"));
        product_.exe = program_ + "Kelvo.exe";
        product_.endsOnClose = true;
        product_.journal = program_ + "Tovane.journal";
        request_.programFolder = program_;
        request_.sourceFolder = source_;
        request_.names = {"a.dll", "Kelvo.exe", "n.dat"};
        request_.versionFileName = "Version.ini";
        request_.version = {2, 5};
    }

    void ExpectOld() {
        EXPECT_EQ(Content(program_ + "a.dll"), "old a");
        EXPECT_EQ(Content(program_ + "Kelvo.exe"), "old exe");
        EXPECT_FALSE(FileExists(program_ + "n.dat"));
        EXPECT_EQ(Content(program_ + "Version.ini"), "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    }
    void ExpectNothingLeftBehind() {
        EXPECT_FALSE(FileExists(program_ + "Tovane.journal"));
        EXPECT_FALSE(FileExists(program_ + "Tovane.journal.tmp"));
        EXPECT_FALSE(FileExists(program_ + "Tovane.rollback"));
    }

    std::string program_;
    std::string source_;
    FakeProduct product_;
    NoProgress progress_;
    tovane::InstallRequest request_;
};

TEST_F(InstallerTest, InstallsEveryFileThenTheVersionAndStartsTheProductAgain) {
    // Staged whole beside their destinations before the product goes down:
    // what is left while it is stopped is renames.
    for (const char* staged : {"0.new", "1.new", "2.new"}) {
        product_.watched.push_back(program_ + "Tovane.rollback\\" + staged);
    }
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kInstalled) << result.message;
    EXPECT_EQ(result.targetFolder, program_);
    EXPECT_EQ(Content(program_ + "a.dll"), "new a");
    EXPECT_EQ(Content(program_ + "Kelvo.exe"), "new exe");
    EXPECT_EQ(Content(program_ + "n.dat"), "new n");
    std::string version = Content(program_ + "Version.ini");
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
    EXPECT_NE(version.find("SubVer=5"), std::string::npos) << version;
    EXPECT_EQ(product_.started, std::vector<std::string>{product_.exe});
    EXPECT_TRUE(product_.journalAtClose) << "the product was closed before the journal was written";
    EXPECT_EQ(product_.watchedAtClose, (std::vector<std::string>{"new a", "new exe", "new n"}));
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, AFileThatCannotBeStagedLeavesTheProductRunningAndNothingBehind) {
    ASSERT_TRUE(::DeleteFileA((source_ + "Kelvo.exe").c_str()));
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kRolledBack) << result.message;
    EXPECT_NE(result.message.find("\"Kelvo.exe\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("Nothing was changed"), std::string::npos) << result.message;
    EXPECT_EQ(product_.closes, 0) << "the product was asked to close for an update it cannot get";
    EXPECT_TRUE(product_.started.empty());
    ExpectOld();
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, StagedCopiesWithoutAJournalAreRemovedOnTheNextStart) {
    ASSERT_TRUE(::CreateDirectoryA((program_ + "Tovane.rollback").c_str(), nullptr));
    ASSERT_TRUE(WriteFile(program_ + "Tovane.rollback\\0.new", "half of new a"));
    tovane::RecoveryResult result = tovane::RecoverInterruptedInstall(program_, product_);
    EXPECT_FALSE(result.found);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(product_.closes + product_.terminates, 0);
    ExpectOld();
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, CopiesFromTheCheckedHandlesFromTheirStartNotByPath) {
    // The handles as the dialog's check leaves them: read to their end.
    std::vector<kelvo::unique_hfile> held;
    for (const std::string& name : request_.names) {
        held.emplace_back(::CreateFileA((source_ + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.back()) << name;
        char buffer[64];
        DWORD got = 0;
        ASSERT_TRUE(::ReadFile(held.back().get(), buffer, sizeof buffer, &got, nullptr));
        request_.sources.push_back(held.back().get());
    }
    // Nothing stands at the paths: a copy by name would fail.
    request_.sourceFolder = FreshDir(CurrentTestFileName() + "-empty") + "\\";
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kInstalled) << result.message;
    EXPECT_EQ(Content(program_ + "a.dll"), "new a");
    EXPECT_EQ(Content(program_ + "Kelvo.exe"), "new exe");
    EXPECT_EQ(Content(program_ + "n.dat"), "new n");
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, AnEmptyListLeavesTheProductRunningAndChangesNothing) {
    request_.names = {""};
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kNothingToInstall);
    EXPECT_EQ(product_.closes, 0) << "the product was asked to close for nothing";
    EXPECT_TRUE(product_.started.empty());
    ExpectOld();
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, AFileHeldOpenRollsEverythingBackNamesItAndRestartsTheProduct) {
    ASSERT_TRUE(WriteFile(program_ + "n.dat", "old n"));
    HANDLE held = ::CreateFileA((program_ + "n.dat").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    ::CloseHandle(held);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kRolledBack) << result.message;
    EXPECT_NE(result.message.find("\"n.dat\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("system error 32"), std::string::npos) << result.message;
    EXPECT_EQ(Content(program_ + "a.dll"), "old a");
    EXPECT_EQ(Content(program_ + "Kelvo.exe"), "old exe");
    EXPECT_EQ(Content(program_ + "n.dat"), "old n");
    EXPECT_NE(Content(program_ + "Version.ini").find("MainVer=1"), std::string::npos);
    EXPECT_EQ(product_.started, std::vector<std::string>{product_.exe});
    ExpectNothingLeftBehind();
}

TEST_F(InstallerTest, AProductTheUserWillNotCloseIsLeftAsItWas) {
    product_.endsOnClose = false;
    product_.terminateWorks = false;
    product_.answers = {false};
    tovane::InstallResult result = tovane::Install(request_, product_, progress_);
    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kProductStillRunning);
    EXPECT_EQ(product_.asks, 1);
    EXPECT_TRUE(product_.started.empty());
    ExpectOld();
    ExpectNothingLeftBehind();
}

// What a killed installation leaves, made by hand: the journal, then each
// entry at one of its stages. Recovery must give the old version back from
// any mix of them, and finish a committed one.
struct CrashState {
    const char* name;
    // Per entry a.dll, Kelvo.exe, n.dat, Version.ini: 0 untouched, 1 staged
    // in part, 2 old moved aside, 3 new in place.
    int stage[4];
    bool committed;
};

TEST_F(InstallerTest, RecoveryPutsBackTheOldVersionFromEveryStage) {
    const CrashState cases[] = {
        {"journal only", {0, 0, 0, 0}, false},
        {"first staged in part", {1, 0, 0, 0}, false},
        {"first moved aside", {2, 0, 0, 0}, false},
        {"first in place, second staged", {3, 1, 0, 0}, false},
        {"new file in place", {3, 3, 3, 0}, false},
        {"version moved aside", {3, 3, 3, 2}, false},
        {"all in place, not committed", {3, 3, 3, 3}, false},
        {"committed", {3, 3, 3, 3}, true},
    };
    const char* names[] = {"a.dll", "Kelvo.exe", "n.dat", "Version.ini"};
    const char* fresh[] = {"new a", "new exe", "new n", "[Kelvo]\r\nMainVer=2\r\nSubVer=5\r\n"};
    for (const CrashState& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        tovane::InstallJournal journal;
        journal.state = c.committed ? tovane::InstallJournal::State::kCommitted
                                    : tovane::InstallJournal::State::kInstalling;
        journal.targetFolder = program_;
        journal.backupFolder = program_ + "Tovane.rollback\\";
        journal.restart = product_.exe;
        journal.entries = {
            {"a.dll", true}, {"Kelvo.exe", true}, {"n.dat", false}, {"Version.ini", true}};
        ASSERT_TRUE(::CreateDirectoryA(journal.backupFolder.c_str(), nullptr));
        ASSERT_TRUE(WriteFile(program_ + "Tovane.journal", tovane::FormatJournal(journal)));
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string destination = program_ + names[i];
            if (c.stage[i] >= 1) {
                ASSERT_TRUE(WriteFile(tovane::StagingPath(journal, i), "ne"));
            }
            if (c.stage[i] >= 2 && journal.entries[i].existed) {
                ASSERT_TRUE(
                    ::MoveFileA(destination.c_str(), tovane::BackupPath(journal, i).c_str()));
            }
            if (c.stage[i] >= 3) {
                ::DeleteFileA(tovane::StagingPath(journal, i).c_str());
                ASSERT_TRUE(WriteFile(destination, fresh[i]));
            }
        }
        FakeProduct product;
        product.running = false;
        tovane::RecoveryResult result = tovane::RecoverInterruptedInstall(program_, product);
        EXPECT_TRUE(result.found);
        EXPECT_TRUE(result.ok) << result.message;
        if (c.committed) {
            for (std::size_t i = 0; i < 4; ++i) {
                EXPECT_EQ(Content(program_ + names[i]), fresh[i]);
            }
        } else {
            EXPECT_NE(result.message.find("undone"), std::string::npos) << result.message;
            ExpectOld();
        }
        EXPECT_EQ(product.started, std::vector<std::string>{product_.exe})
            << "the product stopped for the update runs again";
        ExpectNothingLeftBehind();
    }
}

TEST_F(InstallerTest, AnUnreadableJournalIsLeftAloneAndStopsTheCheck) {
    ASSERT_TRUE(::CreateDirectoryA((program_ + "Tovane.rollback").c_str(), nullptr));
    ASSERT_TRUE(WriteFile(program_ + "Tovane.rollback\\0.old", "old a"));
    ASSERT_TRUE(WriteFile(program_ + "Tovane.journal", "Tovane install journal 1\r\nstate=inst"));
    FakeProduct product;
    tovane::RecoveryResult result = tovane::RecoverInterruptedInstall(program_, product);
    EXPECT_TRUE(result.found);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("Tovane.journal"), std::string::npos) << result.message;
    EXPECT_TRUE(FileExists(program_ + "Tovane.journal"));
    EXPECT_EQ(Content(program_ + "Tovane.rollback\\0.old"), "old a");
    EXPECT_EQ(product.closes, 0);

    FakeProduct none;
    const std::string clean = FreshDir(CurrentTestFileName() + "-clean") + "\\";
    tovane::RecoveryResult nothing = tovane::RecoverInterruptedInstall(clean, none);
    EXPECT_FALSE(nothing.found);
    EXPECT_TRUE(nothing.ok);
}

// A record planted in the program folder that names another folder: the
// rollback of a "new" entry would delete that folder's file, and recovery
// would start the program it names. Neither happens.
TEST_F(InstallerTest, APlantedJournalNamingAnotherFolderIsLeftAlone) {
    const std::string outside = FreshDir(CurrentTestFileName() + "-outside") + "\\";
    ASSERT_TRUE(WriteFile(outside + "victim.dll", "theirs"));
    ASSERT_TRUE(WriteFile(outside + "evil.exe", "a program"));
    struct {
        const char* name;
        std::string target, backup, restart;
        const char* why;
    } cases[] = {
        {"another folder, its program", outside, outside + "Tovane.rollback\\",
         outside + "evil.exe", "a program to start other than"},
        {"another folder without Kelvo.exe", outside, outside + "Tovane.rollback\\",
         outside + "Kelvo.exe", "is neither this one nor Kelvo's"},
        {"this folder, another program", program_, program_ + "Tovane.rollback\\",
         outside + "evil.exe", "a program to start other than"},
        // Elsewhere altogether is refused as unreadable already.
        {"this folder, backups in another of its folders", program_, program_ + "Other\\", "",
         "a backup folder other than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tovane::InstallJournal journal;
        journal.targetFolder = c.target;
        journal.backupFolder = c.backup;
        journal.restart = c.restart;
        journal.entries = {{"victim.dll", false}, {"Version.ini", false}};
        ASSERT_TRUE(WriteFile(program_ + "Tovane.journal", tovane::FormatJournal(journal)));
        FakeProduct product;
        product.running = false;
        tovane::RecoveryResult result = tovane::RecoverInterruptedInstall(program_, product);
        EXPECT_TRUE(result.found);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.message.find("was left alone"), std::string::npos) << result.message;
        EXPECT_NE(result.message.find(c.why), std::string::npos) << result.message;
        EXPECT_EQ(Content(outside + "victim.dll"), "theirs");
        EXPECT_TRUE(product.started.empty()) << "nothing named by the record is started";
        EXPECT_EQ(product.closes, 0);
        EXPECT_TRUE(FileExists(program_ + "Tovane.journal")) << "the record stays for a person";
    }
}

}  // namespace
}  // namespace kelvo::test
