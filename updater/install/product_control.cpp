// The running product as the installer sees it, and the order in which it
// is asked, then made, to stop.
#include "install/product_control.h"

#include <psapi.h>
#include <shellapi.h>

#include "diag/log.h"

namespace tovane {

namespace {

const char kProductMutexName[] = "Kelvo";
const char kProductWindowName[] = "Kelvo";
// After TerminateProcess the process still has to be torn down.
const DWORD kTerminateWaitMs = 5000;

}  // namespace

bool Win32ProductControl::IsRunning() {
    // Opened, never created: a probe that created the mutex would, for a
    // moment, be the product to a product starting meanwhile.
    kelvo::unique_handle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, kProductMutexName));
    return mutex || ::GetLastError() == ERROR_ACCESS_DENIED;
}

bool Win32ProductControl::OpenProduct(std::string* exe) {
    exe->clear();
    window_ = ::FindWindowA(nullptr, kProductWindowName);
    if (window_ == nullptr) {
        return false;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window_, &pid);
    process_.reset(::OpenProcess(
        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process_) {
        process_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    }
    auto instance = reinterpret_cast<HMODULE>(::GetWindowLongPtrA(window_, GWLP_HINSTANCE));
    char path[MAX_PATH] = {};
    if (process_ && instance != nullptr &&
        ::GetModuleFileNameExA(process_.get(), instance, path, MAX_PATH) > 0) {
        *exe = path;
    }
    return true;
}

void Win32ProductControl::RequestClose() { ::PostMessageA(window_, WM_CLOSE, 0, 0); }

bool Win32ProductControl::WaitForExit(DWORD timeoutMs) {
    if (!process_) {
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
    return ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool Win32ProductControl::Terminate(DWORD* error) {
    if (!process_) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!::TerminateProcess(process_.get(), 1)) {
        *error = ::GetLastError();
        diag::Log(Failure::System("TerminateProcess", "the running product", *error));
        return false;
    }
    return true;
}

bool Win32ProductControl::AskWhetherClosed() { return ask_ && ask_(); }

bool Win32ProductControl::Start(const std::string& exe, DWORD* error) {
    std::string folder = exe.substr(0, exe.find_last_of('\\') + 1);
    auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(nullptr, "open", exe.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
    if (result <= 32) {
        *error = ::GetLastError();
        if (*error == 0) {
            *error = static_cast<DWORD>(result);
        }
        diag::Log(Failure::System("ShellExecute", exe, *error));
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
