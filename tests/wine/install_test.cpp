// The whole road of an update, driven from outside: the product stand-in
// running (or not), the downloads, stopping the product, installing,
// starting it again, and what the disk holds afterwards.
#include "tovane_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvo::test {
namespace {

const char kNewKelvoMarker[] = "\r\nKELVO-NEW-BUILD\r\n";

class InstallTest : public TovaneTest {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        productExe_ = WinPath(Env("KELVO_PRODUCT_EXE"));
        ASSERT_FALSE(productExe_.empty()) << "KELVO_PRODUCT_EXE not set";
        ASSERT_TRUE(ReadFile(productExe_, productBytes_));
        productDir_ = FreshDir(CurrentTestFileName() + "-product");
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    }

    void TearDown() override {
        // Every stand-in that recorded a start, the restarted ones included.
        for (const std::string& dir : {productDir_, programDir_, foreignDir_}) {
            if (!dir.empty()) {
                EndRecordedStarts(dir);
            }
        }
        foreign_.Kill();
        product_.Kill();
        TovaneTest::TearDown();
    }

    // Another program with a top-level window titled "Kelvo" (and the
    // product's mutex): the stand-in copied as Foreign.exe into a folder of
    // its own, started after anything else, so its window is on top.
    void StartForeign() {
        foreignDir_ = FreshDir(CurrentTestFileName() + "-foreign");
        ASSERT_TRUE(WriteFile(foreignDir_ + "\\Foreign.exe", productBytes_));
        // It would end on WM_CLOSE: a close asked of it shows.
        ASSERT_TRUE(WriteFile(foreignDir_ + "\\product.mode", "close"));
        std::string error;
        ASSERT_TRUE(foreign_.Start(foreignDir_ + "\\Foreign.exe", foreignDir_, "", &error))
            << error;
        ASSERT_NE(WaitForWindowOf(foreign_.Pid(), "Kelvo", 10000), nullptr);
        ASSERT_TRUE(WaitUntil([&] { return Starts(foreignDir_) == 1; }, 10000));
        foreignFiles_ = FileNames(foreignDir_);
    }

    // The foreign program still runs, started once, its folder as it was.
    void ExpectForeignUntouched() {
        EXPECT_TRUE(foreign_.Running()) << "the foreign program was closed or ended";
        EXPECT_EQ(Starts(foreignDir_), 1);
        EXPECT_EQ(FileNames(foreignDir_), foreignFiles_);
        EXPECT_FALSE(FileExists(foreignDir_ + "\\Version.ini"));
    }

    std::vector<std::string> FileNames(const std::string& dir) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (std::strcmp(data.cFileName, ".") != 0 &&
                    std::strcmp(data.cFileName, "..") != 0) {
                    names.push_back(data.cFileName);
                }
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Installs the stand-in as <dir>\Kelvo.exe beside an old a.dll and
    // starts it from there.
    void StartProduct(const std::string& mode) {
        ASSERT_TRUE(WriteFile(productDir_ + "\\Kelvo.exe", productBytes_));
        ASSERT_TRUE(WriteFile(productDir_ + "\\a.dll", "old a"));
        ASSERT_TRUE(WriteFile(productDir_ + "\\product.mode", mode));
        std::string error;
        ASSERT_TRUE(product_.Start(productDir_ + "\\Kelvo.exe", productDir_, "", &error)) << error;
        if (mode == "nowindow") {
            ASSERT_TRUE(WaitUntil([&] { return Starts(productDir_) == 1; }, 10000));
        } else {
            ASSERT_NE(WaitForWindowOf(product_.Pid(), "Kelvo", 10000), nullptr);
        }
    }

    // Version 2.0 with new a.dll and Kelvo.exe, offered over installed 1.0.
    void PublishUpdate(const std::string& programs) {
        PublishManifest(programs, 2, 0, "Kelvo 2.0?Faster start-up");
        Publish("a.dll", "new a");
        Publish("b.dat", std::string(20000, 'b'));
        Publish("c.dat", "new c");
        Publish("Kelvo.exe", productBytes_ + kNewKelvoMarker);
    }

