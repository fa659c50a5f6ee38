#include "driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <gtest/gtest.h>

#include "png_writer.h"

namespace kelvo::test {

std::string WinPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    return result;
}

std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

namespace {

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = dir + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(dir.c_str());
}

}  // namespace

std::string FreshDir(const std::string& name) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string root = std::string(temp) + "kelvo-tests";
    ::CreateDirectoryA(root.c_str(), nullptr);
    std::string dir = root + "\\" + name;
    RemoveTree(dir);
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

bool ReadFile(const std::string& path, std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    content.clear();
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        content.append(buffer, n);
    }
    std::fclose(f);
    return true;
}

bool FileExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string CurrentTestFileName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return name;
}

std::vector<DWORD> RecordedStarts(const std::string& folder) {
    std::vector<DWORD> pids;
    std::string log;
    if (!ReadFile(folder + "\\started.log", log)) {
        return pids;
    }
    for (std::size_t pos = log.find("pid="); pos != std::string::npos;
         pos = log.find("pid=", pos + 1)) {
        pids.push_back(std::strtoul(log.c_str() + pos + 4, nullptr, 10));
    }
    return pids;
}

void EndRecordedStarts(const std::string& folder) {
    for (DWORD pid : RecordedStarts(folder)) {
        if (HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            ::TerminateProcess(h, 0);
            ::WaitForSingleObject(h, 5000);
            ::CloseHandle(h);
        }
    }
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (::GetTickCount() - start >= timeoutMs) {
            return condition();
        }
        ::Sleep(stepMs);
    }
}

Child::Child(Child&& other) noexcept : process_(other.process_), pid_(other.pid_) {
    other.process_ = nullptr;
    other.pid_ = 0;
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        Kill();
        process_ = other.process_;
        pid_ = other.pid_;
        other.process_ = nullptr;
        other.pid_ = 0;
    }
    return *this;
}

Child::~Child() { Kill(); }

namespace {

// Every program a test starts, and every program those start in turn (a
// product the updater starts again, an elevated copy), ends with the test:
// one left running would hold the product's mutex and window for the tests
// after it, and the test run's output pipe for ever. A job per test holds
// them; the processes they start are in it too. At the test's end each is
// ended by its id, save Wine's desktop process: the first window of any
// process starts it, and it must outlive the test (ended, it takes the
// virtual desktop's X window with it, and the next window fails with
// BadWindow). Outside a test (the demo's driver) nothing is held: what it
// starts is the user's.
HANDLE g_testJob = nullptr;
bool g_inTest = false;

std::vector<DWORD> ProcessesNamed(const std::string& name) {
    std::vector<DWORD> pids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return pids;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        if (::lstrcmpiA(entry.szExeFile, name.c_str()) == 0) {
            pids.push_back(entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return pids;
}

void EndTestJob() {
    if (g_testJob == nullptr) {
        return;
    }
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[255];
    } ids = {};
    ids.list.NumberOfAssignedProcesses = 256;
    if (::QueryInformationJobObject(g_testJob, JobObjectBasicProcessIdList, &ids, sizeof ids,
                                    nullptr)) {
        const std::vector<DWORD> desktop = ProcessesNamed("explorer.exe");
        for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
            const DWORD pid = static_cast<DWORD>(ids.list.ProcessIdList[i]);
            if (std::find(desktop.begin(), desktop.end(), pid) != desktop.end()) {
                continue;
            }
            if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                ::TerminateProcess(process, 1);
                ::WaitForSingleObject(process, 5000);
                ::CloseHandle(process);
            }
        }
    }
    ::CloseHandle(g_testJob);
    g_testJob = nullptr;
}

HANDLE TestJob() {
    if (g_inTest && g_testJob == nullptr) {
        g_testJob = ::CreateJobObjectA(nullptr, nullptr);
    }
    return g_testJob;
}

class EndWhatTheTestStarted : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { g_inTest = true; }
    void OnTestEnd(const ::testing::TestInfo&) override {
        g_inTest = false;
        EndTestJob();
    }
};

