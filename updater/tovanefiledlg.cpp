#include "tovanefiledlg.h"

#include <process.h>

#include <cstdio>

#include "app_paths.h"
#include "build_config.h"
#include "download_plan.h"
#include "file_list.h"
#include "file_names.h"
#include "icon_layout.h"
#include "install/durable_file.h"
#include "install/installer.h"
#include "install/product_control.h"
#include "install_plan.h"
#include "manifest_text.h"
#include "numbers.h"
#include "profile_read.h"
#include "version_rule.h"
#include "res/resource.h"
#include "text_encoding.h"
#include "trust/verify.h"
#include "ui/application.h"
#include "ui/text.h"

namespace {

const UINT_PTR kDownloadsDoneTimer = 1;

// How long closing the dialog waits for a cancelled job before it ends the
// dialog anyway; the job then touches nothing of the dialog any more.
const DWORD kWorkerStopWaitMs = 1000;

kelvo::ui::Application* App() { return kelvo::ui::Application::Current(); }

std::uint32_t ReadProfileNumber(const char* section, const char* key, const std::string& file) {
    char value[64] = {};
    ::GetPrivateProfileStringA(section, key, "", value, sizeof value, file.c_str());
    return tovane::ParseProfileUnsigned(value, 0);
}

// The installer's progress, shown in the dialog's status box and bar.
class DialogProgress : public tovane::InstallProgress {
public:
    DialogProgress(CTovaneFileDlg& dialog, kelvo::ui::ProgressBar& bar)
        : dialog_(dialog), bar_(bar) {}
    void Status(const std::string& text) override { dialog_.SetStatus(text.c_str()); }
    void Range(int count) override { bar_.SetRange(0, static_cast<short>(count)); }
    void Position(int done) override { bar_.SetPos(done); }

private:
    CTovaneFileDlg& dialog_;
    kelvo::ui::ProgressBar& bar_;
};

// GetCurrentDirectoryA and GetTempPathA alike: the length written, 0 on
// failure, or the size needed when the buffer is too small.
bool QueryFolder(DWORD(WINAPI* query)(DWORD, LPSTR), char (&buffer)[MAX_PATH + 1], DWORD* error) {
    DWORD length = query(MAX_PATH, buffer);
    *error = ::GetLastError();
    if (length == 0) {
        return false;
    }
    if (length >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return true;
}

// A manifest is a few kilobytes: anything this large is refused unread.
constexpr LONGLONG kMaxManifestBytes = 4 << 20;

// Reads a file whole through a handle that shares reading only: while it is
// open no one can write to the file, rename or delete it. `handle` stays
// open for the caller to hold or let go.
bool ReadFileHeld(const std::string& path, kelvo::unique_hfile* handle, std::string* bytes) {
    bytes->clear();
    handle->reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!*handle || !::GetFileSizeEx(handle->get(), &size) || size.QuadPart > kMaxManifestBytes) {
        return false;
    }
    bytes->resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes->size()) {
        DWORD got = 0;
        if (!::ReadFile(handle->get(), &(*bytes)[done], static_cast<DWORD>(bytes->size() - done),
                        &got, nullptr) ||
            got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
    kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_TEMPORARY, nullptr));
    DWORD written = 0;
    return file &&
           (bytes.empty() || (::WriteFile(file.get(), bytes.data(),
                                          static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                              written == bytes.size()));
}

std::string UnverifiedMessage(const char* reason) {
    return std::string("The update information from the server could not be verified (") + reason +
           "). No update is offered.";
}

}  // namespace

void CTovaneFileDlg::ReportMissingFolder(const char* which, DWORD error) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "The %s folder could not be determined (error %lu). No update check was made.",
                  which, static_cast<unsigned long>(error));
    SetStatus(text);
}

