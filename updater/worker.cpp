#include "worker.h"

#include "net/download.h"

namespace tovane {

class PostedProgress : public DownloadProgress {
public:
    explicit PostedProgress(DownloadJob& job) : job_(job) {}
    void Show() override { job_.Post(WM_WORKER_PROGRESS, kProgressShow, 0); }
    void SetRange(std::int16_t, std::int16_t upper) override {
        job_.Post(WM_WORKER_PROGRESS, kProgressRange, upper);
    }
    void SetPos(int pos) override { job_.Post(WM_WORKER_PROGRESS, kProgressPos, pos); }

private:
    DownloadJob& job_;
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
