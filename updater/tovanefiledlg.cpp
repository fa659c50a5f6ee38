#include "tovanefiledlg.h"

#include "app_paths.h"
#include "icon_layout.h"
#include "resource.h"
#include "ui/application.h"

#ifndef TOVANE_BASE_URL
#error "TOVANE_BASE_URL must be defined by the build (the update folder's http URL)"
#endif

namespace {

const UINT_PTR kDownloadsDoneTimer = 1;

kelvo::ui::Application* App() { return kelvo::ui::Application::Current(); }

}  // namespace

CTovaneFileDlg::CTovaneFileDlg(HWND pParent)
    : ModalDialog(IDD_UPDATE_DIALOG, pParent),
      m_strUrl(TOVANE_BASE_URL),
      m_strVerName("Version") {
    m_hIcon = App() != nullptr ? App()->LoadIconResource(IDI_PROGRAM) : nullptr;
    m_nMainVer = 0;
    m_nSubVer = 0;
    m_nNewMainVer = 0;
    m_nNewSubVer = 0;
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

    SetStatus("Checking update");

    char tempCh[2600] = {};
    ::GetCurrentDirectoryA(MAX_PATH, tempCh);
    m_strAppDir = tovane::ProgramFolderFromCurrentDir(tempCh);
    std::string tempCs = tovane::LocalVersionFilePath(tempCh, m_strVerName);
    m_nMainVer = ::GetPrivateProfileIntA("Kelvo", "MainVer", 0, tempCs.c_str());
    m_nSubVer = ::GetPrivateProfileIntA("Kelvo", "SubVer", 0, tempCs.c_str());

    ::GetTempPathA(MAX_PATH, tempCh);
    m_strTempDir = tempCh;

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
    case WM_TIMER:
        OnTimer(wParam);
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) {
            OnBnClickedUpdate();
            return true;
        }
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

int CTovaneFileDlg::SetStatus(const char* text) {
    ::SetWindowTextA(GetDlgItem(IDC_STATUS), text);
    return 1;
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

void CTovaneFileDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kDownloadsDoneTimer) {
        // Killed first: the step below may sit in message boxes for longer
        // than the period, and must run once per worker run.
        ::KillTimer(GetSafeHwnd(), kDownloadsDoneTimer);
    }
}

void CTovaneFileDlg::OnBnClickedUpdate() {
    SetStatus("Kelvo is updating, please wait...");
    ::EnableWindow(GetDlgItem(IDC_UPDATE), FALSE);
}
