// Updates into folders a standard user cannot write, as in C:\Program Files.
// This program runs as an unprivileged Unix user in that user's own prefix
// (as-standard-user.sh); each case has a program folder owned by root, with
// the old version, the product stand-in and the updater in it. Wine has no
// UAC: "runas" starts the copy with the same rights, so consent is shown by
// asking root, from the elevated copy's hold point, to hand the folder over.
//
// KELVO_PROTECTED: the folder that holds one program folder per case.
// KELVO_SIGNALS: where a request to hand a case's folder over is written
// ("chown", holding the case and the owner) and answered ("chown.done").
// KELVO_REPLAY: the release installed already, signed (Version.txt, .sig).
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "install_journal.h"
#include "res/resource.h"
#include "support/driver.h"

namespace kelvo::test {
namespace {

// The elevated step's answer to update files or information other than what
// the user's updater checked.
constexpr char kNoLongerMatch[] =
    "The update files no longer match the update information they were checked against. Nothing "
    "was changed; please try the update again later.";

const char kOldA[] = "old a";
const char kOldVersion[] = "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n";

// The process ids of the running programs with this file name whose parent
// is `parent`.
std::vector<DWORD> ChildrenNamed(DWORD parent, const char* name) {
    std::vector<DWORD> pids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return pids;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && ::lstrcmpiA(entry.szExeFile, name) == 0) {
            pids.push_back(entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return pids;
}

class ElevationTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string protectedRoot = WinPath(Env("KELVO_PROTECTED"));
        signals_ = WinPath(Env("KELVO_SIGNALS"));
        ASSERT_FALSE(protectedRoot.empty()) << "run through as-standard-user.sh";
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = protectedRoot + "\\" + FolderOf(name_);
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        temp_ = temp;
        held_ = temp_ + "Tovane.held";
        ::DeleteFileA(held_.c_str());
        // The folder refuses this user, as Program Files refuses a standard user.
        HANDLE probe = ::CreateFileA((folder_ + "\\probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        ASSERT_EQ(probe, INVALID_HANDLE_VALUE) << folder_ << " is writable for this user";
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        std::string error;
        ASSERT_TRUE(product_.Start(folder_ + "\\Kelvo.exe", folder_, "", &error)) << error;
        ASSERT_NE(WaitForWindowOf(product_.Pid(), "Kelvo", 10000), nullptr);
    }

    void TearDown() override {
        ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", nullptr);
        ::DeleteFileA(held_.c_str());
        tovane_.Kill();
        product_.Kill();
        for (DWORD pid : restarted_) {
            HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            if (process != nullptr) {
                ::TerminateProcess(process, 1);
                ::CloseHandle(process);
            }
        }
    }

    // The case's folder, by a word of the test's name.
    static std::string FolderOf(const std::string& test) {
        static const std::pair<const char*, const char*> kCases[] = {
            {"Given", "consent"},           {"Fails", "failure"},     {"Changed", "tampered"},
            {"Interrupted", "interrupted"}, {"Declined", "declined"}, {"Planted", "planted"},
            {"Older", "replayed"},
        };
        for (const auto& [word, folder] : kCases) {
            if (test.find(word) != std::string::npos) {
                return folder;
            }
        }
        return "unkeyed";
    }

    // Starts the updater of the case's folder, clicks "Update" once the
    // signed update is offered.
    HWND StartUpdate(const char* hold) {
        ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", hold);
        std::string error;
        EXPECT_TRUE(tovane_.Start(folder_ + "\\Tovane.exe", folder_, "", &error)) << error;
        ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", nullptr);
        HWND dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
        if (dialog == nullptr) {
            ADD_FAILURE() << "no update dialog";
            return nullptr;
        }
        EXPECT_TRUE(WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, 20000))
            << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        return dialog;
    }

    // The elevated copy has stopped at its hold point.
    bool ElevatedHolds(const char* at = "elevated") {
        std::string stage;
        return WaitUntil([&] { return ReadFile(held_, stage) && stage == at; }, 60000);
    }

    // Root hands the case's folder to this user, as consent would give the
    // elevated copy the right to write it, or takes it back.
    void HandFolderOver(const char* owner = "user") {
        const std::string done = signals_ + "\\chown.done";
        ::DeleteFileA(done.c_str());
        ASSERT_TRUE(WriteFile(signals_ + "\\chown", FolderOf(name_) + " " + owner));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(done); }, 20000)) << "root did not answer";
        ::DeleteFileA(done.c_str());
    }

    MessageBoxSeen Result(HWND dialog) {
        MessageBoxSeen box;
        EXPECT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 60000, &box, dialog))
            << ItemText(dialog, IDC_STATUS);
        return box;
    }

    void Finish(const MessageBoxSeen& box, HWND dialog) {
        if (box.hwnd != nullptr) {
            AnswerMessageBox(box, IDOK);
        }
        if (!tovane_.WaitExit(3000)) {
            Click(dialog, IDCANCEL);
        }
        EXPECT_TRUE(tovane_.WaitExit(10000));
    }

    std::string Content(const std::string& name) {
        std::string content;
        return ReadFile(folder_ + "\\" + name, content) ? content : "<missing>";
    }

    void ExpectOldVersion() {
        EXPECT_EQ(Content("a.dll"), kOldA);
        EXPECT_EQ(Content("Kelvo.dat"), "<missing>");
        EXPECT_EQ(Content("Version.ini"), kOldVersion);
        EXPECT_FALSE(FileExists(folder_ + "\\Tovane.journal"));
        EXPECT_FALSE(FileExists(folder_ + "\\Tovane.rollback"));
    }

    // The product runs again, started by the updater the user started, not
    // by its elevated copy.
    void ExpectRestartedByTheUser() {
        EXPECT_FALSE(product_.Running()) << "the product was not stopped for the install";
        EXPECT_TRUE(WaitUntil(
            [&] {
                restarted_ = ChildrenNamed(tovane_.Pid(), "Kelvo.exe");
                return !restarted_.empty();
            },
            10000))
            << "no Kelvo.exe started by the updater";
    }

    // Failures before the stop: the product was never asked to close.
    void ExpectLeftRunning() {
        EXPECT_TRUE(product_.Running()) << "the product was stopped for an update it did not get";
        EXPECT_TRUE(ChildrenNamed(tovane_.Pid(), "Kelvo.exe").empty());
    }

    // The update ends in a box with `text`, the product ran on throughout and
    // the folder holds the old version.
    void ExpectRefusedAndNothingChanged(HWND dialog, const char* text) {
        const MessageBoxSeen box = Result(dialog);
        EXPECT_EQ(box.text, text);
        ExpectLeftRunning();
        Finish(box, dialog);
        ExpectOldVersion();
    }

    std::string name_;
    std::string folder_;
    std::string signals_;
    std::string temp_;
    std::string held_;
    Child product_;
    Child tovane_;
    std::vector<DWORD> restarted_;
};

