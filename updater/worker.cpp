#include "worker.h"

#include "net/download.h"

namespace tovane {

// The transfer reports every 10240-byte step; the dialog gets the latest
// position at most once per period and once at the end of each file. A
// message per step cost more than the transfer itself: each one is a
// wineserver round trip and a repaint of the bar.
class PostedProgress : public DownloadProgress {
public:
    explicit PostedProgress(DownloadJob& job) : job_(job) {}
    void Show() override {
        Flush();
        job_.Post(WM_WORKER_PROGRESS, kProgressShow, 0);
    }
    void SetRange(std::int16_t, std::int16_t upper) override {
        Flush();
        job_.Post(WM_WORKER_PROGRESS, kProgressRange, upper);
    }
    void SetPos(int pos) override {
        position_ = pos;
        pending_ = true;
        // A reset to 0 starts a file (or starts it over): shown at once.
        if (pos == 0 || ::GetTickCount() - lastPost_ >= kPeriodMs) {
            Flush();
        }
    }
    // The last position stored, sent if the dialog has not had it yet.
    void Flush() {
        if (pending_) {
            pending_ = false;
            lastPost_ = ::GetTickCount();
            job_.Post(WM_WORKER_PROGRESS, kProgressPos, position_);
        }
    }

private:
    static constexpr DWORD kPeriodMs = 30;
    DownloadJob& job_;
    int position_ = 0;
    bool pending_ = false;
    DWORD lastPost_ = ::GetTickCount();
};

DownloadJob::DownloadJob(HWND dialog, std::int8_t mode, std::vector<DownloadItem> items)
    : mode_(mode), items_(std::move(items)), window_(dialog) {}

bool DownloadJob::Post(UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_ != nullptr && ::PostMessageA(window_, msg, wParam, lParam) != FALSE;
}

void DownloadJob::PostStatus(const std::string& text) {
    auto* copy = new std::string(text);
    if (!Post(WM_WORKER_STATUS, 0, reinterpret_cast<LPARAM>(copy))) {
        delete copy;
    }
}

void DownloadJob::Run() {
    // "线程开始运行"
    ::OutputDebugStringA("\xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC\xD4\xCB\xD0\xD0\n");
    PostedProgress progress(*this);
    for (const DownloadItem& item : items_) {
        if (cancel_.Cancelled()) {
            break;
        }
        if (mode_ != kCheckJob) {
            PostStatus("Downloading update file " + item.name);
        }
        bool ok = DownloadFile(item.url.c_str(), item.localPath.c_str(), progress,
                               mode_ == kUpdateJob, &cancel_) == 1;
        progress.Flush();
        std::lock_guard<std::mutex> lock(mutex_);
        results_.push_back(TransferResult{item.name, ok});
    }
    Post(WM_WORKER_DONE, 0, 0);
    // "线程结束 "
    ::OutputDebugStringA("\xCF\xDF\xB3\xCC\xBD\xE1\xCA\xF8 \n");
}

void DownloadJob::Cancel() noexcept { cancel_.Cancel(); }

void DownloadJob::Detach() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = nullptr;
}

std::vector<TransferResult> DownloadJob::Results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
}

unsigned __stdcall DownloadJob::WorkerProc(void* pParam) {
    std::unique_ptr<std::shared_ptr<DownloadJob>> job(
        static_cast<std::shared_ptr<DownloadJob>*>(pParam));
    (*job)->Run();
    return 1;
}

}  // namespace tovane
