#include "tovanefile.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "res/resource.h"
#include "tovanefiledlg.h"

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

}  // namespace

CTovaneFileApp::CTovaneFileApp() = default;

BOOL CTovaneFileApp::InitInstance() {
    INITCOMMONCONTROLSEX InitCtrls;
    InitCtrls.dwSize = sizeof(InitCtrls);
    InitCtrls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&InitCtrls);

    static SocketsStarted sockets;
    if (!sockets.ok) {
        MessageBoxFromResource(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }

    // Never closed: the process holds the mutex until it ends, and a second
    // copy only tests that it exists. A failed creation runs unguarded.
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return FALSE;
    }
    (void)mutex;

    CTovaneFileDlg dlg;
    dlg.DoModal();
    return FALSE;
}