CTovaneFileDlg::CTovaneFileDlg(HWND pParent)
    : ModalDialog(IDD_UPDATE_DIALOG, pParent),
      m_strUrl(tovane::kUpdateBaseUrl),
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

    // Without both folders nothing is fetched: a failed query would leave an
    // empty folder, and the downloads and the version file would land in
    // whatever folder a relative name then means.
    char tempCh[MAX_PATH + 1] = {};
    DWORD error = 0;
    if (!QueryFolder(&::GetCurrentDirectoryA, tempCh, &error)) {
        ReportMissingFolder("program", error);
    } else {
        m_strAppDir = tovane::ProgramFolderFromCurrentDir(tempCh);
        // Before the version is read: it is the rolled-back one that counts.
        bool recovered = RecoverInterruptedInstall();
        std::string tempCs = tovane::LocalVersionFilePath(tempCh, m_strVerName);
        m_nMainVer = ReadProfileNumber("Kelvo", "MainVer", tempCs);
        m_nSubVer = ReadProfileNumber("Kelvo", "SubVer", tempCs);

        if (!recovered) {
            // The status box says what is wrong; no check over a broken folder.
        } else if (!QueryFolder(&::GetTempPathA, tempCh, &error)) {
            ReportMissingFolder("temporary", error);
        } else {
            m_strTempDir = tempCh;
            StartWorker(tovane::kCheckJob);
        }
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
    case WM_TIMER:
        OnTimer(wParam);
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) {
            OnBnClickedUpdate();
            return true;
        }
        break;
    case tovane::WM_WORKER_STATUS: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        SetStatus(text->c_str());
        return true;
    }
    case tovane::WM_WORKER_PROGRESS:
        switch (wParam) {
        case tovane::kProgressShow:
            m_progress.ShowWindow(SW_SHOW);
            break;
        case tovane::kProgressRange:
            m_progress.SetRange(0, static_cast<short>(lParam));
            break;
        default:
            m_progress.SetPos(static_cast<int>(lParam));
            break;
        }
        return true;
    case tovane::WM_WORKER_DONE:
        OnWorkerDone();
        return true;
    case WM_DESTROY:
        if (m_job) {
            m_job->Detach();
        }
        OnDestroy();
        break;
    case WM_NCDESTROY: {
        // Status texts still queued were never shown; free them.
        MSG pending;
        while (::PeekMessageA(&pending, GetSafeHwnd(), tovane::WM_WORKER_STATUS,
                              tovane::WM_WORKER_STATUS, PM_REMOVE)) {
            delete reinterpret_cast<std::string*>(pending.lParam);
        }
        if (App() != nullptr) {
            App()->SetMainWindow(nullptr);
        }
        break;
    }
    default:
        break;
    }
    // WM_CLOSE falls through to the dialog manager, which issues IDCANCEL:
    // the close box behaves exactly like "Close".
    return ModalDialog::OnMessage(msg, wParam, lParam, result);
}

int CTovaneFileDlg::SetStatus(const char* text) {
    // The texts are GBK whatever the system's code page; SetWindowTextA
    // would read them in that code page.
    ::SetWindowTextW(GetDlgItem(IDC_STATUS), kelvo::ui::WideFromGbk(text).c_str());
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
        OnDownloadsDone(1);
    }
}

void CTovaneFileDlg::OnBnClickedUpdate() {
    SetStatus("Kelvo is updating, please wait...");
    ::EnableWindow(GetDlgItem(IDC_UPDATE), FALSE);
    StartWorker(tovane::kUpdateJob);
}

int CTovaneFileDlg::StartWorker(std::int8_t mode) {
    m_nMode = mode;
    std::vector<tovane::DownloadItem> items;
    if (mode == tovane::kCheckJob) {
        items = tovane::CheckDownloads(m_strUrl, m_strTempDir, m_strVerName,
                                       tovane::trust::HasBuiltInKey());
    } else {
        items = tovane::UpdateDownloads(m_strUrl, m_strTempDir, m_vecFiles);
    }
    auto job = std::make_shared<tovane::DownloadJob>(GetSafeHwnd(), mode, std::move(items));
    auto* handOver = new std::shared_ptr<tovane::DownloadJob>(job);
    auto thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &tovane::DownloadJob::WorkerProc, handOver, 0, nullptr));
    if (thread == nullptr) {
        // No job runs and no timer follows; the dialog keeps its status.
        delete handOver;
        return 1;
    }
    m_job = std::move(job);
    m_worker.reset(thread);
    return 1;
}

