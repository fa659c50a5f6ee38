// Clicks through one update on a display without a user: starts Tovane.exe in
// the program folder, waits for the offered update, presses "Update",
// acknowledges the result and saves a screenshot of each step.
//   kelvo_demo_driver TOVANE_EXE PROGRAM_DIR ARTIFACT_DIR
#include <cstdio>
#include <string>

#include "res/resource.h"
#include "support/driver.h"

using namespace kelvo::test;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TOVANE_EXE PROGRAM_DIR ARTIFACT_DIR\n", argv[0]);
        return 2;
    }
    const std::string exe = WinPath(argv[1]);
    const std::string programDir = WinPath(argv[2]);
    const std::string artifacts = WinPath(argv[3]);
    ::CreateDirectoryA(artifacts.c_str(), nullptr);

    Child tovane;
    std::string error;
    if (!tovane.Start(exe, programDir, "", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    HWND dialog = WaitForWindowOf(tovane.Pid(), "Update", 30000, "#32770");
    if (dialog == nullptr) {
        std::fprintf(stderr, "the update dialog did not appear\n");
        return 1;
    }
    if (!WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, 30000)) {
        std::fprintf(stderr, "no update offered; status: %s\n",
                     ItemText(dialog, IDC_STATUS).c_str());
        SaveScreenshot(dialog, artifacts + "\\1-no-update.png");
        return 1;
    }
    std::printf("offered, release notes:\n%s\n", ItemText(dialog, IDC_STATUS).c_str());
    SaveScreenshot(dialog, artifacts + "\\1-update-offered.png");

    Click(dialog, IDC_UPDATE);
    // The result box has the dialog's caption: pass the dialog over.
    MessageBoxSeen box;
    if (!WaitForMessageBox(tovane.Pid(), "Update", 120000, &box, dialog)) {
        std::fprintf(stderr, "no result after 120 s; status: %s\n",
                     ItemText(dialog, IDC_STATUS).c_str());
        return 1;
    }
    const std::string& text = box.text;
    std::printf("updater says: %s\n", text.c_str());
    SaveScreenshot(box.hwnd, artifacts + "\\2-result.png");
    AnswerMessageBox(box, IDOK);
    DWORD code = 0;
    if (!tovane.WaitExit(30000, &code)) {
        if (text != "Update success") {
            Click(dialog, IDCANCEL);
            tovane.WaitExit(10000, &code);
        }
    }
    std::printf("updater ended with exit code %lu\n", static_cast<unsigned long>(code));
    return text == "Update success" ? 0 : 1;
}