const bool g_listening = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new EndWhatTheTestStarted);
    return true;
}();

}  // namespace

bool Child::Start(const std::string& exe, const std::string& cwd, const std::string& args,
                  std::string* error) {
    Kill();
    std::string commandLine = "\"" + exe + "\"";
    if (!args.empty()) {
        commandLine += " " + args;
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                          nullptr, cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        if (error != nullptr) {
            *error = "CreateProcess " + exe + " failed, error " + std::to_string(::GetLastError());
        }
        return false;
    }
    // Suspended until it is in the job, so that nothing it starts escapes.
    HANDLE job = TestJob();
    if (job != nullptr) {
        ::AssignProcessToJobObject(job, pi.hProcess);
    }
    ::ResumeThread(pi.hThread);
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

namespace {

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// This process's environment with the locale variables replaced.
std::string EnvironmentWithLocale(const std::string& locale) {
    std::string block;
    char* strings = ::GetEnvironmentStringsA();
    for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
        std::string_view e(entry);
        if (e.substr(0, 5) == "LANG=" || e.substr(0, 9) == "LANGUAGE=" || e.substr(0, 3) == "LC_") {
            continue;
        }
        block.append(entry).push_back('\0');
    }
    ::FreeEnvironmentStringsA(strings);
    for (const char* name : {"LANG=", "LC_ALL="}) {
        block.append(name).append(locale).push_back('\0');
    }
    block.push_back('\0');
    return block;
}

}  // namespace

bool Child::StartUnderLocale(const std::string& exe, const std::string& cwd,
                             const std::string& args, const std::string& locale,
                             std::string* error) {
    Kill();
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    const std::string loader = Env("KELVO_WINE");
    if (loader.empty() || loader[0] != '/') {
        return fail("KELVO_WINE (the Unix path of the Wine loader) is not set");
    }
    const std::string name = BaseName(exe);
    const std::vector<DWORD> before = ProcessesNamed(name);
    // The loader is a Unix program: its argv[0] is its Unix path.
    std::string commandLine = loader + " \"" + exe + "\"";
    if (!args.empty()) {
        commandLine += " " + args;
    }
    std::string environment = EnvironmentWithLocale(locale);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(WinPath(loader).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                          &environment[0], cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        return fail("CreateProcess " + loader + " failed, error " +
                    std::to_string(::GetLastError()));
    }
    // Wine hands out no handles for a Unix process.
    if (pi.hThread != nullptr) {
        ::CloseHandle(pi.hThread);
    }
    if (pi.hProcess != nullptr) {
        ::CloseHandle(pi.hProcess);
    }
    DWORD found = 0;
    WaitUntil(
        [&] {
            for (DWORD pid : ProcessesNamed(name)) {
                bool old = false;
                for (DWORD b : before) {
                    old = old || b == pid;
                }
                if (!old) {
                    found = pid;
                    return true;
                }
            }
            return false;
        },
        20000, 50);
    if (found == 0) {
        return fail(name + " did not start under " + locale);
    }
    process_ =
        ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, found);
    if (process_ == nullptr) {
        return fail("OpenProcess " + std::to_string(found) + " failed, error " +
                    std::to_string(::GetLastError()));
    }
    pid_ = found;
    return true;
}

bool Child::Running() const {
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Child::WaitExit(DWORD timeoutMs, DWORD* code) const {
    if (process_ == nullptr || ::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    if (code != nullptr) {
        ::GetExitCodeProcess(process_, code);
    }
    return true;
}

void Child::Kill() {
    if (process_ != nullptr) {
        if (Running()) {
            ::TerminateProcess(process_, 99);
            ::WaitForSingleObject(process_, 5000);
        }
        ::CloseHandle(process_);
        process_ = nullptr;
        pid_ = 0;
    }
}

namespace {

struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam) {
    auto* state = reinterpret_cast<EnumState*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == state->pid && (!state->visibleOnly || ::IsWindowVisible(hwnd))) {
        state->found.push_back(hwnd);
    }
    return TRUE;
}

std::string ClassName(HWND hwnd) {
    char name[256] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return name;
}

}  // namespace

