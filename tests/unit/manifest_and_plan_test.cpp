#include "download_plan.h"
#include "manifest_text.h"

#include <gtest/gtest.h>

namespace {

// Compatibility pin: '?' is the original's line break; servers' manifests write their notes so.
TEST(NotesForDisplay, EveryQuestionMarkIsALineBreak) {
    EXPECT_EQ(tovane::NotesForDisplay("First line?Second line"), "First line\r\nSecond line");
    EXPECT_EQ(tovane::NotesForDisplay("??"), "\r\n\r\n");
    EXPECT_EQ(tovane::NotesForDisplay(""), "");
    EXPECT_EQ(tovane::NotesForDisplay("no breaks"), "no breaks");
}

// Compatibility pin: the original's unescaped URLs, every entry fetched; servers serve these paths.
TEST(DownloadPlan, PlainConcatenationOfBaseAndName) {
    const std::string base = "http://h/UploadFile/Product_Soft/Kelvo/";
    const std::string temp = "C:\\Temp\\";
    tovane::DownloadItem manifest = tovane::ManifestDownload(base, temp, "Version");
    EXPECT_EQ(manifest.url, base + "Version.txt");
    EXPECT_EQ(manifest.localPath, "C:\\Temp\\Version.ini");

    auto items = tovane::UpdateDownloads(base, temp, {"a.dll", "a.dll", "", "with space.exe", ""});
    ASSERT_EQ(items.size(), 3u) << "repeated entries are fetched too, empty ones never";
    EXPECT_EQ(items[0].url, base + "a.dll");
    EXPECT_EQ(items[1].localPath, "C:\\Temp\\a.dll");
    EXPECT_EQ(items[2].url, base + "with space.exe") << "nothing is escaped";
    EXPECT_EQ(items[2].name, "with space.exe");
}

TEST(DownloadPlan, CheckJobFetchesTheSignatureOnlyWithAKey) {
    const std::string base = "http://h/UploadFile/Product_Soft/Kelvo/";
    const std::string temp = "C:\\Temp\\";
    struct {
        bool withSignature;
        std::vector<std::pair<std::string, std::string>> expected;  // url, local path
    } const cases[] = {
        {false, {{base + "Version.txt", temp + "Version.ini"}}},
        {true,
         {{base + "Version.txt", temp + "Version.ini"},
          {base + "Version.txt.sig", temp + "Version.ini.sig"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.withSignature ? "with a key" : "without a key");
        auto items = tovane::CheckDownloads(base, temp, "Version", c.withSignature);
        ASSERT_EQ(items.size(), c.expected.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].url, c.expected[i].first);
            EXPECT_EQ(items[i].localPath, c.expected[i].second);
            EXPECT_TRUE(items[i].name.empty()) << "the check job's items are no listed files";
        }
    }
}

// Compatibility pin: the original's truncated steps and 16-bit range; users see the same bar.
TEST(ProgressArithmetic, StepsAndSixteenBitRange) {
    EXPECT_EQ(tovane::ProgressSteps(25600), 2u);  // two and a half chunks
    EXPECT_EQ(tovane::ProgressSteps(10239), 0u);
    EXPECT_EQ(tovane::ProgressSteps(10240), 1u);
    EXPECT_EQ(tovane::ProgressSteps(0), 0u);
    EXPECT_EQ(tovane::ProgressSteps(2147483647), 209715u);
    EXPECT_EQ(tovane::ProgressRangeUpper(2), 2);
    EXPECT_EQ(tovane::ProgressRangeUpper(70000), 4464);
    EXPECT_EQ(tovane::ProgressRangeUpper(209715), 13107);
    EXPECT_EQ(tovane::ProgressRangeUpper(40000), -25536) << "the low half is a signed 16-bit value";
}

}  // namespace