    // Starts the updater, presses "Update" and returns the first message box
    // with the caption "Update" (success or failure).
    MessageBoxSeen RunUpdate(HWND* dialogOut = nullptr) {
        MessageBoxSeen box;
        HWND dialog = Launch(tovane_);
        if (dialog == nullptr) {
            return box;
        }
        if (dialogOut != nullptr) {
            *dialogOut = dialog;
        }
        EXPECT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        // The box has the same caption as the dialog: pass the dialog over.
        WaitForMessageBox(tovane_.Pid(), "Update", 30000, &box, dialog);
        return box;
    }

    int Starts(const std::string& dir) { return static_cast<int>(RecordedStarts(dir).size()); }

    std::string FileText(const std::string& path) {
        std::string content;
        return ReadFile(path, content) ? content : std::string("<missing>");
    }

    std::string InstalledVersion() { return FileText(programDir_ + "\\Version.ini"); }

    void FinishWithOk(const MessageBoxSeen& box) {
        AnswerMessageBox(box, IDOK);
        DWORD code = 1234;
        EXPECT_TRUE(tovane_.WaitExit(15000, &code)) << "the updater did not end after success";
    }

    std::string productExe_;
    std::string productBytes_;
    std::string productDir_;
    Child product_;
    std::string foreignDir_;
    std::vector<std::string> foreignFiles_;
    Child foreign_;
};

struct Scenario {
    const char* name;
    const char* mode;     // the product's behaviour, or nullptr: not running
    bool intoProductDir;  // files go to the product's folder (else the program folder)
    bool restarted;       // the product is started again from its folder
    bool oldProductEnds;  // the running copy is gone afterwards
    bool endsOnItsOwn;    // it was given the time to end (exit code 0), not ended
};

class InstallScenarioTest : public InstallTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(InstallScenarioTest, InstallsRestartsAndRecordsTheVersion) {
    const Scenario& s = GetParam();
    if (s.mode != nullptr) {
        StartProduct(s.mode);
    }
    PublishUpdate("a.dll?Kelvo.exe?");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(box.text, "Update success");
    Shot(box.hwnd, std::string("install_") + s.name);

    const std::string target = s.intoProductDir ? productDir_ : programDir_;
    EXPECT_EQ(FileText(target + "\\a.dll"), "new a");
    // Compared as a flag: the bytes of an executable make no useful message.
    EXPECT_TRUE(FileText(target + "\\Kelvo.exe") == productBytes_ + kNewKelvoMarker)
        << "Kelvo.exe in " << target << " is not the new build";
    if (s.mode != nullptr && !s.intoProductDir) {
        EXPECT_EQ(FileText(productDir_ + "\\a.dll"), "old a")
            << "the product's folder was not the target";
    }
    if (s.oldProductEnds) {
        DWORD code = 1234;
        EXPECT_TRUE(product_.WaitExit(5000, &code)) << "the running product was not stopped";
        if (s.endsOnItsOwn) {
            EXPECT_EQ(code, 0u) << "the product was ended instead of being let finish";
        }
    } else if (s.mode != nullptr) {
        EXPECT_TRUE(product_.Running());
    }
    if (s.restarted) {
        EXPECT_TRUE(WaitUntil([&] { return Starts(productDir_) == 2; }, 15000))
            << "not started again";
        std::string log = FileText(productDir_ + "\\started.log");
        std::string second = log.substr(log.find('\n') + 1);
        EXPECT_NE(second.find("exe=" + productDir_ + "\\Kelvo.exe"), std::string::npos) << second;
    } else {
        ::Sleep(1000);
        EXPECT_EQ(Starts(programDir_), 0)
            << "nothing is started when the product's path is unknown";
        EXPECT_LE(Starts(productDir_), 1);
    }

    if (s.mode != nullptr && std::string(s.mode) == "saving") {
        const std::string saved = FileText(productDir_ + "\\saved.dat");
        const std::string end = "complete\n";
        EXPECT_TRUE(saved.size() > end.size() &&
                    saved.compare(saved.size() - end.size(), end.size(), end) == 0)
            << "the product's save was cut: " << saved;
    }

    FinishWithOk(box);
    // The version is recorded where the files went, and only there.
    std::string version = FileText(target + "\\Version.ini");
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
    EXPECT_NE(version.find("SubVer=0"), std::string::npos) << version;
    if (target != programDir_) {
        EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
    }
    EXPECT_FALSE(FileExists(target + "\\Tovane.rollback")) << "backups are removed";
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal")) << "the journal is removed";
    EXPECT_FALSE(FileExists(tempDir_ + "a.dll")) << "downloads are deleted at the end";
    EXPECT_FALSE(FileExists(tempDir_ + "Kelvo.exe"));
}

