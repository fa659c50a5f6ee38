#include "net/internet.h"

namespace tovane::net {

void TransferCancel::Cancel() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (session_ != nullptr) {
        session_->Abort();
    }
    if (cancelEvent_) {
        ::SetEvent(cancelEvent_.get());
    }
}

bool TransferCancel::Cancelled() const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool TransferCancel::WaitCancelled(DWORD ms) const noexcept {
    if (!cancelEvent_) {
        ::Sleep(ms);
        return Cancelled();
    }
    return ::WaitForSingleObject(cancelEvent_.get(), ms) == WAIT_OBJECT_0 || Cancelled();
}

bool TransferCancel::Register(Session* session) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        return false;
    }
    session_ = session;
    return true;
}

void TransferCancel::Unregister(Session* session) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_ == session) {
        session_ = nullptr;
    }
}

Session::Session(TransferCancel* cancel) : cancel_(cancel) {
    handle_.reset(::InternetOpenA("Tovane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    opened_ = static_cast<bool>(handle_);
    registered_ = opened_ && (cancel_ == nullptr || cancel_->Register(this));
}

Session::~Session() {
    // Unregistered first: from here on no cancel reaches this session.
    if (registered_ && cancel_ != nullptr) {
        cancel_->Unregister(this);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (abandoned_) {
        handle_.release();
    }
    handle_.reset();
}

HINTERNET Session::get() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_.get();
}

void Session::Abort() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!abandoned_) {
        aborted_ = true;
        handle_.reset();
    }
}

bool Session::Aborted() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborted_;
}

void Session::Abandon() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
}

void Session::CloseChild(HINTERNET child) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    // An aborted session took its connections and requests with it.
    if (!aborted_ && !abandoned_) {
        ::InternetCloseHandle(child);
    }
}

}  // namespace tovane::net
