// Drives a Windows program from outside, as a user would: starts it in a
// folder, finds its windows, reads and clicks controls, answers message
// boxes and takes screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kelvo::test {

// A Unix path as Wine's Z: drive sees it; other paths unchanged.
std::string WinPath(const std::string& path);
std::string Env(const char* name, const char* fallback = "");

// A new empty folder under the temporary folder.
std::string FreshDir(const std::string& name);
bool WriteFile(const std::string& path, const std::string& content);
bool ReadFile(const std::string& path, std::string& content);
bool FileExists(const std::string& path);

// The running test as "Suite.Name", usable as a file name ('/' and '\\'
// of parameterised names replaced).
std::string CurrentTestFileName();

// The process ids the product stand-in recorded in <folder>\started.log, one
// per start, in order; empty when it never started there.
std::vector<DWORD> RecordedStarts(const std::string& folder);
// Ends every process recorded there that still runs.
void EndRecordedStarts(const std::string& folder);

// How often `what` stands in `text` (a log, a page), overlaps included.
std::size_t Occurrences(const std::string& text, const std::string& what);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 25);

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();

    // Starts exe with cwd as its current directory; false and a reason on failure.
    bool Start(const std::string& exe, const std::string& cwd, const std::string& args,
               std::string* error);
    // Under Wine only: starts exe like Start, but in a Wine process whose Unix
    // locale (LANG, LC_ALL) is `locale`, e.g. "zh_CN.UTF-8". Wine takes a
    // process's ANSI code page from its Unix locale, and a Windows process it
    // starts inherits the Unix environment of its parent, not the Windows
    // environment block given to CreateProcess. A Unix program started
    // through CreateProcess does get that block as its environment, so the
    // Wine loader (KELVO_WINE) is started that way, with exe as argument.
    // The process is then found by its file name, as the only new one.
    bool StartUnderLocale(const std::string& exe, const std::string& cwd, const std::string& args,
                          const std::string& locale, std::string* error);
    DWORD Pid() const { return pid_; }
    bool Running() const;
    // True when the process ended within the time; its exit code in *code.
    bool WaitExit(DWORD timeoutMs, DWORD* code = nullptr) const;
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

std::vector<HWND> TopWindowsOf(DWORD pid, bool visibleOnly);
// A top-level window of the process with this exact caption (and class, if given).
// except: a window to pass over (a dialog with the same caption as its boxes).
HWND FindWindowOf(DWORD pid, const char* caption, const char* className = nullptr,
                  HWND except = nullptr);
HWND WaitForWindowOf(DWORD pid, const char* caption, DWORD timeoutMs,
                     const char* className = nullptr);

// As GBK bytes, whatever this process's code page: the updater's texts are
// compared with its own GBK literals.
std::string Text(HWND hwnd);
std::string ItemText(HWND dialog, int id);
// The same read as UTF-16, untouched by the ANSI code page of either process.
std::wstring WideText(HWND hwnd);
std::wstring WideItemText(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);

// A button click as the dialog sees it (BN_CLICKED from the button).
void Click(HWND dialog, int id);
// The Esc key as the dialog's message loop sees it.
void PressEscape(HWND dialog);

struct MessageBoxSeen {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
};
// A message box (dialog class #32770 with a static text 0xFFFF) of the
// process, other than the window `except`.
bool WaitForMessageBox(DWORD pid, const char* caption, DWORD timeoutMs, MessageBoxSeen* seen,
                       HWND except = nullptr);
// Presses the box's button with this id (IDOK, IDYES, IDNO ...).
void AnswerMessageBox(const MessageBoxSeen& box, int buttonId);

// Saves what the window shows as a PNG; false when nothing could be captured.
bool SaveScreenshot(HWND hwnd, const std::string& path);
// The artifacts folder of the test run (KELVO_ARTIFACTS), created on demand.
std::string ArtifactPath(const std::string& fileName);

}  // namespace kelvo::test