INSTANTIATE_TEST_SUITE_P(
    Product, InstallScenarioTest,
    ::testing::Values(Scenario{"NotRunning", nullptr, false, false, false, false},
                      Scenario{"ClosesInTime", "close", true, true, true, true},
                      Scenario{"IgnoresClose", "ignore", true, true, true, false},
                      Scenario{"MutexWithoutWindow", "nowindow", false, false, false, false},
                      Scenario{"NeedsSecondsToExit", "slowexit", true, true, true, true},
                      Scenario{"StillSavingAfterClose", "saving", true, true, true, true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// Explorer open on a folder named Kelvo has such a window, as may any other
// program: it is neither closed nor updated, whichever window is on top.
TEST_F(InstallTest, AForeignWindowTitledKelvoIsLeftAloneWhileTheProductIsUpdated) {
    StartProduct("close");
    StartForeign();
    PublishUpdate("a.dll?Kelvo.exe?");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(box.text, "Update success");

    DWORD code = 1234;
    EXPECT_TRUE(product_.WaitExit(5000, &code)) << "the product was not stopped";
    EXPECT_EQ(code, 0u) << "the product was ended instead of closed";
    EXPECT_EQ(FileText(productDir_ + "\\a.dll"), "new a");
    EXPECT_TRUE(FileText(productDir_ + "\\Kelvo.exe") == productBytes_ + kNewKelvoMarker)
        << "Kelvo.exe in the product's folder is not the new build";
    EXPECT_TRUE(WaitUntil([&] { return Starts(productDir_) == 2; }, 15000))
        << "the product was not started again";
    const std::string log = FileText(productDir_ + "\\started.log");
    EXPECT_NE(log.substr(log.find('\n') + 1).find("exe=" + productDir_ + "\\Kelvo.exe"),
              std::string::npos)
        << log;
    ExpectForeignUntouched();

    FinishWithOk(box);
    EXPECT_NE(FileText(productDir_ + "\\Version.ini").find("MainVer=2"), std::string::npos);
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
    ExpectForeignUntouched();
}

// The product's mutex is there and a window titled "Kelvo", but no Kelvo.exe
// behind it: as with a product that runs without a window, nothing is
// closed and the files go to the program folder.
TEST_F(InstallTest, WithOnlyAForeignWindowTitledKelvoTheUpdateGoesToTheProgramFolder) {
    StartForeign();
    PublishUpdate("a.dll?Kelvo.exe?");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(box.text, "Update success");
    EXPECT_EQ(FileText(programDir_ + "\\a.dll"), "new a");
    EXPECT_TRUE(FileText(programDir_ + "\\Kelvo.exe") == productBytes_ + kNewKelvoMarker)
        << "Kelvo.exe in the program folder is not the new build";
    ::Sleep(1000);
    EXPECT_EQ(Starts(programDir_), 0) << "nothing is started when the product's path is unknown";
    ExpectForeignUntouched();
    FinishWithOk(box);
    EXPECT_NE(InstalledVersion().find("MainVer=2"), std::string::npos) << InstalledVersion();
    ExpectForeignUntouched();
}

TEST_F(InstallTest, WithoutAKeyAFilesEntryThatIsThereIsStillChecked) {
    PublishUpdate("a.dll?Kelvo.exe?");
    std::string manifest;
    ASSERT_TRUE(ReadFile(updateFolder_ + "\\Version.txt", manifest));
    // a.dll's size is right, its digest is of other bytes; Kelvo.exe has none.
    Publish("Version.txt", manifest + "[Files]\r\na.dll=5 " + std::string(64, '0') + "\r\n");
    MessageBoxSeen box = RunUpdate();
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text,
              "The update file \"a.dll\" does not match the update information (hash "
              "mismatch). Nothing was changed; please try the update again later.");
    AnswerMessageBox(box, IDOK);
    EXPECT_FALSE(FileExists(programDir_ + "\\a.dll"));
    EXPECT_FALSE(FileExists(programDir_ + "\\Kelvo.exe"));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
}

// Compatibility pin: the original never installs the last entry; servers' lists end in '?' for it.
TEST_F(InstallTest, ListWithoutFinalQuestionMarkLeavesTheLastFileOut) {
    PublishUpdate("a.dll?b.dat");
    MessageBoxSeen box = RunUpdate();
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, "Update success");
    EXPECT_EQ(FileText(programDir_ + "\\a.dll"), "new a");
    EXPECT_FALSE(FileExists(programDir_ + "\\b.dat"));
    EXPECT_TRUE(FileExists(tempDir_ + "b.dat")) << "downloaded, not installed";
    FinishWithOk(box);
    EXPECT_FALSE(FileExists(tempDir_ + "b.dat")) << "deleted when the dialog ends";
}

TEST_F(InstallTest, CopyFailureOfTheSecondOfThreeRestoresTheFirst) {
    ASSERT_TRUE(WriteFile(programDir_ + "\\a.dll", "old a"));
    // A folder where b.dat should go: the copy over it fails.
    ASSERT_TRUE(::CreateDirectoryA((programDir_ + "\\b.dat").c_str(), nullptr));
    PublishUpdate("a.dll?b.dat?c.dat?");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr);
    // The message names the file and the system's error code.
    EXPECT_NE(box.text.find("\"b.dat\""), std::string::npos) << box.text;
    std::size_t at = box.text.find("system error ");
    ASSERT_NE(at, std::string::npos) << box.text;
    int code = std::atoi(box.text.c_str() + at + std::strlen("system error "));
    EXPECT_NE(code, 0) << box.text;
    Shot(box.hwnd, "install_copy_failure");
    AnswerMessageBox(box, IDOK);

    // Nothing half-done: the first file has its old content again.
    EXPECT_TRUE(WaitUntil([&] { return FileText(programDir_ + "\\a.dll") == "old a"; }, 5000))
        << FileText(programDir_ + "\\a.dll");
    EXPECT_FALSE(FileExists(programDir_ + "\\c.dat"));
    // The dialog stays, showing "update", until the user closes it.
    ::Sleep(500);
    EXPECT_TRUE(tovane_.Running());
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "update");
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
}

