// The running product as the installer sees it, and the order in which it
// is asked, then made, to stop.
#include "install/product_control.h"

#include <psapi.h>
#include <shellapi.h>

#include "common/unique_handle.h"
#include "net/transfer_log.h"
#include "ui/text.h"

namespace tovane {

namespace {

const char kProductMutexName[] = "Kelvo";
const char kProductWindowName[] = "Kelvo";
// After TerminateProcess the process still has to be torn down.
const DWORD kTerminateWaitMs = 5000;

}  // namespace

Win32ProductControl::~Win32ProductControl() {
    if (process_ != nullptr) {
        ::CloseHandle(process_);
    }
}

bool Win32ProductControl::IsRunning() {
    // Only a probe: when the mutex is absent this creates it for a moment.
    HANDLE probe = ::CreateMutexA(nullptr, FALSE, kProductMutexName);
    DWORD probeError = ::GetLastError();
    if (probe != nullptr) {
        ::CloseHandle(probe);
    }
    return probeError == ERROR_ALREADY_EXISTS;
}

bool Win32ProductControl::OpenProduct(std::string* exe) {
    exe->clear();
    window_ = ::FindWindowA(nullptr, kProductWindowName);
    if (window_ == nullptr) {
        return false;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window_, &pid);
    process_ = ::OpenProcess(
        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process_ == nullptr) {
        process_ = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    }
    auto instance = reinterpret_cast<HMODULE>(::GetWindowLongPtrA(window_, GWLP_HINSTANCE));
    char path[MAX_PATH] = {};
    if (process_ != nullptr && instance != nullptr &&
        ::GetModuleFileNameExA(process_, instance, path, MAX_PATH) > 0) {
        *exe = path;
    }
    return true;
}

void Win32ProductControl::RequestClose() { ::PostMessageA(window_, WM_CLOSE, 0, 0); }

bool Win32ProductControl::WaitForExit(DWORD timeoutMs) {
    if (process_ == nullptr) {
        // Not openable: the window is all there is to watch.
        DWORD start = ::GetTickCount();
        while (::IsWindow(window_)) {
            if (::GetTickCount() - start >= timeoutMs) {
                return false;
            }
            ::Sleep(50);
        }
        return true;
    }
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        DWORD left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        DWORD wait = ::MsgWaitForMultipleObjects(1, &process_, FALSE, left, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            return true;
        }
        if (wait != WAIT_OBJECT_0 + 1) {
            return false;  // timed out (or the wait itself failed)
        }
        // The dialog keeps painting while the product takes its time.
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

bool Win32ProductControl::Terminate(DWORD* error) {
    if (process_ == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!::TerminateProcess(process_, 1)) {
        *error = ::GetLastError();
        diag::LogFailure("TerminateProcess", *error, "the running product");
        return false;
    }
    return true;
}

bool Win32ProductControl::AskWhetherClosed() {
    return kelvo::ui::MessageBoxGbk(owner_, "Whether you have close the program", "Ask",
                                    MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool Win32ProductControl::Start(const std::string& exe, DWORD* error) {
    std::string folder = exe.substr(0, exe.find_last_of('\\') + 1);
    auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(nullptr, "open", exe.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
    if (result <= 32) {
        *error = ::GetLastError();
        if (*error == 0) {
            *error = static_cast<DWORD>(result);
        }
        diag::LogFailure("ShellExecute", *error, exe.c_str());
        return false;
    }
    return true;
}

bool ExecutableReleased(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        return true;
    }
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

StopOutcome StopProduct(ProductControl& control, DWORD graceMs, std::string* exe,
                        const std::function<bool(const std::string&)>& beforeClose) {
    exe->clear();
    if (!control.IsRunning()) {
        return StopOutcome::kNotRunning;
    }
    if (!control.OpenProduct(exe)) {
        return StopOutcome::kNoWindow;
    }
    if (beforeClose && !beforeClose(*exe)) {
        return StopOutcome::kNotAsked;
    }
    control.RequestClose();
    if (control.WaitForExit(graceMs)) {
        return StopOutcome::kStopped;
    }
    DWORD error = 0;
    if (control.Terminate(&error) && control.WaitForExit(kTerminateWaitMs)) {
        return StopOutcome::kStopped;
    }
    for (;;) {
        if (!control.AskWhetherClosed()) {
            return StopOutcome::kStillRunning;
        }
        if (control.WaitForExit(0) && ExecutableReleased(*exe)) {
            return StopOutcome::kStopped;
        }
    }
}

}  // namespace tovane
