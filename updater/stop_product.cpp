// Stopping the running product before its files are replaced, and learning
// where its executable lies.
#include <windows.h>
#include <psapi.h>

#include "common/unique_handle.h"
#include "tovanefiledlg.h"
#include "ui/text.h"

namespace {

const char kProductMutexName[] = "Kelvo";
const char kProductWindowName[] = "Kelvo";

}  // namespace

int CTovaneFileDlg::StopRunningProduct(char* cParentProcessPath) {
    // Only a probe: when the mutex is absent this creates it for a moment.
    HANDLE probe = ::CreateMutexA(nullptr, TRUE, kProductMutexName);
    DWORD probeError = ::GetLastError();
    if (probe != nullptr) {
        ::CloseHandle(probe);
    }
    if (probeError != ERROR_ALREADY_EXISTS) {
        return 1;
    }

    HWND product = ::FindWindowA(nullptr, kProductWindowName);
    if (product == nullptr) {
        return 0;
    }
    GetWindowExePath(product, cParentProcessPath);
    ::PostMessageA(product, WM_CLOSE, 0, 0);

    DWORD dwProcessId = 0;
    ::Sleep(500);
    ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);

    ::GetWindowThreadProcessId(product, &dwProcessId);
    if (dwProcessId == 0) {
        return 1;  // the window is gone: the product closed
    }
    kelvo::unique_handle process(
        ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, dwProcessId));
    if (!process) {
        return 1;
    }
    DWORD dwExitCode = 0;
    bool stopped = false;
    if (::GetExitCodeProcess(process.get(), &dwExitCode)) {
        stopped = ::TerminateProcess(process.get(), dwExitCode) != FALSE;
    }
    process.reset();

    if (!stopped) {
        // Deleting the executable succeeds only once nothing runs it any
        // more: that is the proof the user closed the product.
        for (;;) {
            int answer =
                kelvo::ui::MessageBoxGbk(GetSafeHwnd(), "Whether you have close the program", "Ask",
                                         MB_YESNO | MB_ICONQUESTION);
            if (answer == IDNO) {
                break;
            }
            if (answer == IDYES && ::DeleteFileA(cParentProcessPath)) {
                break;
            }
        }
    }
    return 1;
}

bool CTovaneFileDlg::GetWindowExePath(HWND hWnd, char* path) {
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    auto instance = reinterpret_cast<HMODULE>(::GetWindowLongPtrA(hWnd, GWLP_HINSTANCE));
    if (instance == nullptr) {
        return false;
    }
    kelvo::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwProcessId));
    if (!process) {
        return false;
    }
    return ::GetModuleFileNameExA(process.get(), instance, path, MAX_PATH) > 0;
}