TEST_F(InstallTest, BrokenDownloadInstallsNothingAndLeavesTheProductRunning) {
    StartProduct("close");
    PublishUpdate("a.dll?b.dat?");
    // Broken off every time, and without a validator nothing ties a part to
    // what came before: it is never taken up again, only started over.
    PublishFault("b.dat", R"({"reset_after": 5000, "no_etag": true, "no_last_modified": true})");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_NE(box.text.find("b.dat"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("could not be downloaded completely"), std::string::npos) << box.text;
    Shot(box.hwnd, "install_broken_download");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(FileText(productDir_ + "\\a.dll"), "old a");
    EXPECT_FALSE(FileExists(productDir_ + "\\b.dat"));
    EXPECT_TRUE(product_.Running()) << "the product was stopped for an update that cannot happen";
    EXPECT_EQ(Starts(productDir_), 1);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
    EXPECT_FALSE(FileExists(tempDir_ + "b.dat")) << "the partial download is deleted at the end";
}

// Compatibility pin: the original rewrote Version.ini on close; stored files keep the form it gave.
TEST_F(InstallTest, ClosingWithoutUpdatingDeletesListedDownloadsAndRewritesTheVersion) {
    PublishUpdate("a.dll?b.dat?");
    // Files of the listed names in the temporary folder, fetched or not.
    ASSERT_TRUE(WriteFile(tempDir_ + "a.dll", "stale"));
    ASSERT_TRUE(WriteFile(tempDir_ + "b.dat", "stale"));
    ASSERT_TRUE(WriteFile(tempDir_ + "unlisted.dat", "keep"));
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=7\r\nOther=kept\r\n");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog));
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_FALSE(FileExists(tempDir_ + "a.dll"));
    EXPECT_FALSE(FileExists(tempDir_ + "b.dat"));
    EXPECT_TRUE(FileExists(tempDir_ + "unlisted.dat"));
    ::DeleteFileA((tempDir_ + "unlisted.dat").c_str());
    std::string version = InstalledVersion();
    EXPECT_NE(version.find("MainVer=1"), std::string::npos) << version;
    EXPECT_NE(version.find("SubVer=7"), std::string::npos) << version;
    EXPECT_NE(version.find("Other=kept"), std::string::npos) << "other keys are left alone";
}

TEST_F(InstallTest, AFileHeldOpenElsewhereRollsBackAndStartsTheProductAgain) {
    StartProduct("close");
    ASSERT_TRUE(WriteFile(productDir_ + "\\c.dat", "old c"));
    PublishUpdate("a.dll?c.dat?");
    // This test process holds c.dat open without sharing, as a virus scanner
    // or a backup program might.
    HANDLE held = ::CreateFileA((productDir_ + "\\c.dat").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ::DeleteFileA((tempDir_ + "Tovane.log").c_str());
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ::CloseHandle(held);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_NE(box.text.find("\"c.dat\""), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("system error 32"), std::string::npos) << box.text;
    // The same failure, for whoever looks after the machine.
    const std::string log = FileText(tempDir_ + "Tovane.log");
    EXPECT_NE(log.find("Installing failed, error 32: c.dat"), std::string::npos) << log;
    Shot(box.hwnd, "install_held_file");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(FileText(productDir_ + "\\a.dll"), "old a");
    EXPECT_EQ(FileText(productDir_ + "\\c.dat"), "old c");
    EXPECT_FALSE(FileExists(productDir_ + "\\Version.ini")) << "no version over old files";
    EXPECT_FALSE(FileExists(productDir_ + "\\Tovane.rollback"));
    EXPECT_TRUE(WaitUntil([&] { return Starts(productDir_) == 2; }, 15000))
        << "the product stopped for the update was not started again";
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
}

TEST_F(InstallTest, AnUpdateOfTheUpdaterItselfReplacesTheRunningImage) {
    // The updater runs from the folder it updates.
    std::string updaterBytes;
    ASSERT_TRUE(ReadFile(exe_, updaterBytes));
    ASSERT_TRUE(WriteFile(programDir_ + "\\Tovane.exe", updaterBytes));
    exe_ = programDir_ + "\\Tovane.exe";
    PublishUpdate("a.dll?Tovane.exe?");
    const std::string newUpdater = updaterBytes + "\r\nTOVANE-NEW-BUILD\r\n";
    Publish("Tovane.exe", newUpdater);
    MessageBoxSeen box = RunUpdate();
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, "Update success");
    EXPECT_EQ(FileText(programDir_ + "\\a.dll"), "new a");
    EXPECT_TRUE(FileText(programDir_ + "\\Tovane.exe") == newUpdater) << "Tovane.exe is not new";
    FinishWithOk(box);
    EXPECT_NE(InstalledVersion().find("MainVer=2"), std::string::npos) << InstalledVersion();

    // The next start (of the new image) removes the old one.
    Child next;
    HWND dialog = Launch(next);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ItemText(dialog, IDC_STATUS) == kNotNeeded; }, 15000))
        << ItemText(dialog, IDC_STATUS);
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.rollback")) << "the old image is left";
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal"));
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(next.WaitExit(10000));
}

