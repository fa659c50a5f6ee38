#include "tovanefiledlg.h"

#include "build_config.h"
#include "icon_layout.h"
#include "res/resource.h"
#include "ui/application.h"
#include "ui/text.h"

namespace {

// How long closing the dialog waits for a cancelled job before it ends the
// dialog anyway; the job then touches nothing of the dialog any more.
const DWORD kWorkerStopWaitMs = 1000;

kelvo::ui::Application* App() { return kelvo::ui::Application::Current(); }

}  // namespace

CTovaneFileDlg::CTovaneFileDlg(HWND pParent) : ModalDialog(IDD_UPDATE_DIALOG, pParent) {
    m_hIcon = App() != nullptr ? App()->LoadIconResource(IDI_PROGRAM) : nullptr;
}

CTovaneFileDlg::CTovaneFileDlg(HWND pParent, std::shared_ptr<tovane::UpdateSession> checked)
    : CTovaneFileDlg(pParent) {
    m_session = std::move(checked);
}

CTovaneFileDlg::~CTovaneFileDlg() = default;

void CTovaneFileDlg::DoDataExchange() { m_progress.Attach(GetDlgItem(IDC_PROGRESS)); }

BOOL CTovaneFileDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();
    if (App() != nullptr) {
        App()->SetMainWindow(GetSafeHwnd());
    }

    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    ::ShowWindow(GetSafeHwnd(), SW_MINIMIZE);

    m_view = std::make_shared<tovane::WindowView>(GetSafeHwnd());
    if (m_session) {
        m_session->SetView(m_view);
        tovane::SessionEvent offer;
        offer.kind = tovane::SessionEvent::Kind::kUpdateOffered;
        offer.notes = m_session->OfferedNotes();
        Show(offer);
    } else {
        SetStatus("Checking update");
        m_session = std::make_shared<tovane::UpdateSession>(tovane::kUpdateBaseUrl, m_view);
        // A job that cannot start leaves the dialog saying "Checking update"
        // until it is closed.
        StartWorker(tovane::kCheckJob);
    }

    ::ShowWindow(GetSafeHwnd(), SW_SHOWNORMAL);
    return TRUE;
}

bool CTovaneFileDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        if (!::IsIconic(GetSafeHwnd())) {
            return false;  // the dialog manager paints the normal window
        }
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) {
            OnBnClickedUpdate();
            return true;
        }
        break;
    case tovane::WM_SESSION_EVENT:
        Show(*tovane::WindowView::TakeEvent(lParam));
        return true;
    case tovane::WM_SESSION_ASK:
        Ask(*tovane::WindowView::TakeQuestion(lParam));
        return true;
    case WM_DESTROY:
        OnDestroy();
        break;
    case WM_NCDESTROY:
        if (App() != nullptr) {
            App()->SetMainWindow(nullptr);
        }
        break;
    default:
        break;
    }
    // WM_CLOSE falls through to the dialog manager, which issues IDCANCEL:
    // the close box behaves exactly like "Close".
    return ModalDialog::OnMessage(msg, wParam, lParam, result);
}

void CTovaneFileDlg::SetStatus(const char* text) {
    // The texts are GBK whatever the system's code page; SetWindowTextA
    // would read them in that code page.
    ::SetWindowTextW(GetDlgItem(IDC_STATUS), kelvo::ui::WideFromGbk(text).c_str());
}

bool CTovaneFileDlg::StartWorker(std::int8_t mode) {
    return tovane::UpdateSession::StartWorker(m_session, mode);
}

void CTovaneFileDlg::Show(const tovane::SessionEvent& event) {
    using Kind = tovane::SessionEvent::Kind;
    switch (event.kind) {
    case Kind::kStatus:
        SetStatus(event.text.c_str());
        break;
    case Kind::kProgressShow:
        m_progress.ShowWindow(SW_SHOW);
        break;
    case Kind::kProgressRange:
        m_progress.SetRange(0, static_cast<short>(event.value));
        break;
    case Kind::kProgressPos:
        m_progress.SetPos(event.value);
        break;
    case Kind::kUpdateOffered:
        ::SetWindowTextW(GetDlgItem(IDC_STATUS), event.notes.c_str());
        ::EnableWindow(GetDlgItem(IDC_UPDATE), TRUE);
        break;
    case Kind::kReport:
        if (event.inStatus) {
            SetStatus(event.text.c_str());
        }
        kelvo::ui::MessageBoxGbk(GetSafeHwnd(), event.text.c_str(), "Update",
                                 event.error ? MB_ICONERROR : MB_ICONINFORMATION);
        break;
    case Kind::kUpdated:
        kelvo::ui::MessageBoxGbk(GetSafeHwnd(), event.text.c_str(), "Update", MB_ICONINFORMATION);
        EndDialog(IDOK);
        break;
    }
}

void CTovaneFileDlg::Ask(tovane::SessionQuestion& question) {
    question.Answer(kelvo::ui::MessageBoxGbk(GetSafeHwnd(), "Whether you have close the program",
                                             "Ask", MB_YESNO | MB_ICONQUESTION) == IDYES);
}

void CTovaneFileDlg::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(GetSafeHwnd(), &ps);
    ::SendMessageA(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);

    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    ::GetClientRect(GetSafeHwnd(), &rect);
    int x = tovane::CentredIconOffset(rect.right - rect.left, cxIcon);
    int y = tovane::CentredIconOffset(rect.bottom - rect.top, cyIcon);
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(GetSafeHwnd(), &ps);
}

HCURSOR CTovaneFileDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CTovaneFileDlg::OnBnClickedUpdate() {
    SetStatus("Kelvo is updating, please wait...");
    ::EnableWindow(GetDlgItem(IDC_UPDATE), FALSE);
    StartWorker(tovane::kUpdateJob);
}

void CTovaneFileDlg::OnCancel() {
    if (m_session && !m_session->Cancel()) {
        return;  // files are being replaced: that ends by itself, whole or rolled back
    }
    ModalDialog::OnCancel();
}

void CTovaneFileDlg::OnDestroy() {
    if (!m_session) {
        return;
    }
    // Nothing more reaches the window, and a question already on its way is
    // answered "No" here: the session must not wait for a dialog that is
    // going.
    m_view->Detach();
    tovane::WindowView::Drain(GetSafeHwnd());
    // The job only posts to this window, never sends, so waiting here cannot
    // deadlock. One that is replacing files is waited for to its end.
    m_session->Join(m_session->Cancel() ? kWorkerStopWaitMs : INFINITE);
    m_session->End();
}