TEST_F(ElevationTest, AdministratorRightsGivenInstallEveryFileAndTheUserStartsTheProduct) {
    HWND dialog = StartUpdate("elevated,stopping");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ElevatedHolds()) << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Installing the update with administrator rights...");
    HandFolderOver();
    ::DeleteFileA(held_.c_str());
    // Staged and journalled with the product still running: it is down for
    // the renames alone.
    ASSERT_TRUE(ElevatedHolds("stopping"));
    EXPECT_TRUE(product_.Running()) << "the product was stopped before the files were staged";
    EXPECT_TRUE(FileExists(folder_ + "\\Tovane.journal"));
    std::string staged;
    EXPECT_TRUE(ReadFile(folder_ + "\\Tovane.rollback\\0.new", staged) &&
                staged == "Kelvo 1.1 sample data\r\n");
    ::DeleteFileA(held_.c_str());
    const MessageBoxSeen box = Result(dialog);
    EXPECT_EQ(box.text, "Update success");
    ExpectRestartedByTheUser();
    Finish(box, dialog);
    std::string expectedA;
    for (int i = 0; i < 300; ++i) {
        expectedA += "new a";
    }
    EXPECT_EQ(Content("a.dll"), expectedA);
    EXPECT_EQ(Content("Kelvo.dat"), "Kelvo 1.1 sample data\r\n");
    const std::string version = Content("Version.ini");
    EXPECT_NE(version.find("MainVer=1"), std::string::npos) << version;
    EXPECT_NE(version.find("SubVer=1"), std::string::npos) << version;
    EXPECT_FALSE(FileExists(folder_ + "\\Tovane.journal"));
    EXPECT_FALSE(FileExists(folder_ + "\\Tovane.rollback"));
}

