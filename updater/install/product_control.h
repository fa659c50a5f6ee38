// Everything the installer asks of the running product, behind one seam: the
// Win32 side here talks to the real process and the real message box, a test
// gives its own (Wine never fails TerminateProcess, so the manual-close
// prompt can only be reached through a fake).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "common/unique_handle.h"

namespace tovane {

class ProductControl {
public:
    virtual ~ProductControl() = default;

    // Whether the product runs at all (its named mutex exists).
    virtual bool IsRunning() = 0;
    // Finds the product's window and opens its process before anything is
    // asked of it, so that its end can be waited for; the full path of its
    // executable in *exe (empty when it cannot be read). False: no window of
    // the product.
    virtual bool OpenProduct(std::string* exe) = 0;
    // Asks the product to close (WM_CLOSE to its window).
    virtual void RequestClose() = 0;
    // True once the opened process has ended, waiting at most timeoutMs.
    virtual bool WaitForExit(DWORD timeoutMs) = 0;
    virtual bool Terminate(DWORD* error) = 0;
    // The manual-close prompt; true for "Yes".
    virtual bool AskWhetherClosed() = 0;
    // Starts the product again by its full path, in its own folder.
    virtual bool Start(const std::string& exe, DWORD* error) = 0;
};

// The real product: mutex "Kelvo", and a top-level window titled "Kelvo"
// whose process runs an executable named Kelvo.exe. Any program may title a
// window so (Explorer open on a folder named Kelvo does): a window is only
// taken once its process is open and its image's name checked, and among
// several such the one running <programFolder>Kelvo.exe comes first. It runs
// on the session's thread, so the manual-close prompt is the caller's to
// show: `ask` is called for it and may block until the user answers.
class Win32ProductControl : public ProductControl {
public:
    // programFolder: the updater's folder, ending with '\'.
    Win32ProductControl(std::string programFolder, std::function<bool()> ask)
        : programFolder_(std::move(programFolder)), ask_(std::move(ask)) {}

    bool IsRunning() override;
    bool OpenProduct(std::string* exe) override;
    void RequestClose() override;
    bool WaitForExit(DWORD timeoutMs) override;
    bool Terminate(DWORD* error) override;
    bool AskWhetherClosed() override;
    bool Start(const std::string& exe, DWORD* error) override;

private:
    std::string programFolder_;
    std::function<bool()> ask_;
    HWND window_ = nullptr;
    kelvo::unique_handle process_;
};

enum class StopOutcome {
    kNotRunning,    // nothing to stop
    kNoWindow,      // runs without a window: left alone, its folder unknown
    kStopped,       // its process has ended
    kStillRunning,  // the user said it is not closed
    kNotAsked,      // the preparation before closing failed; it still runs
};

// How long a product is given to close on its own before it is ended.
constexpr DWORD kProductGraceMs = 8000;

// Closes the product gently, waits for its process, ends it after the grace
// period, and when even that fails asks the user until the process is proven
// gone (its process ended and its executable opens without sharing) or the
// user answers "No". Nothing is ever deleted to prove anything.
// beforeClose runs once the product is found, with its executable's path,
// before it is asked to close; false leaves it running (kNotAsked).
StopOutcome StopProduct(ProductControl& control, DWORD graceMs, std::string* exe,
                        const std::function<bool(const std::string&)>& beforeClose = {});

// True when nothing holds the file: it opens without sharing, or is absent.
bool ExecutableReleased(const std::string& path);

}  // namespace tovane
