#include "download.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "download_plan.h"
#include "net/internet.h"
#include "diag/log.h"
#include "numbers.h"
#include "transfer_steps.h"

namespace tovane {

namespace {

using diag::LogNote;

struct UrlParts {
    std::string server;
    std::string object;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    bool secure = false;  // https: TLS, with the certificate checked
};

// How often a body of unknown size has the free space of its volume checked.
const std::uint64_t kFreeSpaceCheckStep = std::uint64_t(64) << 20;

// Redirects followed for one file; a server that sends more is broken.
const int kMaxRedirects = 5;

// Scheme, host, port and object of the URL. Any scheme but https goes out
// as plain HTTP to that host and port.
bool SplitUrl(const char* url, UrlParts& parts) {
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    char path[INTERNET_MAX_PATH_LENGTH + 1] = {};
    char extra[INTERNET_MAX_PATH_LENGTH + 1] = {};
    URL_COMPONENTSA uc = {};
    uc.dwStructSize = sizeof uc;
    uc.lpszHostName = host;
    uc.dwHostNameLength = sizeof host;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = sizeof path;
    uc.lpszExtraInfo = extra;
    uc.dwExtraInfoLength = sizeof extra;
    if (!::InternetCrackUrlA(url, 0, 0, &uc) || host[0] == '\0') {
        return false;
    }
    parts.server = host;
    parts.object = std::string(path) + extra;
    if (parts.object.empty()) {
        parts.object = "/";
    }
    parts.secure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    const INTERNET_PORT defaultPort =
        parts.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    parts.port = uc.nPort != 0 ? uc.nPort : defaultPort;
    return true;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The errors of a TLS connection that no second try mends: the server's
// certificate (authority, name, dates, revocation) or the handshake itself.
bool IsSecurityFailure(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
        return true;
    default:
        return false;
    }
}

// A header of the answer as text; empty when absent.
std::string QueryHeader(HINTERNET request, DWORD info) {
    char text[1024];
    DWORD size = sizeof text - 1;
    if (!::HttpQueryInfoA(request, info, text, &size, nullptr)) {
        return std::string();
    }
    text[size < sizeof text ? size : sizeof text - 1] = '\0';
    return text;
}

enum class AttemptEnd { Done, Broken, Refetch, Redirected, Fail };

// How one session's part of a transfer ended.
enum class RunEnd {
    kDone,
    kFailed,
    kNewSession,  // the watchdog closed a session that brought too little: go on in a new one
};

// One file: its handles, what is in the local file so far and which version
// of the body that is.
class Transfer {
public:
    Transfer(const char* url, const char* localPath, DownloadProgress& progress, bool showBar,
             net::TransferCancel* cancel, const TransferBounds& bounds, const RetryPolicy& policy,
             BodySink* sink)
        : url_(url),
          localPath_(localPath),
          progress_(progress),
          showBar_(showBar),
          cancel_(cancel),
          bounds_(bounds),
          budget_(policy),
          sink_(sink) {}
    ~Transfer() {
        // Waits for a watchdog callback that runs: it touches this object.
        if (timer_ != nullptr) {
            ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        }
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // The URL read and the watchdog started; false: nothing can be fetched.
    bool Start();
    // Attempts and retries under one session, until the file is whole, the
    // transfer has failed, or the watchdog closed the session.
    RunEnd Run(net::Session& session);
    // Why the transfer failed: its last failing call, status or note.
    const Failure& LastFailure() const { return last_; }

private:
    // The subject stays a plain pointer: building a string before the error
    // is read must not be able to change it.
    void Record(const char* operation, DWORD error, const char* subject) {
        Record(Failure::System(operation, subject, error));
    }
    void Record(Failure failure) {
        diag::Log(failure);
        last_ = std::move(failure);
    }
    bool Cancelled() const { return cancel_ != nullptr && cancel_->Cancelled(); }
    // A body refused for what the server sends: its connection is left as
    // it is (Session::Abandon), and no retry asks for it again.
    AttemptEnd Refuse(Failure failure) {
        Record(std::move(failure));
        session_->Abandon();
        return AttemptEnd::Fail;
    }
    void AbortSession();
    // After a failed WinInet call: the watchdog's verdict, if it aborted the
    // request, else `otherwise`.
    AttemptEnd AfterAbort(AttemptEnd otherwise);
    bool EnoughFreeSpace(std::uint64_t more);
    static void CALLBACK Watch(PVOID self, BOOLEAN);
    AttemptEnd Attempt();
    AttemptEnd TakeAnswer(std::uint64_t offset);
    AttemptEnd StartFile();
    AttemptEnd ReadBody();
    AttemptEnd FollowRedirect();
    bool Connect();

    const char* url_;
    const char* localPath_;
    DownloadProgress& progress_;
    const bool showBar_;
    net::TransferCancel* cancel_;
    const TransferBounds& bounds_;
    RetryBudget budget_;
    BodySink* const sink_;
    HANDLE timer_ = nullptr;
    // The session of the running part; the watchdog closes it from its own
    // thread.
    std::mutex sessionMutex_;
    net::Session* session_ = nullptr;

    // Shared with the watchdog, which runs on a thread-pool thread.
    std::atomic<std::uint64_t> body_{0};  // body bytes read, over every attempt
    std::atomic<DWORD> windowStart_{0};
    std::atomic<std::uint64_t> windowBytes_{0};
    std::atomic<bool> slow_{false};
    std::atomic<bool> expired_{false};
    DWORD started_ = 0;

    UrlParts parts_;
    // Declared before the file: on every exit the local file closes first,
    // then the request, then the connection.
    net::Session::Handle connection_;
    net::Session::Handle request_;
    kelvo::unique_hfile localFile_;
    std::unique_ptr<char[]> buffer_;

    std::uint64_t received_ = 0;   // bytes in the local file
    std::uint64_t farthest_ = 0;   // most bytes the file ever held
    bool startOver_ = false;       // the next request asks for the whole body
    std::string validator_;        // of the version in the local file
    bool haveLength_ = false;      // the whole body's length is known
    std::uint64_t announced_ = 0;  // and is this
    bool shown_ = false;
    int rangeUpper_ = -1;  // last range upper set on the bar
    std::uint32_t readSize_ = kFirstReadSize;
    std::string currentUrl_;  // where the last redirect led; the URL asked for at first
    Failure last_;
    int redirects_ = 0;
};

bool Transfer::Connect() {
    connection_ =
        session_->Own(::InternetConnectA(session_->get(), parts_.server.c_str(), parts_.port,
                                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection_) {
        Record("InternetConnect", ::GetLastError(), currentUrl_.c_str());
        return false;
    }
    return true;
}

// Once a second: a position held back is shown, and a deadline passed, or a
// window that brought too little, aborts the request that the transfer's
// thread may be blocked in.
void CALLBACK Transfer::Watch(PVOID parameter, BOOLEAN) {
    auto* self = static_cast<Transfer*>(parameter);
    self->progress_.Idle();
    const DWORD now = ::GetTickCount();
    if (self->bounds_.deadlineMs != 0 && now - self->started_ >= self->bounds_.deadlineMs) {
        if (!self->expired_.exchange(true)) {
            LogNote("past its deadline: the session is closed", self->url_);
        }
        self->AbortSession();
        return;
    }
    const std::uint64_t bytes = self->body_;
    const DWORD elapsed = now - self->windowStart_;
    if (elapsed < self->bounds_.windowMs) {
        return;
    }
    if (TooSlow(bytes - self->windowBytes_, elapsed, self->bounds_)) {
        LogNote("too slow: the session is closed", self->url_);
        self->slow_ = true;
        self->AbortSession();
    }
    self->windowStart_ = now;
    self->windowBytes_ = bytes;
}

// Closing only the request would not do: a read blocked under it goes on
// until its buffer is full, which a drip never fills.
void Transfer::AbortSession() {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (session_ != nullptr) {
        session_->Abort();
    }
}

AttemptEnd Transfer::AfterAbort(AttemptEnd otherwise) {
    if (expired_) {
        Record(Failure::Note(
            "not complete within " + std::to_string(bounds_.deadlineMs / 1000) + " s", url_));
        return AttemptEnd::Fail;
    }
    if (slow_.exchange(false)) {
        Record(Failure::Note("fewer than " + std::to_string(bounds_.minBytesPerWindow) +
                                 " bytes in " + std::to_string(bounds_.windowMs / 1000) + " s",
                             url_));
        return AttemptEnd::Broken;
    }
    return otherwise;
}

// A file without a size limit must leave its volume a margin: an endless
// body would otherwise fill the disk.
bool Transfer::EnoughFreeSpace(std::uint64_t more) {
    std::string folder(localPath_);
    folder.erase(folder.find_last_of('\\') + 1);
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr)) {
        Record("GetDiskFreeSpaceEx", ::GetLastError(), folder.c_str());
        return false;
    }
    if (free.QuadPart < more + kFreeSpaceMargin) {
        Refuse(Failure::Note("not enough free space for " + std::to_string(more) + " more bytes",
                             localPath_));
        return false;
    }
    return true;
}

bool Transfer::Start() {
    if (!SplitUrl(url_, parts_)) {
        Record("InternetCrackUrl", ::GetLastError(), url_);
        return false;
    }
    currentUrl_ = url_;
    started_ = ::GetTickCount();
    windowStart_ = started_;
    if (!::CreateTimerQueueTimer(&timer_, nullptr, &Transfer::Watch, this, 1000, 1000,
                                 WT_EXECUTEDEFAULT)) {
        timer_ = nullptr;
        Record("CreateTimerQueueTimer", ::GetLastError(), url_);
        return false;
    }
    return true;
}

RunEnd Transfer::Run(net::Session& session) {
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        session_ = &session;
    }
    // Nothing of this session outlives it.
    auto leave = kelvo::scope_exit([this] {
        request_.reset();
        connection_.reset();
        std::lock_guard<std::mutex> lock(sessionMutex_);
        session_ = nullptr;
    });
    if (!Connect()) {
        return session.Aborted() && !expired_ && !Cancelled() ? RunEnd::kNewSession
                                                              : RunEnd::kFailed;
    }
    for (;;) {
        const AttemptEnd end = Attempt();
        if (end == AttemptEnd::Done) {
            return RunEnd::kDone;
        }
        if (end == AttemptEnd::Fail || Cancelled()) {
            return RunEnd::kFailed;
        }
        if (AfterAbort(end) == AttemptEnd::Fail) {
            return RunEnd::kFailed;
        }
        if (end == AttemptEnd::Redirected) {
            continue;  // at once, and not counted as a break
        }
        const bool progressed = received_ > farthest_;
        if (progressed) {
            farthest_ = received_;
        }
        std::uint32_t delayMs = 0;
        if (!budget_.Next(progressed, delayMs)) {
            // The last failure stays the reason; this only ends the story.
            LogNote("transfer given up after its retries", url_);
            return RunEnd::kFailed;
        }
        char note[96];
        std::snprintf(note, sizeof note, "trying again in %lu ms from byte %llu",
                      static_cast<unsigned long>(delayMs),
                      static_cast<unsigned long long>(startOver_ ? 0 : received_));
        LogNote(note, url_);
        bool cancelled = false;
        if (cancel_ != nullptr) {
            cancelled = cancel_->WaitCancelled(delayMs);
        } else {
            ::Sleep(delayMs);
        }
        if (cancelled) {
            return RunEnd::kFailed;
        }
        request_.reset();
        if (session.Aborted()) {
            return RunEnd::kNewSession;
        }
    }
}

AttemptEnd Transfer::Attempt() {
    // Without a validator nothing ties a part to the bytes already here.
    const std::uint64_t offset = startOver_ || validator_.empty() ? 0 : received_;
    startOver_ = false;
    // Neither read nor fill the cache: a cached manifest would show a stale
    // decision, and every update file would be written to disk twice.
    DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD |
                  INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (parts_.secure) {
        // Certificate errors stay errors (no INTERNET_FLAG_IGNORE_CERT_*).
        // Redirects are followed here, not by WinInet, which would follow
        // one to plain http even when told not to.
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    request_.reset();
    windowStart_ = ::GetTickCount();
    windowBytes_ = body_.load();
    request_ = session_->Own(::HttpOpenRequestA(connection_.get(), "GET", parts_.object.c_str(),
                                                nullptr, nullptr, nullptr, flags, 1));
    if (!request_) {
        Record("HttpOpenRequest", ::GetLastError(), url_);
        return AttemptEnd::Broken;
    }
    std::string headers;
    if (offset > 0) {
        char range[64];
        std::snprintf(range, sizeof range, "Range: bytes=%llu-\r\n",
                      static_cast<unsigned long long>(offset));
        headers = std::string(range) + "If-Range: " + validator_ + "\r\n";
    }
    if (!::HttpSendRequestA(request_.get(), headers.empty() ? nullptr : headers.c_str(),
                            static_cast<DWORD>(headers.size()), nullptr, 0)) {
        const DWORD error = ::GetLastError();
        Record("HttpSendRequest", error, currentUrl_.c_str());
        return AfterAbort(IsSecurityFailure(error) ? AttemptEnd::Fail : AttemptEnd::Broken);
    }
    return TakeAnswer(offset);
}

// Only a secure request sees a redirect: it is followed to https only.
AttemptEnd Transfer::FollowRedirect() {
    const std::string location = QueryHeader(request_.get(), HTTP_QUERY_LOCATION);
    char target[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD length = sizeof target - 1;
    if (location.empty() ||
        !::InternetCombineUrlA(currentUrl_.c_str(), location.c_str(), target, &length, 0)) {
        Record("InternetCombineUrl(redirect)", ::GetLastError(), currentUrl_.c_str());
        return AttemptEnd::Fail;
    }
    UrlParts next;
    if (!SplitUrl(target, next)) {
        Record("InternetCrackUrl(redirect)", ::GetLastError(), target);
        return AttemptEnd::Fail;
    }
    if (!next.secure) {
        Record(Failure::Note("a redirect away from https was refused", target));
        return AttemptEnd::Fail;
    }
    if (++redirects_ > kMaxRedirects) {
        Record(Failure::Note("more than " + std::to_string(kMaxRedirects) + " redirects", target));
        return AttemptEnd::Fail;
    }
    LogNote("redirected", target);
    request_.reset();
    connection_.reset();
    parts_ = next;
    currentUrl_ = target;
    return Connect() ? AttemptEnd::Redirected : AttemptEnd::Fail;
}

AttemptEnd Transfer::TakeAnswer(std::uint64_t offset) {
    DWORD dwStateCode = 0;
    DWORD size = sizeof dwStateCode;
    if (!::HttpQueryInfoA(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                          &dwStateCode, &size, nullptr)) {
        Record("HttpQueryInfo(status)", ::GetLastError(), url_);
        return AttemptEnd::Broken;
    }
    if (parts_.secure && IsRedirect(dwStateCode)) {
        return FollowRedirect();
    }
    Reply reply;
    reply.status = static_cast<int>(dwStateCode);
    reply.hasRange = ParseContentRange(
        QueryHeader(request_.get(), HTTP_QUERY_CONTENT_RANGE).c_str(), reply.range);
    reply.validator = ChooseValidator(QueryHeader(request_.get(), HTTP_QUERY_ETAG),
                                      QueryHeader(request_.get(), HTTP_QUERY_LAST_MODIFIED));
    switch (JudgeReply(offset, validator_, haveLength_ ? announced_ : 0, reply)) {
    case ReplyUse::Fail:
        Record(Failure::Http("GET", url_, dwStateCode));
        return AttemptEnd::Fail;
    case ReplyUse::RefetchFromStart:
        // Recorded, not only logged: should the retries run out here, it is
        // the reason.
        Record(Failure::Http("resumed GET could not continue the file and starts it over", url_,
                             dwStateCode));
        startOver_ = true;
        return AttemptEnd::Refetch;
    case ReplyUse::UseFromStart:
        validator_ = reply.validator;
        if (StartFile() == AttemptEnd::Fail) {
            return AttemptEnd::Fail;
        }
        break;
    case ReplyUse::Append:
        if (bounds_.maxBytes != kUnbounded && reply.range.total > bounds_.maxBytes) {
            return Refuse(Failure::Note(
                "the server announced " + std::to_string(reply.range.total) +
                    " bytes, more than the " + std::to_string(bounds_.maxBytes) + " allowed",
                url_));
        }
        break;
    }
    return ReadBody();
}

// A whole body is coming: the local file (created now, or emptied) and the
// bar start from zero.
AttemptEnd Transfer::StartFile() {
    // The announced length is judged before the file is touched: a body
    // refused for its size leaves an older file at the path as it was.
    char szInfoBuffer[1000];
    std::memset(szInfoBuffer, 0, sizeof szInfoBuffer);
    DWORD dwInfoBufferSize = sizeof szInfoBuffer;
    bool haveLength = ::HttpQueryInfoA(request_.get(), HTTP_QUERY_CONTENT_LENGTH, szInfoBuffer,
                                       &dwInfoBufferSize, nullptr) != FALSE;
    szInfoBuffer[sizeof szInfoBuffer - 1] = '\0';
    const std::int32_t fileSize = ParseContentLength(szInfoBuffer);
    announced_ = 0;
    haveLength_ = haveLength && ParseExactLength(szInfoBuffer, announced_);
    if (haveLength_ && bounds_.maxBytes != kUnbounded && announced_ > bounds_.maxBytes) {
        return Refuse(Failure::Note("the server announced " + std::to_string(announced_) +
                                        " bytes, more than the " +
                                        std::to_string(bounds_.maxBytes) + " allowed",
                                    url_));
    }
    if (haveLength_ && bounds_.maxBytes == kUnbounded && !EnoughFreeSpace(announced_)) {
        return AttemptEnd::Fail;
    }

    if (!localFile_) {
        localFile_.reset(::CreateFileA(localPath_, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!localFile_) {
            Record("CreateFile", ::GetLastError(), localPath_);
            return AttemptEnd::Fail;
        }
        buffer_.reset(new (std::nothrow) char[kReadBufferSize]);
        if (!buffer_) {
            Record("new read buffer", ERROR_NOT_ENOUGH_MEMORY, url_);
            return AttemptEnd::Fail;
        }
    } else {
        if (::SetFilePointer(localFile_.get(), 0, nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
            Record("SetFilePointer", ::GetLastError(), localPath_);
            return AttemptEnd::Fail;
        }
        if (!::SetEndOfFile(localFile_.get())) {
            Record("SetEndOfFile", ::GetLastError(), localPath_);
            return AttemptEnd::Fail;
        }
    }

    std::string why;
    if (sink_ != nullptr && !sink_->Restart(&why)) {
        Record(Failure::Note(why, localPath_));
        return AttemptEnd::Fail;
    }

    if (!shown_) {
        shown_ = true;
        if (showBar_) {
            progress_.Show();
            progress_.SetPos(0);
        }
    } else if (received_ > 0) {
        progress_.SetPos(0);
    }
    received_ = 0;
    const std::uint32_t steps = ProgressSteps(fileSize);
    if (static_cast<std::int32_t>(steps) > 0 && ProgressRangeUpper(steps) != rangeUpper_) {
        rangeUpper_ = ProgressRangeUpper(steps);
        progress_.SetRange(0, ProgressRangeUpper(steps));
    }
    return AttemptEnd::Done;
}

AttemptEnd Transfer::ReadBody() {
    for (;;) {
        const DWORD started = ::GetTickCount();
        // Never more than has come: a read waits until its buffer is full,
        // and closing the handles does not end that wait under Wine, so a
        // link that drips would hold the read, and the check, for ever.
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request_.get(), &available, 0, 0)) {
            const DWORD error = ::GetLastError();
            if (Cancelled()) {
                return AttemptEnd::Fail;
            }
            Record("InternetQueryDataAvailable", error, url_);
            return AfterAbort(AttemptEnd::Broken);
        }
        DWORD want = BoundedReadSize(readSize_, received_, bounds_.maxBytes);
        if (available > 0 && available < want) {
            want = available;
        }
        DWORD readCount = 0;
        if (!::InternetReadFile(request_.get(), buffer_.get(), want, &readCount)) {
            const DWORD error = ::GetLastError();
            if (Cancelled()) {
                return AttemptEnd::Fail;
            }
            Record("InternetReadFile", error, url_);
            readSize_ = ReadSizeAfterBreak(readSize_);
            return AfterAbort(AttemptEnd::Broken);
        }
        if (slow_ || expired_) {
            return AfterAbort(AttemptEnd::Broken);
        }
        if (readCount == 0) {
            break;
        }
        body_ += readCount;
        // Stopped the moment more arrives than may: not written, not retried.
        if (bounds_.maxBytes != kUnbounded && received_ + readCount > bounds_.maxBytes) {
            return Refuse(Failure::Note(
                "more than the " + std::to_string(bounds_.maxBytes) + " bytes allowed arrived",
                url_));
        }
        if (bounds_.maxBytes == kUnbounded &&
            (received_ + readCount) / kFreeSpaceCheckStep != received_ / kFreeSpaceCheckStep &&
            !EnoughFreeSpace(0)) {
            return AttemptEnd::Fail;
        }
        DWORD dwWrite = 0;
        // A failed or short write would leave a broken file that looks
        // complete: it fails the transfer.
        if (!::WriteFile(localFile_.get(), buffer_.get(), readCount, &dwWrite, nullptr) ||
            dwWrite != readCount) {
            Record("WriteFile", ::GetLastError(), localPath_);
            return AttemptEnd::Fail;
        }
        std::string why;
        if (sink_ != nullptr && !sink_->Take(buffer_.get(), readCount, &why)) {
            return Refuse(Failure::Note(why, url_));
        }
        const std::uint64_t before = received_;
        received_ += readCount;
        ForEachStep(before, received_, [this](std::int32_t p) { progress_.SetPos(p); });
        readSize_ = NextReadSize(readSize_, readCount, ::GetTickCount() - started);
    }
    if (Cancelled()) {
        return AttemptEnd::Fail;
    }
    // A connection that closes early can look like the end of the body.
    if (haveLength_ && received_ != announced_) {
        char note[96];
        std::snprintf(note, sizeof note, "body ended after %llu of %llu bytes",
                      static_cast<unsigned long long>(received_),
                      static_cast<unsigned long long>(announced_));
        Record(Failure::Note(note, url_));
        return received_ < announced_ ? AttemptEnd::Broken : AttemptEnd::Fail;
    }
    return AttemptEnd::Done;
}

}  // namespace

bool DownloadFile(const char* url, const char* localPath, DownloadProgress& progress, bool showBar,
                  net::TransferCancel* cancel, const RetryPolicy& policy, Failure* why,
                  const TransferBounds& bounds, BodySink* sink) {
    Failure ignored;
    Failure& failure = why != nullptr ? *why : ignored;
    failure = Failure();
    Transfer transfer(url, localPath, progress, showBar, cancel, bounds, policy, sink);
    if (!transfer.Start()) {
        failure = transfer.LastFailure();
        return false;
    }
    for (;;) {
        // Declared before the transfer's part under it ends: Run lets go of
        // every handle under the session before it returns.
        net::Session session(cancel);
        if (!session.Open()) {
            if (cancel != nullptr && cancel->Cancelled()) {
                failure = Failure::Note("cancelled", url);
            } else {
                failure = Failure::System("InternetOpen", url, ::GetLastError());
                diag::Log(failure);
            }
            return false;
        }
        DWORD connectTimeout = 2000;
        DWORD connectRetries = 1;
        // A link that stops sending is a break like a reset, and is taken up again.
        DWORD receiveTimeout = 30000;
        ::InternetSetOptionA(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout,
                             sizeof connectTimeout);
        ::InternetSetOptionA(session.get(), INTERNET_OPTION_CONNECT_RETRIES, &connectRetries,
                             sizeof connectRetries);
        ::InternetSetOptionA(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                             sizeof receiveTimeout);
        const RunEnd end = transfer.Run(session);
        if (end == RunEnd::kDone) {
            return true;
        }
        if (end == RunEnd::kFailed) {
            failure = transfer.LastFailure();
            if (!failure) {
                failure = Failure::Note("cancelled", url);
            }
            return false;
        }
    }
}

}  // namespace tovane
