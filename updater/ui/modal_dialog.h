// A modal dialog from a resource template, with the C++ object attached at
// WM_INITDIALOG and every message routed to one virtual member.
#pragma once

#include <windows.h>

namespace kelvo::ui {

class ModalDialog {
public:
    ModalDialog(UINT templateId, HWND parent) noexcept;
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog's modal loop; returns the code given to EndDialog, or
    // -1 when the dialog could not be created.
    INT_PTR DoModal();

    HWND GetSafeHwnd() const noexcept { return hwnd_; }
    HWND GetDlgItem(int id) const noexcept { return ::GetDlgItem(hwnd_, id); }
    void EndDialog(INT_PTR result) noexcept { ::EndDialog(hwnd_, result); }

protected:
    // Called once the window exists and before it is shown. The default binds
    // controls (DoDataExchange) and returns TRUE to let the dialog manager
    // give the focus to the first control.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange() {}

    // Return true when the message was handled; result is then the dialog
    // procedure's answer (set as DWLP_MSGRESULT where the protocol needs it).
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // The defaults of a dialog: OK and Cancel end it with their ids.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
};

}  // namespace kelvo::ui
