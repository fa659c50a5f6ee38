// The dialog's side of a session: events posted to its window, never sent,
// so the dialog can stop and wait for the session without a deadlock; and
// the one question the session asks, answered on the dialog's thread while
// the session waits.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "common/unique_handle.h"
#include "session/view.h"

namespace tovane {

enum : UINT {
    WM_SESSION_EVENT = WM_APP + 1,  // lParam: SessionEvent*, owned by the receiver
    WM_SESSION_ASK = WM_APP + 2,    // lParam: SessionQuestion*, answered by the receiver
};

// The manual-close prompt on its way to the dialog and back.
class SessionQuestion {
public:
    SessionQuestion() : answered_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    void Answer(bool yes) noexcept;
    // False when no answer came (the event could not be made).
    bool Wait(bool* yes) const noexcept;

private:
    kelvo::unique_handle answered_;
    bool yes_ = false;
};

class WindowView : public SessionView {
public:
    explicit WindowView(HWND window) : window_(window) {}

    void Show(SessionEvent event) override;
    bool AskWhetherClosed() override;

    // The dialog's window is going: nothing more reaches it.
    void Detach() noexcept;

    // What a window that goes away leaves in its queue: events are dropped,
    // questions answered "No".
    static void Drain(HWND window);
    // Takes over what a WM_SESSION_* message carries.
    static std::unique_ptr<SessionEvent> TakeEvent(LPARAM lParam);
    static std::shared_ptr<SessionQuestion> TakeQuestion(LPARAM lParam);

private:
    bool Post(UINT msg, LPARAM lParam) noexcept;

    std::mutex mutex_;
    HWND window_;
};

}  // namespace tovane
