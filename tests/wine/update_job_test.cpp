// The update job seen from outside: what is fetched, in which order, what
// the status box and the bar show, and closing while a transfer hangs.
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

TEST_F(TovaneTest, UpdateJobFetchesEveryListedNameInOrderWithStatusAndBar) {
    PublishManifest("a.dll?b.exe?c.dat?", 2, 0, "new");
    Publish("a.dll", std::string(30000, 'a'));
    Publish("b.exe", std::string(50000, 'b'));
    PublishFault("b.exe", R"({"stall": 3})");
    Publish("c.dat", "c");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);

    Click(dialog, IDC_UPDATE);
    ASSERT_TRUE(WaitUntil(
        [&] { return ItemText(dialog, IDC_STATUS) == "Downloading update file b.exe"; }, 10000))
        << ItemText(dialog, IDC_STATUS);
    EXPECT_TRUE(ItemVisible(dialog, IDC_PROGRESS));
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << "the button disables itself";
    Shot(dialog, "update_downloading");

    // Manifest, then every entry in list order; the empty one after the
    // last '?' names no file and is not asked for.
    const std::string base = "/UploadFile/Product_Soft/Kelvo/";
    std::vector<std::string> expected = {base + "Version.txt", base + "a.dll", base + "b.exe",
                                         base + "c.dat"};
    EXPECT_TRUE(WaitUntil([&] { return RequestedPaths().size() >= expected.size(); }, 15000));
    // Time for a request that should not come.
    ::Sleep(1000);
    EXPECT_EQ(RequestedPaths(), expected);
}

TEST_F(TovaneTest, RequestsBypassTheCache) {
    PublishManifest("a.dll?", 0, 0, "");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    WaitForDecision(dialog);
    std::string log;
    ASSERT_TRUE(ReadFile(serverRoot_ + "\\requests.log", log));
    EXPECT_NE(log.find("\"pragma\": \"no-cache\""), std::string::npos) << log;
}

TEST_F(TovaneTest, ClosingWhileATransferHangsEndsPromptly) {
    PublishManifest("slow.bin?", 2, 0, "new");
    Publish("slow.bin", std::string(40000, 's'));
    PublishFault("slow.bin", R"({"stall": 60})");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog));
    Click(dialog, IDC_UPDATE);
    ASSERT_TRUE(WaitUntil(
        [&] { return ItemText(dialog, IDC_STATUS) == "Downloading update file slow.bin"; }, 10000));
    ::Sleep(500);  // inside the hanging read

    DWORD start = ::GetTickCount();
    Click(dialog, IDCANCEL);
    DWORD code = 1234;
    ASSERT_TRUE(tovane_.WaitExit(8000, &code)) << "still running 8 s after Close";
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_LT(elapsed, 5000u) << "closing took " << elapsed << " ms";
    EXPECT_EQ(code, 0u) << "the process did not end normally";
}

}  // namespace
}  // namespace kelvo::test
