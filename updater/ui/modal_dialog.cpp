#include "modal_dialog.h"

namespace kelvo::ui {

ModalDialog::ModalDialog(UINT templateId, HWND parent) noexcept
    : templateId_(templateId), parent_(parent) {}

ModalDialog::~ModalDialog() = default;

INT_PTR ModalDialog::DoModal() {
    // Created through the wide call so that its controls are Unicode ones:
    // Windows keeps the text of an edit control made by the ANSI call in the
    // ANSI code page, where Chinese text does not survive a Western system.
    return ::DialogBoxParamW(::GetModuleHandleA(nullptr), MAKEINTRESOURCEW(templateId_), parent_,
                             &ModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL ModalDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

bool ModalDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT&) {
    if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            OnCancel();
            return true;
        default:
            break;
        }
    }
    return false;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ModalDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        return self->OnInitDialog();
    }
    self = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) {
        // Messages before WM_INITDIALOG (WM_SETFONT, WM_NCCREATE ...).
        return FALSE;
    }
    LRESULT result = 0;
    bool handled = self->OnMessage(msg, wParam, lParam, result);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    if (!handled) {
        return FALSE;
    }
    switch (msg) {
    // These messages return their answer directly, not through DWLP_MSGRESULT.
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(result);
    default:
        ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

}  // namespace kelvo::ui
