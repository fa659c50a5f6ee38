// The running product as the installer sees it, and the order in which it
// is asked, then made, to stop.
#include "install/product_control.h"

#include <shellapi.h>

#include <string_view>
#include <vector>

#include "diag/log.h"
#include "install/durable_file.h"
#include "ui/text.h"

namespace tovane {

namespace {

const char kProductMutexName[] = "Kelvo";
const wchar_t kProductWindowTitle[] = L"Kelvo";
const wchar_t kProductExeName[] = L"Kelvo.exe";
// After TerminateProcess the process still has to be torn down.
const DWORD kTerminateWaitMs = 5000;
// The longest path QueryFullProcessImageNameW can give, with its NUL.
const DWORD kLongestPath = 32768;

// Case is ignored for ASCII letters only, as Kelvo.exe has no others: a
// lower-case mapping of all of Unicode would take the Kelvin sign (U+212A)
// for a K, and a file named with it for the product.
bool IsProductFileName(std::wstring_view path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    const std::wstring_view wanted = kProductExeName;
    if (name.size() != wanted.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        wchar_t c = name[i];
        wchar_t w = wanted[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (w >= L'A' && w <= L'Z') {
            w = static_cast<wchar_t>(w - L'A' + L'a');
        }
        if (c != w) {
            return false;
        }
    }
    return true;
}

// Top-level windows titled exactly like the product's, topmost first.
// This process's own are passed over: reading the title of one of them
// would wait for the dialog's thread, and the updater is never the product.
BOOL CALLBACK CollectTitled(HWND window, LPARAM found) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == ::GetCurrentProcessId()) {
        return TRUE;
    }
    // One more than the title holds: a longer title comes back longer.
    wchar_t title[sizeof kProductWindowTitle / sizeof kProductWindowTitle[0] + 1] = {};
    if (::GetWindowTextW(window, title, sizeof title / sizeof title[0]) ==
            static_cast<int>(std::wstring_view(kProductWindowTitle).size()) &&
        std::wstring_view(title) == kProductWindowTitle) {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

struct Candidate {
    HWND window = nullptr;
    kelvo::unique_handle process;
    std::string exe;
};

// The window's process, opened for all the installer may do with it, and
// the path of its executable in the ANSI code page; false when the process
// does not run a Kelvo.exe, cannot be opened or asked, or runs from a path
// the ANSI calls cannot name.
bool OpenIfProduct(HWND window, Candidate* candidate) {
    DWORD pid = 0;
    if (::GetWindowThreadProcessId(window, &pid) == 0 || pid == 0) {
        return false;
    }
    kelvo::unique_handle process(::OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (!process) {
        // A product with more rights than the updater can still be asked to
        // close and be waited for; only ending it is out of reach.
        process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    }
    if (!process) {
        return false;
    }
    // Held open, the process keeps its id: a window that still names it
    // was not left by a process that ended before the open.
    DWORD owner = 0;
    if (::GetWindowThreadProcessId(window, &owner) == 0 || owner != pid) {
        return false;
    }
    std::wstring image(kLongestPath, L'\0');
    DWORD length = kLongestPath;
    if (!::QueryFullProcessImageNameW(process.get(), 0, &image[0], &length)) {
        return false;
    }
    image.resize(length);
    std::string exe;
    if (!IsProductFileName(image) || !kelvo::ui::AnsiFromWide(image, &exe)) {
        return false;
    }
    candidate->window = window;
    candidate->process = std::move(process);
    candidate->exe = std::move(exe);
    return true;
}

}  // namespace

bool Win32ProductControl::IsRunning() {
    // Opened, never created: a probe that created the mutex would, for a
    // moment, be the product to a product starting meanwhile.
    kelvo::unique_handle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, kProductMutexName));
    return mutex || ::GetLastError() == ERROR_ACCESS_DENIED;
}

bool Win32ProductControl::OpenProduct(std::string* exe) {
    exe->clear();
    window_ = nullptr;
    process_.reset();
    std::vector<HWND> titled;
    ::EnumWindows(&CollectTitled, reinterpret_cast<LPARAM>(&titled));
    const std::string preferred = programFolder_ + "Kelvo.exe";
    Candidate chosen;
    for (HWND window : titled) {
        Candidate candidate;
        if (!OpenIfProduct(window, &candidate)) {
            continue;
        }
        const bool inProgramFolder = SameFile(candidate.exe, preferred);
        if (chosen.window == nullptr || inProgramFolder) {
            chosen = std::move(candidate);
        }
        if (inProgramFolder) {
            break;
        }
    }
    if (chosen.window == nullptr) {
        return false;
    }
    window_ = chosen.window;
    process_ = std::move(chosen.process);
    *exe = std::move(chosen.exe);
    return true;
}

void Win32ProductControl::RequestClose() { ::PostMessageA(window_, WM_CLOSE, 0, 0); }

bool Win32ProductControl::WaitForExit(DWORD timeoutMs) {
    // OpenProduct takes no window without its process.
    return process_ && ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
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