TEST_F(ElevationTest, TheElevatedStepFailsAndNothingIsChangedAndTheProductRunsOn) {
    // No consent to hand the folder over: the copy runs with the user's rights.
    HWND dialog = StartUpdate(nullptr);
    ASSERT_NE(dialog, nullptr);
    ExpectRefusedAndNothingChanged(
        dialog,
        "Installing the update with administrator rights failed; every file has its "
        "previous content again. The update was not installed.");
}

TEST_F(ElevationTest, ConsentDeclinedChangesNothingAndTheProductRunsOn) {
    HWND dialog = StartUpdate("decline-elevation");
    ASSERT_NE(dialog, nullptr);
    ExpectRefusedAndNothingChanged(
        dialog,
        "Kelvo's folder can be changed only with administrator rights, which were not "
        "given. Nothing was changed.");
}

TEST_F(ElevationTest, AFileChangedAfterTheUsersCheckIsRefusedByTheElevatedStep) {
    HWND dialog = StartUpdate("elevated");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ElevatedHolds()) << ItemText(dialog, IDC_STATUS);
    // With the rights given, only the check can stop it.
    HandFolderOver();
    ASSERT_TRUE(WriteFile(temp_ + "a.dll", "planted by another program of this user"));
    ::DeleteFileA(held_.c_str());
    ExpectRefusedAndNothingChanged(dialog, kNoLongerMatch);
}

// Signed, but the release already installed: handed over in place of the
// new one, it is refused, rights or not.
TEST_F(ElevationTest, AnOlderSignedReleaseHandedOverIsRefusedByTheElevatedStep) {
    const std::string replay = WinPath(Env("KELVO_REPLAY")) + "\\";
    std::string manifest;
    std::string signature;
    ASSERT_TRUE(ReadFile(replay + "Version.txt", manifest));
    ASSERT_TRUE(ReadFile(replay + "Version.txt.sig", signature));
    HWND dialog = StartUpdate("elevated");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ElevatedHolds()) << ItemText(dialog, IDC_STATUS);
    HandFolderOver();
    ASSERT_TRUE(WriteFile(temp_ + "Tovane.install.txt", manifest));
    ASSERT_TRUE(WriteFile(temp_ + "Tovane.install.sig", signature));
    ::DeleteFileA(held_.c_str());
    ExpectRefusedAndNothingChanged(dialog, kNoLongerMatch);
}

TEST_F(ElevationTest, AnUpdaterWithoutAKeyDoesNotAskForAdministratorRights) {
    HWND dialog = StartUpdate("elevated");
    ASSERT_NE(dialog, nullptr);
    const MessageBoxSeen box = Result(dialog);
    EXPECT_NE(box.text.find("can be changed only with administrator rights. This updater has no "
                            "key to verify the update files with, so it does not ask for them."),
              std::string::npos)
        << box.text;
    EXPECT_FALSE(FileExists(held_)) << "an elevated copy was started";
    EXPECT_TRUE(product_.Running()) << "the product was stopped for an update it cannot get";
    Finish(box, dialog);
    ExpectOldVersion();
}