void CTovaneFileDlg::OnWorkerDone() {
    if (m_job) {
        m_results = m_job->Results();
    }
    // The thread has nothing left to do but return.
    JoinWorker();
    ::SetTimer(GetSafeHwnd(), kDownloadsDoneTimer, 500, nullptr);
}

void CTovaneFileDlg::StopWorker() {
    if (!m_job) {
        return;
    }
    m_job->Cancel();
    m_job->Detach();
    // The job only posts to this window, never sends, so waiting here cannot
    // deadlock. A transfer that does not give up in time is left behind: it
    // touches nothing of the dialog, and the process ends after the dialog.
    JoinWorker();
}

void CTovaneFileDlg::JoinWorker() {
    if (m_worker) {
        ::WaitForSingleObject(m_worker.get(), kWorkerStopWaitMs);
        m_worker.reset();
    }
    m_job.reset();
}

void CTovaneFileDlg::OnCancel() {
    if (m_installing) {
        return;  // the installation ends by itself, whole or rolled back
    }
    StopWorker();
    ModalDialog::OnCancel();
}

int CTovaneFileDlg::OnDownloadsDone(int) {
    if (m_nMode != tovane::kCheckJob) {
        return RunInstallation();
    }
    std::string cstrFilePath = m_strTempDir + m_strVerName + ".ini";

    // A manifest that did not arrive this time is not read, even if an older
    // file stands at the path: that would be a stale decision.
    bool arrived = !m_results.empty() && m_results.front().ok;
    if (!arrived) {
        ::DeleteFileA(cstrFilePath.c_str());
    }
    // With a key built in nothing of the manifest is read before its bytes
    // verify, and then only a copy of exactly those bytes is read.
    const bool keyed = tovane::trust::HasBuiltInKey();
    bool signatureArrived = m_results.size() > 1 && m_results[1].ok;
    m_results.clear();
    std::string verified;
    if (keyed && arrived &&
        !TakeVerifiedManifest(cstrFilePath, signatureArrived, &cstrFilePath, &verified)) {
        return 0;
    }
    if (keyed && !arrived) {
        ::DeleteFileA((cstrFilePath + ".sig").c_str());
    }
    const tovane::ManifestEncoding encoding = kelvo::ui::PrepareManifestForReading(cstrFilePath);
    // Held without write sharing while the profile calls read the copy, and
    // checked to still be the verified bytes, in the form written for reading.
    kelvo::unique_hfile held;
    if (keyed && arrived) {
        std::string now;
        if (!ReadFileHeld(cstrFilePath, &held, &now) || now != verified) {
            held.reset();
            ::DeleteFileA(cstrFilePath.c_str());
            SetStatus(UnverifiedMessage("changed after it was verified").c_str());
            return 0;
        }
    }

    // Read whole, or refused: a list cut short would install part of an
    // update and record it as complete.
    std::string programs;
    std::wstring notes;
    bool whole = tovane::ReadWholeProfileString("Programs", "Programs", cstrFilePath, &programs) &&
                 kelvo::ui::ReadManifestNotes(cstrFilePath, encoding, &notes);
    std::vector<std::string> entries = tovane::SplitFileList(programs);
    const std::string* unsafe = whole ? tovane::FindUnsafeName(entries) : nullptr;
    std::string refusedName = unsafe != nullptr ? *unsafe : std::string();
    if (whole && unsafe == nullptr) {
        m_vecFiles.insert(m_vecFiles.end(), entries.begin(), entries.end());
        m_nNewMainVer = ReadProfileNumber("Kelvo", "MainVer", cstrFilePath);
        m_nNewSubVer = ReadProfileNumber("Kelvo", "SubVer", cstrFilePath);
        m_filesValues.clear();
        for (const std::string& name : entries) {
            std::string value;
            if (!name.empty() &&
                tovane::trust::ReadFilesValue(cstrFilePath.c_str(), name.c_str(), value)) {
                m_filesValues[name] = value;
            }
        }
    }
    held.reset();
    ::DeleteFileA(cstrFilePath.c_str());

    if (!whole) {
        SetStatus(
            "The update list or notes on the server are too long to be read whole. No "
            "update is offered.");
        return 0;
    }
    if (unsafe != nullptr) {
        // Names from the server become paths in two folders; one that is not
        // a plain file name refuses the whole list before anything is fetched.
        std::string message =
            "The update list on the server names a file that cannot be used "
            "safely: \"" +
            refusedName + "\". No update is offered.";
        SetStatus(message.c_str());
        return 0;
    }
    if (tovane::IsNewerVersion({m_nMainVer, m_nSubVer}, {m_nNewMainVer, m_nNewSubVer})) {
        ::SetWindowTextW(GetDlgItem(IDC_STATUS), notes.c_str());
        ::EnableWindow(GetDlgItem(IDC_UPDATE), TRUE);
        return 1;
    }
    // "Software does not need to update！" (full-width '！' in GBK)
    SetStatus("Software does not need to update\xA3\xA1");
    return 0;
}

