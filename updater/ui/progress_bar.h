// The progress-bar control bound to a dialog item, driven from the dialog's
// thread (the worker reports its progress to the dialog, never to the
// control).
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace kelvo::ui {

class ProgressBar {
public:
    void Attach(HWND hwnd) noexcept { hwnd_ = hwnd; }
    HWND GetSafeHwnd() const noexcept { return hwnd_; }

    // The control's classic range message takes two 16-bit values.
    void SetRange(short lower, short upper) const noexcept {
        ::SendMessageA(hwnd_, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
    }
    int SetPos(int pos) const noexcept {
        return static_cast<int>(::SendMessageA(hwnd_, PBM_SETPOS, static_cast<WPARAM>(pos), 0));
    }
    void ShowWindow(int cmd) const noexcept { ::ShowWindow(hwnd_, cmd); }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace kelvo::ui