std::vector<HWND> TopWindowsOf(DWORD pid, bool visibleOnly) {
    EnumState state{pid, visibleOnly, {}};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

HWND FindWindowOf(DWORD pid, const char* caption, const char* className, HWND except) {
    for (HWND hwnd : TopWindowsOf(pid, false)) {
        if (hwnd != except && Text(hwnd) == caption &&
            (className == nullptr || ClassName(hwnd) == className)) {
            return hwnd;
        }
    }
    return nullptr;
}

HWND WaitForWindowOf(DWORD pid, const char* caption, DWORD timeoutMs, const char* className) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowOf(pid, caption, className)) != nullptr; },
              timeoutMs);
    return found;
}

namespace {

// Sent, not read from the window structure, so it works across processes
// and for edit controls; bounded so a hung target cannot hang the test.
// The length and the text are two messages: a text that grows between them
// would come back cut to the old length, so one unit more is asked for and a
// full buffer means read again.
template <class String, class Send>
String ReadText(HWND hwnd, Send send) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        DWORD_PTR length = 0;
        if (!send(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
            return String();
        }
        String text(length + 2, '\0');
        DWORD_PTR copied = 0;
        if (!send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                  SMTO_ABORTIFHUNG, 5000, &copied)) {
            return String();
        }
        if (copied <= length) {
            text.resize(copied);
            return text;
        }
    }
    return String();
}

}  // namespace

std::wstring WideText(HWND hwnd) { return ReadText<std::wstring>(hwnd, &::SendMessageTimeoutW); }

std::string Text(HWND hwnd) {
    // Read wide and encoded here: an ANSI read would give the text in this
    // process's code page, which drops what 1252 cannot hold ("！" comes
    // back as "!").
    std::wstring wide = WideText(hwnd);
    if (wide.empty()) {
        return std::string();
    }
    int size = ::WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string gbk(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), &gbk[0], size,
                          nullptr, nullptr);
    return gbk;
}

std::string ItemText(HWND dialog, int id) { return Text(::GetDlgItem(dialog, id)); }

std::wstring WideItemText(HWND dialog, int id) { return WideText(::GetDlgItem(dialog, id)); }
bool ItemEnabled(HWND dialog, int id) {
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}
bool ItemVisible(HWND dialog, int id) {
    return (::GetWindowLongA(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void Click(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void PressEscape(HWND dialog) {
    // Posted to the control with the focus, as the keyboard would deliver
    // it; the dialog's message loop turns it into IDCANCEL.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) &&
        info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    ::PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

bool WaitForMessageBox(DWORD pid, const char* caption, DWORD timeoutMs, MessageBoxSeen* seen,
                       HWND except) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindWindowOf(pid, caption, "#32770", except)) != nullptr; },
              timeoutMs);
    if (box == nullptr) {
        return false;
    }
    if (seen != nullptr) {
        seen->hwnd = box;
        seen->caption = Text(box);
        seen->text = Text(::GetDlgItem(box, 0xFFFF));
    }
    return true;
}

void AnswerMessageBox(const MessageBoxSeen& box, int buttonId) { Click(box.hwnd, buttonId); }

bool SaveScreenshot(HWND hwnd, const std::string& path) {
    RECT rect;
    if (!::GetWindowRect(hwnd, &rect)) {
        return false;
    }
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    // The window is on the screen of the test display: copy it from there,
    // which shows exactly what a user sees, frame included.
    bool ok = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    std::vector<std::uint8_t> pixels;
    if (ok) {
        auto* p = static_cast<std::uint8_t*>(bits);
        pixels.assign(p, p + static_cast<std::size_t>(width) * height * 4);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok && WritePng(path, width, height, pixels);
}

std::string ArtifactPath(const std::string& fileName) {
    std::string dir = WinPath(Env("KELVO_ARTIFACTS"));
    if (dir.empty()) {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "kelvo-artifacts";
    }
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\" + fileName;
}

}  // namespace kelvo::test