bool CTovaneFileDlg::TakeVerifiedManifest(const std::string& downloaded, bool signatureArrived,
                                          std::string* readPath, std::string* verified) {
    // Read once each, through handles no one else can write through; only
    // these bytes are verified and used.
    std::string manifest;
    std::string signature;
    kelvo::unique_hfile handle;
    bool readable = ReadFileHeld(downloaded, &handle, &manifest);
    handle.reset();
    const std::string signaturePath = downloaded + ".sig";
    // A signature whose transfer failed is missing, whatever a file at the
    // path may still hold.
    if (signatureArrived && !ReadFileHeld(signaturePath, &handle, &signature)) {
        signature.clear();
    }
    handle.reset();
    ::DeleteFileA(signaturePath.c_str());
    ::DeleteFileA(downloaded.c_str());

    if (!readable) {
        SetStatus(UnverifiedMessage("it could not be read").c_str());
        return false;
    }
    long error = 0;
    tovane::trust::ManifestCheck check = tovane::trust::VerifyManifest(
        manifest.data(), manifest.size(), signature.data(), signature.size(), &error);
    if (check != tovane::trust::ManifestCheck::kVerified) {
        std::string reason = tovane::trust::ToString(check);
        if (check == tovane::trust::ManifestCheck::kCryptoFailure) {
            char code[32];
            std::snprintf(code, sizeof code, " 0x%08lX", static_cast<unsigned long>(error));
            reason += code;
        }
        SetStatus(UnverifiedMessage(reason.c_str()).c_str());
        return false;
    }
    // The profile calls read by path: they get a file of the updater's own,
    // written from the verified bytes (already in the form they read, so it
    // is not rewritten again), never the download.
    *readPath = m_strTempDir + m_strVerName + ".verified.ini";
    *verified = kelvo::ui::ManifestBytesForReading(manifest);
    if (!WriteNewFile(*readPath, *verified)) {
        ::DeleteFileA(readPath->c_str());
        SetStatus(UnverifiedMessage("no copy could be written to the temporary folder").c_str());
        return false;
    }
    return true;
}

bool CTovaneFileDlg::RecoverInterruptedInstall() {
    tovane::Win32ProductControl control(GetSafeHwnd());
    tovane::RecoveryResult recovery = tovane::RecoverInterruptedInstall(m_strAppDir, control);
    if (!recovery.message.empty()) {
        SetStatus(recovery.message.c_str());
    }
    return recovery.ok;
}

