// A release in which most files did not change: what is already in the
// product's folder with its [Files] size and SHA-256 is neither fetched nor
// replaced, and the folder ends up whole all the same.
#include <string>
#include <vector>

#include "gzip_form.h"
#include "files_value.h"
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

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
        // After a refusal the dialog stays until it is closed.
        if (!tovane_.WaitExit(3000)) {
            Click(dialog, IDCANCEL);
        }
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

std::string Gzip(const std::string& content) {
    kelvo::publish::GzipForm form;
    std::string packed;
    std::string why;
    EXPECT_TRUE(form.Add(content.data(), content.size(), packed, why)) << why;
    EXPECT_TRUE(form.Finish(packed, why)) << why;
    return packed;
}

// A table of text, as the releases carry them: it packs to a fraction.
std::string Table() {
    std::string text;
    for (int i = 0; i < 60000; ++i) {
        text += "row " + std::to_string(i) + ";" + std::to_string(i * 7919 % 100003) + "\r\n";
    }
    return text;
}

struct CompressedCase {
    const char* name;
    const char* fault;  // of the table's gzip form
    bool corrupt;       // a byte of the served form changed
    bool installed;
    int gzipRequests;  // of the table's gzip form
};

class CompressedFormTest : public DeltaUpdateTest,
                           public ::testing::WithParamInterface<CompressedCase> {};

TEST_P(CompressedFormTest, OnlyTheGzipFormIsFetchedAndItsBytesAreChecked) {
    const CompressedCase& c = GetParam();
    // A name of its own: the server counts requests per name over the run,
    // and a fault for the first request must meet this row's first.
    const std::string name = std::string("table-") + c.name + ".dat";
    const std::string packedName = name + ".gz";
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    ASSERT_TRUE(WriteFile(programDir_ + "\\" + name, "old table"));
    const std::string table = Table();
    std::string packed = Gzip(table);
    ASSERT_LT(packed.size(), table.size() * 9 / 10);
    const std::string listed = std::to_string(packed.size());
    if (c.corrupt) {
        packed[packed.size() / 2] ^= 0x55;
    }
    Publish(name, table);
    Publish(packedName, packed);
    if (c.fault != nullptr) {
        PublishFault(packedName, c.fault);
    }
    Publish("Version.txt", "[Programs]\r\nPrograms=" + name +
                               "?\r\n[Kelvo]\r\nMainVer=2\r\nSubVer=0\r\nUpdateInof=2.0\r\n"
                               "[Files]\r\n" +
                               name + "=" + FilesValue(table) + "\r\n[Compressed]\r\n" + name +
                               "=gzip " + listed + "\r\n");
    const std::string box = RunUpdate();
    int gzipRequests = 0;
    for (const std::string& path : RequestedPaths()) {
        EXPECT_NE(path, UpdatePath(name)) << "the file itself is not fetched";
        gzipRequests += path == UpdatePath(packedName);
    }
    EXPECT_EQ(gzipRequests, c.gzipRequests);
    if (c.installed) {
        EXPECT_EQ(box, "Update success");
        EXPECT_TRUE(Installed(name) == table) << "the inflated bytes are installed";
    } else {
        EXPECT_EQ(box, "The update file \"" + name +
                           "\" could not be downloaded completely. Nothing was changed; please "
                           "try the update again later.");
        EXPECT_EQ(Installed(name), "old table");
    }
    EXPECT_FALSE(FileExists(tempDir_ + packedName)) << "the gzip form is not left behind";
    std::printf("  %s: %zu bytes for a file of %zu\n", c.name, packed.size(), table.size());
}

INSTANTIATE_TEST_SUITE_P(Forms, CompressedFormTest,
                         ::testing::Values(CompressedCase{"Whole", nullptr, false, true, 1},
                                           CompressedCase{"Corrupt", nullptr, true, false, 1},
                                           // Broken off part-way and taken up again with a Range.
                                           CompressedCase{
                                               "CutAndResumed",
                                               R"({"reset_after": [50000], "reset_delay": 0.1})",
                                               false, true, 2}),
                         [](const ::testing::TestParamInfo<CompressedCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kelvo::test
