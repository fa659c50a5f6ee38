// WinInet handles with ownership, and a way for another thread to abort a
// transfer: closing the session handle makes the blocking WinInet call in
// the transfer's thread return with an error.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>

#include "common/unique_handle.h"

namespace tovane::net {

struct InternetHandleTraits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
};

using InternetHandle = kelvo::UniqueHandle<InternetHandleTraits>;

// Shared between a transfer and whoever may cancel it.
class TransferCancel {
public:
    TransferCancel() : cancelEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    // Closes the registered session, if any, and refuses every later one.
    void Cancel() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        if (session_ != nullptr) {
            ::InternetCloseHandle(session_);
            session_ = nullptr;
            closedByCancel_ = true;
        }
        if (cancelEvent_) {
            ::SetEvent(cancelEvent_.get());
        }
    }

    // Waits between two attempts of a transfer; true when cancelled meanwhile.
    bool WaitCancelled(DWORD ms) const noexcept {
        if (!cancelEvent_) {
            ::Sleep(ms);
            return Cancelled();
        }
        return ::WaitForSingleObject(cancelEvent_.get(), ms) == WAIT_OBJECT_0 || Cancelled();
    }

    // Closes a handle under the registered session, unless Cancel() closed
    // the session and so the handle with it: never closed twice.
    void CloseUnlessCancelled(HINTERNET handle) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closedByCancel_) {
            ::InternetCloseHandle(handle);
        }
    }

    bool Cancelled() const noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return cancelled_;
    }

    // Takes the session of the running transfer. False when cancelled
    // already: the caller then closes the session itself and gives up.
    bool Register(HINTERNET session) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) {
            return false;
        }
        session_ = session;
        closedByCancel_ = false;
        return true;
    }

    // Hands the session back for closing. Returns false when Cancel() closed
    // it (and with it every connection and request under it), so that the
    // transfer closes nothing twice.
    bool Unregister() noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        session_ = nullptr;
        return !closedByCancel_;
    }

private:
    mutable std::mutex mutex_;
    HINTERNET session_ = nullptr;
    bool cancelled_ = false;
    bool closedByCancel_ = false;
    kelvo::unique_handle cancelEvent_;
};

}  // namespace tovane::net