int CTovaneFileDlg::RunInstallation() {
    // A file whose transfer failed or broke off is never installed: with
    // any of the installed entries missing, nothing is touched at all.
    const int n = tovane::InstalledEntryCount(m_vecFiles.size());
    for (int i = 0; i < n; ++i) {
        bool ok = static_cast<std::size_t>(i) < m_results.size() && m_results[i].ok;
        if (!ok) {
            std::string message = "The update file \"" + m_vecFiles[i] +
                                  "\" could not be downloaded completely. Nothing was changed; "
                                  "please try the update again later.";
            SetStatus(message.c_str());
            kelvo::ui::MessageBoxGbk(GetSafeHwnd(), message.c_str(), "Update", MB_ICONERROR);
            return 1;
        }
    }

    // Each download is checked against its [Files] entry through a handle
    // that shares reading only, and the installer copies from that same
    // handle: the bytes checked are the bytes installed. All are checked
    // before the product is stopped.
    const bool required = tovane::trust::HasBuiltInKey();
    std::vector<kelvo::unique_hfile> held;
    std::vector<HANDLE> sources;
    for (int i = 0; i < n; ++i) {
        const std::string& name = m_vecFiles[i];
        if (name.empty()) {
            sources.push_back(nullptr);  // an empty entry installs nothing
            continue;
        }
        held.emplace_back(::CreateFileA((m_strTempDir + name).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        DWORD error = ::GetLastError();
        tovane::trust::FileCheck check = tovane::trust::FileCheck::kReadFailed;
        if (held.back()) {
            auto value = m_filesValues.find(name);
            check = tovane::trust::CheckFile(
                held.back().get(), value != m_filesValues.end() ? value->second.c_str() : nullptr,
                required, &error);
        }
        if (check != tovane::trust::FileCheck::kMatch &&
            check != tovane::trust::FileCheck::kNotRequired) {
            std::string reason = tovane::trust::ToString(check);
            if (check == tovane::trust::FileCheck::kReadFailed) {
                reason += ", error " + std::to_string(error);
            }
            std::string message = "The update file \"" + name +
                                  "\" does not match the update information (" + reason +
                                  "). Nothing was changed; please try the update again later.";
            SetStatus(message.c_str());
            kelvo::ui::MessageBoxGbk(GetSafeHwnd(), message.c_str(), "Update", MB_ICONERROR);
            return 1;
        }
        sources.push_back(held.back().get());
    }

    tovane::InstallRequest request;
    request.programFolder = m_strAppDir;
    request.sourceFolder = m_strTempDir;
    request.names.assign(m_vecFiles.begin(), m_vecFiles.begin() + n);
    request.sources = std::move(sources);
    request.versionFileName = m_strVerName + ".ini";
    request.mainVer = m_nNewMainVer;
    request.subVer = m_nNewSubVer;

    tovane::Win32ProductControl control(GetSafeHwnd());
    DialogProgress progress(*this, m_progress);
    m_installing = true;
    tovane::InstallResult result = tovane::Install(request, control, progress);
    m_installing = false;

    using Outcome = tovane::InstallResult::Outcome;
    if (result.outcome == Outcome::kInstalled) {
        // The version went to the folder the files went to; the program
        // folder's own record changes only when that is the same folder,
        // however its path is spelled.
        if (::lstrcmpiA(result.targetFolder.c_str(), m_strAppDir.c_str()) == 0 ||
            tovane::SameFile(result.targetFolder, m_strAppDir)) {
            m_nMainVer = m_nNewMainVer;
            m_nSubVer = m_nNewSubVer;
        }
        kelvo::ui::MessageBoxGbk(GetSafeHwnd(), result.message.c_str(), "Update",
                                 MB_ICONINFORMATION);
        EndDialog(IDOK);
        return 1;
    }
    if (result.outcome == Outcome::kNothingToInstall) {
        SetStatus(result.message.c_str());
        kelvo::ui::MessageBoxGbk(GetSafeHwnd(), result.message.c_str(), "Update",
                                 MB_ICONINFORMATION);
        return 0;
    }
    kelvo::ui::MessageBoxGbk(GetSafeHwnd(), result.message.c_str(), "Update", MB_ICONERROR);
    return 0;
}

void CTovaneFileDlg::OnDestroy() {
    for (const std::string& entry : m_vecFiles) {
        std::string tempCs = m_strTempDir + entry;
        ::DeleteFileA(tempCs.c_str());
    }
    if (m_strAppDir.empty()) {
        return;  // the program folder was never known: no version file to write
    }
    std::string filePath = m_strAppDir + m_strVerName + ".ini";
    char tempCs[16];
    std::snprintf(tempCs, sizeof tempCs, "%d", static_cast<int>(m_nMainVer));
    ::WritePrivateProfileStringA("Kelvo", "MainVer", tempCs, filePath.c_str());
    std::snprintf(tempCs, sizeof tempCs, "%d", static_cast<int>(m_nSubVer));
    ::WritePrivateProfileStringA("Kelvo", "SubVer", tempCs, filePath.c_str());
}
