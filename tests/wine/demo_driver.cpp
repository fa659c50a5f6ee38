// Clicks through one update on a display without a user: starts Tovane.exe in
// the program folder, waits for the offered update, presses "Update",
// acknowledges the result and saves a screenshot of each step. With
// "refused" last, the update is expected to be turned down (a tampered
// file): the driver then closes the dialog itself and succeeds only if the
// updater did not report success.
//   kelvo_demo_driver TOVANE_EXE PROGRAM_DIR ARTIFACT_DIR [refused]
#include <cstdio>
#include <string>

#include "res/resource.h"
#include "support/driver.h"

using namespace kelvo::test;

int main(int argc, char** argv) {
    const bool expectRefusal = argc == 5 && std::string(argv[4]) == "refused";
    if (argc != 4 && !expectRefusal) {
        std::fprintf(stderr, "usage: %s TOVANE_EXE PROGRAM_DIR ARTIFACT_DIR [refused]\n", argv[0]);
        return 2;
    }
    // Screenshots of a second run do not overwrite the first run's.
    const std::string shot = expectRefusal ? "\\refused-" : "\\";
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
        SaveScreenshot(dialog, artifacts + shot + "1-no-update.png");
        return 1;
    }
    std::printf("offered, release notes:\n%s\n", ItemText(dialog, IDC_STATUS).c_str());
    SaveScreenshot(dialog, artifacts + shot + "1-update-offered.png");

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
    SaveScreenshot(box.hwnd, artifacts + shot + "2-result.png");
    const bool succeeded = text == "Update success";
    AnswerMessageBox(box, IDOK);
    DWORD code = 0;
    if (!succeeded) {
        // After a refusal the dialog stays open for another try: close it.
        WaitUntil([&] { return !::IsWindow(box.hwnd); }, 5000);
        Click(dialog, IDCANCEL);
    }
    if (!tovane.WaitExit(30000, &code)) {
        std::fprintf(stderr, "the updater did not end\n");
        tovane.Kill();
        return 1;
    }
    std::printf("updater ended with exit code %lu\n", static_cast<unsigned long>(code));
    return succeeded != expectRefusal ? 0 : 1;
}