TEST_F(InstallTest, AFailedUpdateOfTheUpdaterPutsTheRunningImageBack) {
    std::string updaterBytes;
    ASSERT_TRUE(ReadFile(exe_, updaterBytes));
    ASSERT_TRUE(WriteFile(programDir_ + "\\Tovane.exe", updaterBytes));
    exe_ = programDir_ + "\\Tovane.exe";
    ASSERT_TRUE(WriteFile(programDir_ + "\\c.dat", "old c"));
    PublishUpdate("Tovane.exe?c.dat?");
    Publish("Tovane.exe", updaterBytes + "\r\nTOVANE-NEW-BUILD\r\n");
    // c.dat, after Tovane.exe in the list, cannot be replaced.
    HANDLE held = ::CreateFileA((programDir_ + "\\c.dat").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ::CloseHandle(held);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_NE(box.text.find("\"c.dat\""), std::string::npos) << box.text;
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(FileText(programDir_ + "\\Tovane.exe") == updaterBytes)
        << "the updater's own image was not put back";
    EXPECT_EQ(FileText(programDir_ + "\\c.dat"), "old c");
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.rollback"));
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal"));
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
}

TEST_F(InstallTest, AnEmptyListLeavesTheProductRunningAndTheVersionAsItWas) {
    StartProduct("close");
    PublishManifest("", 2, 0, "Kelvo 2.0");
    HWND dialog = nullptr;
    MessageBoxSeen box = RunUpdate(&dialog);
    ASSERT_NE(box.hwnd, nullptr) << "no message box; status: " << ItemText(dialog, IDC_STATUS);
    EXPECT_NE(box.text.find("no files"), std::string::npos) << box.text;
    EXPECT_NE(box.text, "Update success");
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(product_.Running()) << "the product was closed for an update with no files";
    EXPECT_EQ(Starts(productDir_), 1);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    EXPECT_NE(InstalledVersion().find("MainVer=1"), std::string::npos) << InstalledVersion();
    EXPECT_FALSE(FileExists(productDir_ + "\\Version.ini"));
}

TEST_F(InstallTest, ALongListAndLongNotesAreReadWhole) {
    // 150 names of about 100 characters: the list is ~15 000 characters,
    // past the 10 239 a fixed buffer holds; so are the notes.
    std::string programs;
    std::vector<std::string> names;
    for (int i = 0; i < 150; ++i) {
        std::string name = "file-" + std::to_string(i) + "-" + std::string(90, 'x') + ".dat";
        names.push_back(name);
        programs += name + "?";
        Publish(name, "content of " + std::to_string(i));
    }
    const std::string notes = "Kelvo 2.0?" + std::string(12000, 'n') + "?END-OF-NOTES";
    PublishManifest(programs, 2, 0, notes);
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS).substr(0, 200);
    EXPECT_NE(ItemText(dialog, IDC_STATUS).find("END-OF-NOTES"), std::string::npos)
        << "the notes were cut";
    Click(dialog, IDC_UPDATE);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 120000, &box, dialog));
    EXPECT_EQ(box.text, "Update success");
    int installed = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        installed += FileText(programDir_ + "\\" + names[i]) == "content of " + std::to_string(i);
    }
    EXPECT_EQ(installed, 150);
    FinishWithOk(box);
    EXPECT_NE(InstalledVersion().find("MainVer=2"), std::string::npos) << InstalledVersion();
}

