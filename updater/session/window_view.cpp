#include "session/window_view.h"

namespace tovane {

void SessionQuestion::Answer(bool yes) noexcept {
    yes_ = yes;
    ::SetEvent(answered_.get());
}

bool SessionQuestion::Wait(bool* yes) const noexcept {
    if (!answered_ || ::WaitForSingleObject(answered_.get(), INFINITE) != WAIT_OBJECT_0) {
        return false;
    }
    *yes = yes_;
    return true;
}

bool WindowView::Post(UINT msg, LPARAM lParam) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_ != nullptr && ::PostMessageA(window_, msg, 0, lParam) != FALSE;
}

void WindowView::Show(SessionEvent event) {
    auto* copy = new SessionEvent(std::move(event));
    if (!Post(WM_SESSION_EVENT, reinterpret_cast<LPARAM>(copy))) {
        delete copy;
    }
}

bool WindowView::AskWhetherClosed() {
    auto question = std::make_shared<SessionQuestion>();
    auto* handOver = new std::shared_ptr<SessionQuestion>(question);
    if (!Post(WM_SESSION_ASK, reinterpret_cast<LPARAM>(handOver))) {
        delete handOver;
        return false;
    }
    bool yes = false;
    return question->Wait(&yes) && yes;
}

void WindowView::Detach() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = nullptr;
}

void WindowView::Drain(HWND window) {
    MSG pending;
    while (::PeekMessageA(&pending, window, WM_SESSION_EVENT, WM_SESSION_ASK, PM_REMOVE)) {
        if (pending.message == WM_SESSION_EVENT) {
            TakeEvent(pending.lParam);
        } else {
            TakeQuestion(pending.lParam)->Answer(false);
        }
    }
}

std::unique_ptr<SessionEvent> WindowView::TakeEvent(LPARAM lParam) {
    return std::unique_ptr<SessionEvent>(reinterpret_cast<SessionEvent*>(lParam));
}

std::shared_ptr<SessionQuestion> WindowView::TakeQuestion(LPARAM lParam) {
    std::unique_ptr<std::shared_ptr<SessionQuestion>> handOver(
        reinterpret_cast<std::shared_ptr<SessionQuestion>*>(lParam));
    return *handOver;
}

}  // namespace tovane
