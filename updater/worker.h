// One download job on a worker thread. The job talks to the dialog only by
// posting messages to its window, never by sending, so the dialog can stop
// and wait for it without a deadlock, and it reads nothing of the dialog:
// everything it needs is copied in when the job starts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download_plan.h"
#include "net/internet.h"

namespace tovane {

// Messages the worker posts to the dialog window.
enum : UINT {
    WM_WORKER_STATUS = WM_APP + 1,    // lParam: std::string*, owned by the receiver
    WM_WORKER_PROGRESS = WM_APP + 2,  // wParam: ProgressOp, lParam: value
    WM_WORKER_DONE = WM_APP + 3,      // the job is over; arm the after-download timer
};

// What one worker run fetches; the dialog keeps it in m_nMode.
enum JobMode : std::int8_t {
    kCheckJob = 1,   // the manifest
    kUpdateJob = 2,  // every listed file, each announced, with the progress bar shown
};

enum ProgressOp : WPARAM { kProgressShow = 0, kProgressRange = 1, kProgressPos = 2 };

struct TransferResult {
    std::string name;
    bool ok = false;
};

class DownloadJob {
public:
    // kCheckJob fetches the manifest; any other mode the listed files, each
    // announced in the status box.
    DownloadJob(HWND dialog, std::int8_t mode, std::vector<DownloadItem> items);

    // The worker's side: every transfer in turn, then the done message.
    void Run();

    // The dialog's side. Cancel aborts the running transfer and stops the
    // job; after Detach nothing more reaches the window.
    void Cancel() noexcept;
    void Detach() noexcept;
    std::vector<TransferResult> Results() const;

    // Thread entry; pParam is a heap std::shared_ptr<DownloadJob> that the
    // thread takes over.
    static unsigned __stdcall WorkerProc(void* pParam);

private:
    friend class PostedProgress;
    bool Post(UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    void PostStatus(const std::string& text);

    const std::int8_t mode_;
    const std::vector<DownloadItem> items_;
    net::TransferCancel cancel_;
    mutable std::mutex mutex_;
    HWND window_;
    std::vector<TransferResult> results_;
};

}  // namespace tovane