// The program folder as Wine's Z: drive reaches it: one folder, two spellings.
std::string ZDrivePath(const std::string& path) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        return std::string();
    }
    std::wstring wide(path.begin(), path.end());
    char* name = unixName(wide.c_str());
    if (name == nullptr) {
        return std::string();
    }
    std::string result = WinPath(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

TEST_F(InstallTest, TheProgramFolderSpelledAnotherWayStillGetsTheNewVersion) {
    const std::string other = ZDrivePath(programDir_);
    ASSERT_FALSE(other.empty()) << "no Z: path for " << programDir_;
    ASSERT_NE(other, programDir_);
    ASSERT_TRUE(WriteFile(programDir_ + "\\Kelvo.exe", productBytes_));
    ASSERT_TRUE(WriteFile(programDir_ + "\\a.dll", "old a"));
    std::string error;
    ASSERT_TRUE(product_.Start(other + "\\Kelvo.exe", other, "", &error)) << error;
    ASSERT_NE(WaitForWindowOf(product_.Pid(), "Kelvo", 10000), nullptr);
    PublishUpdate("a.dll?Kelvo.exe?");
    MessageBoxSeen box = RunUpdate();
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, "Update success");
    EXPECT_EQ(FileText(programDir_ + "\\a.dll"), "new a");
    FinishWithOk(box);
    // Closing must not write the old version back over the new one.
    std::string version = InstalledVersion();
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
}

// Compatibility pin: the original wrote a missing Version.ini as 0.0 on close; later runs read it.
TEST_F(InstallTest, MissingVersionFileIsCreatedWithZerosOnClose) {
    ::DeleteFileA((programDir_ + "\\Version.ini").c_str());
    HWND dialog = Launch(tovane_);  // no manifest on the server
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForDecision(dialog), kNotNeeded);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    std::string version = InstalledVersion();
    EXPECT_NE(version.find("[Kelvo]"), std::string::npos) << version;
    EXPECT_NE(version.find("MainVer=0"), std::string::npos) << version;
    EXPECT_NE(version.find("SubVer=0"), std::string::npos) << version;
}

}  // namespace
}  // namespace kelvo::test
