// A vendor moving to a new signing key must not strand the machines whose
// updater knows only the old one. The last release signed with the old key
// ships an updater that holds both; the first release signed with the new
// key alone is then taken by that updater, from the same program folder.
// Folders from with-signed-updates.sh: rotation-last-old-key (1.1, the old
// key, Tovane.exe with both keys and Kelvo.dat) and rotation-first-new-key
// (1.2, the new key, Kelvo.dat and a.dll).
#include "tovane_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kelvo::test {
namespace {

class KeyRotationTest : public TovaneTest {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        updates_ = WinPath(Env("KELVO_TAMPER_UPDATES"));
        ASSERT_FALSE(updates_.empty()) << "KELVO_TAMPER_UPDATES not set (with-signed-updates.sh)";
        const std::string oldKeyExe = WinPath(Env("KELVO_OLD_KEY_EXE"));
        ASSERT_TRUE(ReadFile(oldKeyExe, oldKeyBytes_)) << "KELVO_OLD_KEY_EXE: " << oldKeyExe;
        // KELVO_TOVANE_EXE is the updater with both keys.
        ASSERT_TRUE(ReadFile(exe_, bothKeysBytes_)) << exe_;
        ASSERT_FALSE(oldKeyBytes_ == bothKeysBytes_) << "the two updaters are the same build";
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
        // The updater runs from the folder it updates, as installed.
        ASSERT_TRUE(WriteFile(programDir_ + "\\Tovane.exe", oldKeyBytes_));
        exe_ = programDir_ + "\\Tovane.exe";
    }

    // Only this release on the server, and a fresh request log.
    void Serve(const std::string& folder) {
        for (const std::string& dir : {updateFolder_, updates_ + "\\" + folder}) {
            const bool serving = dir != updateFolder_;
            WIN32_FIND_DATAA data;
            HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &data);
            ASSERT_NE(find, INVALID_HANDLE_VALUE) << dir;
            do {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    continue;
                }
                if (serving) {
                    std::string content;
                    ASSERT_TRUE(ReadFile(dir + "\\" + data.cFileName, content));
                    Publish(data.cFileName, content);
                } else {
                    ::DeleteFileA((dir + "\\" + data.cFileName).c_str());
                }
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        ::DeleteFileA((serverRoot_ + "\\requests.log").c_str());
    }

    std::string Served(const std::string& folder, const std::string& name) {
        std::string content;
        EXPECT_TRUE(ReadFile(updates_ + "\\" + folder + "\\" + name, content)) << name;
        return content;
    }

    std::string FileText(const std::string& path) {
        std::string content;
        return ReadFile(path, content) ? content : std::string("<missing>");
    }

    // Starts the program folder's Tovane.exe, takes the offered update and
    // answers the box; the status as offered is returned.
    std::string TakeUpdate(const char* step) {
        Child updater;
        const DWORD started = ::GetTickCount();
        HWND dialog = Launch(updater);
        if (dialog == nullptr) {
            return "<no dialog>";
        }
        if (!WaitForOffer(dialog)) {
            ADD_FAILURE() << step << ": no offer; " << ItemText(dialog, IDC_STATUS);
            return ItemText(dialog, IDC_STATUS);
        }
        const std::string offered = ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        MessageBoxSeen box;
        if (!WaitForMessageBox(updater.Pid(), "Update", 30000, &box, dialog)) {
            ADD_FAILURE() << step << ": no message box; " << ItemText(dialog, IDC_STATUS);
            return offered;
        }
        EXPECT_EQ(box.text, "Update success") << step;
        Shot(box.hwnd, std::string("rotation_") + step);
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(updater.WaitExit(15000)) << step << ": the updater did not end after success";
        std::printf("  %s: \"%s\" after %lu ms\n", step, box.text.c_str(),
                    static_cast<unsigned long>(::GetTickCount() - started));
        return offered;
    }

    std::string updates_;
    std::string oldKeyBytes_;
    std::string bothKeysBytes_;
};

TEST_F(KeyRotationTest, TheLastOldKeyReleaseCarriesTheUpdaterAcrossToTheNewKey) {
    const char newKeyRelease[] = "rotation-first-new-key";
    const char lastOldKeyRelease[] = "rotation-last-old-key";

    // The old updater cannot skip the release that brings the new key.
    Serve(newKeyRelease);
    {
        Child updater;
        HWND dialog = Launch(updater);
        ASSERT_NE(dialog, nullptr);
        const std::string status = WaitForDecision(dialog);
        EXPECT_EQ(status,
                  "The update information from the server could not be verified (signature does "
                  "not verify). No update is offered.");
        ::Sleep(500);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << "an update was offered";
        EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{UpdatePath("Version.txt"),
                                                              UpdatePath("Version.txt.sig")}));
        std::printf("  1.2 to the old-key updater: \"%s\"\n", status.c_str());
        Click(dialog, IDCANCEL);
        EXPECT_TRUE(updater.WaitExit(10000));
    }
    EXPECT_TRUE(FileText(programDir_ + "\\Tovane.exe") == oldKeyBytes_) << "Tovane.exe changed";
    EXPECT_FALSE(FileExists(programDir_ + "\\Kelvo.dat"));
    EXPECT_FALSE(FileExists(programDir_ + "\\a.dll"));
    EXPECT_NE(FileText(programDir_ + "\\Version.ini").find("SubVer=0"), std::string::npos)
        << FileText(programDir_ + "\\Version.ini");

    // The last release under the old key replaces the running updater.
    Serve(lastOldKeyRelease);
    EXPECT_EQ(TakeUpdate("1.1 (old key) to the old-key updater"),
              "Kelvo 1.1\r\n- ships the new signing key");
    EXPECT_TRUE(FileText(programDir_ + "\\Tovane.exe") == bothKeysBytes_)
        << "Tovane.exe is not the updater with both keys";
    EXPECT_EQ(FileText(programDir_ + "\\Kelvo.dat"), Served(lastOldKeyRelease, "Kelvo.dat"));
    EXPECT_NE(FileText(programDir_ + "\\Version.ini").find("SubVer=1"), std::string::npos)
        << FileText(programDir_ + "\\Version.ini");

    // Started again from the same folder, it takes the new key's release.
    Serve(newKeyRelease);
    EXPECT_EQ(TakeUpdate("1.2 (new key) to the updater 1.1 shipped"),
              "Kelvo 1.2\r\n- signed with the new key only");
    EXPECT_EQ(FileText(programDir_ + "\\Kelvo.dat"), Served(newKeyRelease, "Kelvo.dat"));
    EXPECT_EQ(FileText(programDir_ + "\\a.dll"), Served(newKeyRelease, "a.dll"));
    EXPECT_TRUE(FileText(programDir_ + "\\Tovane.exe") == bothKeysBytes_);
    EXPECT_NE(FileText(programDir_ + "\\Version.ini").find("SubVer=2"), std::string::npos)
        << FileText(programDir_ + "\\Version.ini");
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.rollback")) << "the old image is left";
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal"));
}

}  // namespace
}  // namespace kelvo::test
