// WinInet handles with one owner each, and a way for another thread to
// abort a transfer: closing the session handle makes the blocking WinInet
// call in the transfer's thread return with an error, and closes every
// connection and request under it with it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>

#include "common/unique_handle.h"

namespace tovane::net {

class Session;

// The job's side of cancelling: a flag, an event that ends waits between
// attempts, and the session of the running transfer, which Cancel aborts.
class TransferCancel {
public:
    TransferCancel() : cancelEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    TransferCancel(const TransferCancel&) = delete;
    TransferCancel& operator=(const TransferCancel&) = delete;

    // Aborts the running transfer, if any, and refuses every later one.
    void Cancel() noexcept;
    bool Cancelled() const noexcept;
    // Waits between two attempts of a transfer; true when cancelled meanwhile.
    bool WaitCancelled(DWORD ms) const noexcept;

private:
    friend class Session;
    bool Register(Session* session) noexcept;
    void Unregister(Session* session) noexcept;

    mutable std::mutex mutex_;
    Session* session_ = nullptr;
    bool cancelled_ = false;
    kelvo::unique_handle cancelEvent_;
};

// The internet session of one transfer: the owner of the session handle and
// the one way out of every connection and request opened under it, so that
// nothing is closed twice when a cancel on another thread closed the
// session first.
class Session {
public:
    // Closes a connection or request through its session.
    struct ChildTraits {
        using pointer = HINTERNET;
        Session* session = nullptr;
        static pointer invalid() noexcept { return nullptr; }
        void close(pointer h) const noexcept { session->CloseChild(h); }
    };
    using Handle = kelvo::UniqueHandle<ChildTraits>;

    // Opens the session; Open() is false when that failed (the error is
    // then GetLastError's) or when the job was cancelled already.
    explicit Session(TransferCancel* cancel);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Open() const noexcept { return opened_ && registered_; }
    // Null once a cancel has aborted the session.
    HINTERNET get() noexcept;
    Handle Own(HINTERNET child) noexcept { return Handle(child, ChildTraits{this}); }

    // Closes the session from any thread: the call blocked under it returns,
    // and its connections and requests go with it.
    void Abort() noexcept;
    bool Aborted() noexcept;
    // Nothing under the session is closed, ever: Wine's WinInet reads an
    // unfinished body to its end when its request is closed, for as long
    // as the server sends. A transfer refused for what it sends leaves the
    // connection open instead; the server stalls once the socket's buffers
    // are full, and the process ends it.
    void Abandon() noexcept;

private:
    void CloseChild(HINTERNET child) noexcept;

    struct Traits {
        using pointer = HINTERNET;
        static pointer invalid() noexcept { return nullptr; }
        static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
    };

    TransferCancel* cancel_;
    std::mutex mutex_;
    kelvo::UniqueHandle<Traits> handle_;
    bool opened_ = false;
    bool aborted_ = false;
    bool abandoned_ = false;
    bool registered_ = false;
};

}  // namespace tovane::net
