#include "tovanefile.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "build_config.h"
#include "command_line.h"
#include "res/resource.h"
#include "session/elevated_step.h"
#include "session/quiet_view.h"
#include "tovanefiledlg.h"
#include "ui/text.h"

CTovaneFileApp theApp;

namespace {

const char kUpdaterMutexName[] = "KelvoUpdate";

// Windows Sockets stays started for the life of the process.
struct SocketsStarted {
    bool ok = false;
    SocketsStarted() {
        WSADATA data;
        ok = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
    }
    ~SocketsStarted() {
        if (ok) {
            ::WSACleanup();
        }
    }
};

// The arguments after the program's name, as UTF-8.
std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        const int size =
            ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &argument[0], size, nullptr, nullptr);
        argument.resize(argument.size() - 1);
        arguments.push_back(argument);
    }
    ::LocalFree(argv);
    return arguments;
}

}  // namespace

CTovaneFileApp::CTovaneFileApp() = default;

// No window while it checks: only an update to offer opens the dialog, with
// the notes, as a check the user started would show them.
int CTovaneFileApp::RunQuietCheck() {
    auto session = std::make_shared<tovane::UpdateSession>(
        tovane::kUpdateBaseUrl, std::make_shared<tovane::QuietView>(), true);
    if (!tovane::UpdateSession::StartWorker(session, tovane::kCheckJob)) {
        tovane::diag::LogNote("the check could not be started", "quiet check");
        return tovane::kExitFailed;
    }
    // The check ends by itself: every transfer is bounded in time.
    session->Join(INFINITE);
    switch (session->Outcome()) {
    case tovane::CheckOutcome::kOffered: {
        CTovaneFileDlg dlg(nullptr, session);
        dlg.DoModal();
        return tovane::kExitOffered;
    }
    case tovane::CheckOutcome::kNoUpdate:
        session->End();
        return tovane::kExitDone;
    case tovane::CheckOutcome::kHeldBack:
        session->End();
        return tovane::kExitHeldBack;
    case tovane::CheckOutcome::kFailed:
        break;
    }
    session->End();
    return tovane::kExitFailed;
}

BOOL CTovaneFileApp::InitInstance() {
    INITCOMMONCONTROLSEX InitCtrls;
    InitCtrls.dwSize = sizeof(InitCtrls);
    InitCtrls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&InitCtrls);

    // Refused before anything else: a mistyped switch must not run a check
    // that shows a window where none was wanted.
    const tovane::CommandLine commandLine = tovane::ParseCommandLine(Arguments());
    if (!commandLine.valid) {
        const std::wstring text = L"Tovane.exe does not know the argument \"" +
                                  kelvo::ui::WideFromCodePage(commandLine.refused, CP_UTF8) +
                                  L"\".\r\n\r\nStart it with no argument to check for an "
                                  L"update, or with /quiet to check without a window unless "
                                  L"an update is offered.";
        ::MessageBoxW(nullptr, text.c_str(), L"Tovane", MB_OK | MB_ICONERROR);
        SetExitCode(tovane::kExitBadArguments);
        return FALSE;
    }

    // Started by an updater that waits for it and holds the updater's mutex
    // meanwhile: no window, no network, only the step it was given.
    if (commandLine.elevated != tovane::ElevatedStep::kNone) {
        SetExitCode(tovane::RunElevatedStep(commandLine));
        return FALSE;
    }

    static SocketsStarted sockets;
    if (!sockets.ok) {
        MessageBoxFromResource(IDS_SOCKETS_INIT_FAILED, MB_OK);
        SetExitCode(tovane::kExitFailed);
        return FALSE;
    }

    // Never closed: the process holds the mutex until it ends, and a second
    // copy only tests that it exists. A failed creation runs unguarded.
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        SetExitCode(commandLine.quiet ? tovane::kExitAlreadyRunning : tovane::kExitDone);
        return FALSE;
    }
    (void)mutex;

    if (commandLine.quiet) {
        SetExitCode(RunQuietCheck());
        return FALSE;
    }
    CTovaneFileDlg dlg;
    dlg.DoModal();
    return FALSE;
}
