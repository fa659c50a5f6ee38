// A release in which most files did not change: what is already in the
// product's folder with its [Files] size and SHA-256 is neither fetched nor
// replaced, and the folder ends up whole all the same.
#include <string>
#include <vector>

#include "tovane_fixture.h"
#include "trust/verify.h"

namespace kelvo::test {
namespace {

std::string FilesValue(const std::string& content) {
    tovane::trust::Sha256Digest digest;
    EXPECT_TRUE(tovane::trust::Sha256(content.data(), content.size(), digest));
    return std::to_string(content.size()) + " " +
           tovane::trust::ToHex(digest.data(), digest.size());
}

struct File {
    std::string name;
    std::string installed;  // in the program folder before the update
    std::string released;   // in the release
};

class DeltaUpdateTest : public TovaneTest {
protected:
    void PublishRelease(const std::vector<File>& files) {
        std::string programs;
        std::string entries;
        for (const File& f : files) {
            programs += f.name + "?";
            entries += f.name + "=" + FilesValue(f.released) + "\r\n";
            Publish(f.name, f.released);
            if (!f.installed.empty()) {
                ASSERT_TRUE(WriteFile(programDir_ + "\\" + f.name, f.installed));
            }
        }
        Publish("Version.txt", "[Programs]\r\nPrograms=" + programs +
                                   "\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=0\r\nUpdateInof=2.0\r\n"
                                   "[Files]\r\n" +
                                   entries);
    }

    std::string Installed(const std::string& name) {
        std::string content;
        return ReadFile(programDir_ + "\\" + name, content) ? content : "<missing>";
    }

    std::string RunUpdate() {
        HWND dialog = Launch(tovane_);
        if (dialog == nullptr) {
            return "<no dialog>";
        }
        EXPECT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        MessageBoxSeen box;
        if (!WaitForMessageBox(tovane_.Pid(), "Update", 30000, &box, dialog)) {
            return "<no box>: " + ItemText(dialog, IDC_STATUS);
        }
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(tovane_.WaitExit(10000));
        return box.text;
    }
};

TEST_F(DeltaUpdateTest, OnlyTheChangedFileIsFetchedAndAllFiveAreRight) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    const std::string table(300000, 't');
    const std::vector<File> files = {
        {"a.dll", "same a", "same a"},
        {"b.dll", std::string(70000, 'b'), std::string(70000, 'b')},
        {"table.dat", table, table},
        {"c.dat", "old c", "new c"},  // the one that changed
        {"Kelvo.exe", "same exe", "same exe"},
    };
    PublishRelease(files);
    EXPECT_EQ(RunUpdate(), "Update success");
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{UpdatePath("Version.txt"), UpdatePath("c.dat")}));
    for (const File& f : files) {
        EXPECT_TRUE(Installed(f.name) == f.released) << f.name;
    }
    std::string version;
    ASSERT_TRUE(ReadFile(programDir_ + "\\Version.ini", version));
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal"));
    EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.rollback"));
}

TEST_F(DeltaUpdateTest, AFileOfTheRightSizeButOtherBytesIsFetched) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    const std::vector<File> files = {
        {"a.dll", "samE a", "same a"},  // same size, one byte differs
        {"b.dll", "", "new b"},         // not there at all
        {"c.dll", "same c", "same c"},
    };
    PublishRelease(files);
    EXPECT_EQ(RunUpdate(), "Update success");
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{UpdatePath("Version.txt"), UpdatePath("a.dll"),
                                        UpdatePath("b.dll")}));
    for (const File& f : files) {
        EXPECT_TRUE(Installed(f.name) == f.released) << f.name;
    }
}

TEST_F(DeltaUpdateTest, AReleaseWhoseFilesAreAllThereOnlyRecordsTheVersion) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    PublishRelease({{"a.dll", "same a", "same a"}, {"b.dll", "same b", "same b"}});
    EXPECT_EQ(RunUpdate(), "Update success");
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{UpdatePath("Version.txt")});
    std::string version;
    ASSERT_TRUE(ReadFile(programDir_ + "\\Version.ini", version));
    EXPECT_NE(version.find("MainVer=2"), std::string::npos) << version;
}

}  // namespace
}  // namespace kelvo::test
