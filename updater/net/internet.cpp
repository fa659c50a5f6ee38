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
    handle_.reset();
}

HINTERNET Session::get() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_.get();
}

void Session::Abort() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    handle_.reset();
}

Session::Handle Session::OwnRequest(HINTERNET request) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = request;
    return Handle(request, ChildTraits{this});
}

void Session::AbortRequest() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!aborted_ && request_ != nullptr) {
        ::InternetCloseHandle(request_);
        abortedRequest_ = request_;
        request_ = nullptr;
    }
}

void Session::CloseChild(HINTERNET child) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (child == request_) {
        request_ = nullptr;
    }
    if (child == abortedRequest_) {
        abortedRequest_ = nullptr;  // AbortRequest closed it already
        return;
    }
    // An aborted session took its connections and requests with it.
    if (!aborted_) {
        ::InternetCloseHandle(child);
    }
}

}  // namespace tovane::net
