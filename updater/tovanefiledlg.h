// The update dialog: owner of all updater state, and the place where the
// check, the update decision and the installation meet the user.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "ui/modal_dialog.h"
#include "ui/progress_bar.h"
#include "worker.h"

class CTovaneFileDlg : public kelvo::ui::ModalDialog {
public:
    explicit CTovaneFileDlg(HWND pParent = nullptr);
    ~CTovaneFileDlg() override;

    int SetStatus(const char* text);
    int StartWorker(std::int8_t mode);
    int OnDownloadsDone(int flag);

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedUpdate();
    void OnCancel() override;
    void OnDestroy();

    // The update-mode branch of the after-download step.
    int RunInstallation();
    // An installation cut short by a crash is put right before anything else.
    bool RecoverInterruptedInstall();
    // With a key built in: the downloaded manifest verified against its
    // signature, then copied to a file of the updater's own that the
    // profile calls read (*readPath; *verified: its bytes); false (status box
    // set) when it is refused.
    bool TakeVerifiedManifest(const std::string& downloaded, bool signatureArrived,
                              std::string* readPath, std::string* verified);
    void OnWorkerDone();
    void ReportMissingFolder(const char* which, DWORD error);
    // Cancels a running job and waits a bounded time for its thread.
    void StopWorker();
    // Waits a bounded time for the worker thread and lets go of the job.
    void JoinWorker();

    HICON m_hIcon;
    std::string m_strAppDir;
    std::string m_strTempDir;
    std::vector<std::string> m_vecFiles;
    // The [Files] value of each listed name that has one, read together
    // with the list from the (verified) manifest, which is gone afterwards.
    std::map<std::string, std::string> m_filesValues;
    std::string m_strUrl;
    std::string m_strVerName;
    std::int8_t m_nMode = 0;
    std::uint32_t m_nMainVer;
    std::uint32_t m_nSubVer;
    std::uint32_t m_nNewMainVer;
    std::uint32_t m_nNewSubVer;
    // Set while files are replaced: closing the dialog then would end the
    // process half-way, so it waits.
    bool m_installing = false;
    kelvo::ui::ProgressBar m_progress;

    std::shared_ptr<tovane::DownloadJob> m_job;
    kelvo::unique_handle m_worker;
    // Per listed file: whether its transfer succeeded, from the last update job.
    std::vector<tovane::TransferResult> m_results;
};