TEST_F(ElevationTest, AnInterruptedElevatedInstallIsPutRightElevatedOnTheNextStart) {
    HWND dialog = StartUpdate("elevated,placed.0");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ElevatedHolds()) << ItemText(dialog, IDC_STATUS);
    HandFolderOver();
    ::DeleteFileA(held_.c_str());
    // A power cut once the first file is in place: both copies end at once.
    ASSERT_TRUE(ElevatedHolds("placed.0"));
    const std::vector<DWORD> elevated = ChildrenNamed(tovane_.Pid(), "Tovane.exe");
    ASSERT_EQ(elevated.size(), 1u);
    HANDLE copy = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, elevated[0]);
    ASSERT_NE(copy, nullptr);
    ::TerminateProcess(copy, 1);
    ::WaitForSingleObject(copy, 5000);
    ::CloseHandle(copy);
    tovane_.Kill();
    ASSERT_TRUE(FileExists(folder_ + "\\Tovane.journal"));
    EXPECT_EQ(Content("Kelvo.dat"), "Kelvo 1.1 sample data\r\n") << "not cut off where meant";
    HandFolderOver("root");
    ::DeleteFileA(held_.c_str());

    // The next start needs administrator rights to put the folder right.
    ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", "recovering");
    std::string error;
    ASSERT_TRUE(tovane_.Start(folder_ + "\\Tovane.exe", folder_, "", &error)) << error;
    ::SetEnvironmentVariableA("TOVANE_INSTALL_HOLD", nullptr);
    dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(ElevatedHolds("recovering"));
    HandFolderOver();
    ::DeleteFileA(held_.c_str());
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ItemText(dialog, IDC_STATUS) ==
                   "An interrupted update was put right with administrator rights.";
        },
        20000, 5))
        << ItemText(dialog, IDC_STATUS);
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(folder_ + "\\Tovane.journal"); }, 10000));
    ExpectOldVersion();
    // The product the interrupted install had stopped runs again, started
    // by this updater.
    EXPECT_FALSE(product_.Running());
    EXPECT_TRUE(WaitUntil(
        [&] {
            restarted_ = ChildrenNamed(tovane_.Pid(), "Kelvo.exe");
            return !restarted_.empty();
        },
        10000));
    // The check goes on, over the old version again.
    EXPECT_TRUE(WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, 20000))
        << ItemText(dialog, IDC_STATUS);
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
}

// An updater in a folder the user may write, whose journal names Kelvo's
// protected folder: as administrator it would delete the "new" a.dll there.
TEST_F(ElevationTest, APlantedJournalAboutAnotherFolderIsLeftAloneAsAdministrator) {
    const std::string program = temp_ + "planted-program\\";
    ::CreateDirectoryA(program.c_str(), nullptr);
    std::string updater;
    ASSERT_TRUE(ReadFile(folder_ + "\\Tovane.exe", updater));
    ASSERT_TRUE(WriteFile(program + "Tovane.exe", updater));
    ASSERT_TRUE(WriteFile(program + "Version.ini", kOldVersion));
    tovane::InstallJournal journal;
    journal.targetFolder = folder_ + "\\";
    journal.backupFolder = journal.targetFolder + "Tovane.rollback\\";
    journal.entries.push_back({"a.dll", false});
    ASSERT_TRUE(WriteFile(program + "Tovane.journal", tovane::FormatJournal(journal)));

    std::string error;
    ASSERT_TRUE(tovane_.Start(program + "Tovane.exe", program, "", &error)) << error;
    HWND dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
    ASSERT_NE(dialog, nullptr);
    const std::string refused =
        "The updater with administrator rights left the record of an interrupted update alone: "
        "it acts only on a record about its own folder. No update check was made.";
    EXPECT_TRUE(WaitUntil([&] { return ItemText(dialog, IDC_STATUS) == refused; }, 20000))
        << ItemText(dialog, IDC_STATUS);
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    EXPECT_EQ(Content("a.dll"), kOldA);
    EXPECT_TRUE(FileExists(program + "Tovane.journal")) << "the record is kept for a person";
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
}

}  // namespace
}  // namespace kelvo::test
