// Start-up and the update dialog, driven from outside: start state, single
// instance, and every way of closing.
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

TEST_F(TovaneTest, StartsCheckingWithUpdateDisabledAndBarHidden) {
    // The manifest answers late, so the start state stays long enough to see.
    PublishManifest("a.dll?", 9, 9, "notes");
    PublishFault("Version.txt", R"({"delay_first": 4})");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Checking update");
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE));
    EXPECT_FALSE(ItemVisible(dialog, IDC_PROGRESS));
    EXPECT_TRUE(ItemEnabled(dialog, IDCANCEL));
    EXPECT_EQ(ItemText(dialog, IDC_UPDATE), "Update");
    EXPECT_EQ(ItemText(dialog, IDCANCEL), "Close");
    EXPECT_FALSE(::IsIconic(dialog)) << "the dialog is restored after its initialisation";
    Shot(dialog, "start_state");
}

struct CloseWay {
    const char* name;
    void (*act)(HWND dialog);
};

class TovaneCloseTest : public TovaneTest, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(TovaneCloseTest, EndsTheProcess) {
    PublishManifest("a.dll?", 0, 0, "");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    WaitForDecision(dialog);
    GetParam().act(dialog);
    DWORD code = 1234;
    EXPECT_TRUE(tovane_.WaitExit(10000, &code)) << GetParam().name << " did not end the process";
    EXPECT_EQ(code, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, TovaneCloseTest,
    ::testing::Values(CloseWay{"CloseButton", [](HWND d) { Click(d, IDCANCEL); }},
                      CloseWay{"CloseBox", [](HWND d) { ::PostMessageA(d, WM_CLOSE, 0, 0); }},
                      CloseWay{"SystemMenuClose",
                               [](HWND d) { ::PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
                      CloseWay{"Escape", [](HWND d) { PressEscape(d); }}),
    [](const ::testing::TestParamInfo<CloseWay>& info) { return std::string(info.param.name); });

TEST_F(TovaneTest, SecondCopyEndsSilentlyWhileFirstKeepsItsDialog) {
    PublishManifest("a.dll?", 0, 0, "");
    HWND first = Launch(tovane_);
    ASSERT_NE(first, nullptr);

    Child second;
    std::string error;
    ASSERT_TRUE(second.Start(exe_, programDir_, "", &error)) << error;
    bool showedWindow = false;
    bool ended = WaitUntil(
        [&] {
            if (!TopWindowsOf(second.Pid(), true).empty()) {
                showedWindow = true;
            }
            return !second.Running();
        },
        10000, 5);
    EXPECT_TRUE(ended) << "the second copy kept running";
    EXPECT_FALSE(showedWindow) << "the second copy showed a window";
    EXPECT_TRUE(tovane_.Running());
    EXPECT_TRUE(::IsWindow(first));
    EXPECT_TRUE(::IsWindowVisible(first));

    // Once the first copy has ended, the mutex went with it: a new copy runs.
    Click(first, IDCANCEL);
    ASSERT_TRUE(tovane_.WaitExit(10000));
    Child third;
    HWND dialog = Launch(third);
    EXPECT_NE(dialog, nullptr);
    third.Kill();
}

}  // namespace
}  // namespace kelvo::test
