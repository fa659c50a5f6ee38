#include "download.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <memory>
#include <string>

#include "download_plan.h"
#include "net/internet.h"
#include "numbers.h"

namespace tovane {

namespace {

using net::InternetHandle;

struct UrlParts {
    std::string server;
    std::string object;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

// Host, port and object of the URL. Whatever the scheme, the request goes
// out as plain HTTP to that host and port.
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
    parts.port = uc.nPort != 0 ? uc.nPort : INTERNET_DEFAULT_HTTP_PORT;
    return true;
}

// Keeps the session registered with the canceller for the transfer's life.
class CancelRegistration {
public:
    CancelRegistration(net::TransferCancel* cancel, HINTERNET session) : cancel_(cancel) {
        registered_ = cancel_ == nullptr || cancel_->Register(session);
    }
    ~CancelRegistration() { Finish(); }
    bool Registered() const { return registered_; }
    // False when the canceller closed the session (and so everything under it).
    bool Finish() {
        if (cancel_ != nullptr && registered_) {
            registered_ = false;
            ownsHandles_ = cancel_->Unregister();
        }
        return ownsHandles_;
    }

private:
    net::TransferCancel* cancel_;
    bool registered_ = false;
    bool ownsHandles_ = true;
};

}  // namespace

int DownloadFile(const char* url, const char* localPath, DownloadProgress& progress, bool showBar,
                 net::TransferCancel* cancel) {
    InternetHandle session(
        ::InternetOpenA("Tovane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) {
        return 0;
    }
    DWORD connectTimeout = 2000;
    DWORD connectRetries = 1;
    ::InternetSetOptionA(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout,
                         sizeof connectTimeout);
    ::InternetSetOptionA(session.get(), INTERNET_OPTION_CONNECT_RETRIES, &connectRetries,
                         sizeof connectRetries);

    CancelRegistration registration(cancel, session.get());
    if (!registration.Registered()) {
        return 0;
    }

    InternetHandle connection;
    InternetHandle request;
    kelvo::unique_hfile localFile;
    std::unique_ptr<char[]> buffer;

    // Resources go in one order on every exit: buffer, local file, request,
    // connection, session. After a cancel the session and everything under
    // it is closed already and must not be closed again.
    auto finish = [&](int result) {
        buffer.reset();
        localFile.reset();
        if (registration.Finish()) {
            request.reset();
            connection.reset();
            session.reset();
        } else {
            request.release();
            connection.release();
            session.release();
        }
        return result;
    };

    UrlParts parts;
    if (!SplitUrl(url, parts)) {
        return finish(0);
    }
    connection.reset(::InternetConnectA(session.get(), parts.server.c_str(), parts.port, nullptr,
                                        nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection) {
        return finish(0);
    }
    // Neither read nor fill the cache: a cached manifest would show a stale
    // decision, and every update file would be written to disk twice.
    const DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    request.reset(::HttpOpenRequestA(connection.get(), "GET", parts.object.c_str(), nullptr,
                                     nullptr, nullptr, flags, 1));
    if (!request) {
        return finish(0);
    }
    if (!::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
        return finish(0);
    }

    DWORD dwStateCode = 0;
    DWORD size = sizeof dwStateCode;
    if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                          &dwStateCode, &size, nullptr) ||
        dwStateCode != HTTP_STATUS_OK) {
        return finish(0);
    }

    localFile.reset(::CreateFileA(localPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!localFile) {
        return finish(0);
    }

    char szInfoBuffer[1000];
    std::memset(szInfoBuffer, 0, sizeof szInfoBuffer);
    DWORD dwInfoBufferSize = sizeof szInfoBuffer;
    bool haveLength = ::HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH, szInfoBuffer,
                                       &dwInfoBufferSize, nullptr) != FALSE;
    szInfoBuffer[sizeof szInfoBuffer - 1] = '\0';
    const std::int32_t fileSize = ParseContentLength(szInfoBuffer);
    std::uint64_t announced = 0;
    haveLength = haveLength && ParseExactLength(szInfoBuffer, announced);

    buffer.reset(new (std::nothrow) char[kChunkSize]);
    if (!buffer) {
        return finish(0);
    }
    DWORD readCount = 0;
    if (!::InternetReadFile(request.get(), buffer.get(), kChunkSize, &readCount)) {
        return finish(0);
    }

    const std::uint32_t steps = ProgressSteps(fileSize);
    int position = 0;
    if (showBar) {
        progress.Show();
        progress.SetPos(0);
    }
    if (static_cast<std::int32_t>(steps) > 0) {
        progress.SetRange(0, ProgressRangeUpper(steps));
    }

    std::uint64_t received = 0;
    while (readCount > 0) {
        DWORD dwWrite = 0;
        // A failed or short write would leave a broken file that looks
        // complete: it fails the transfer.
        if (!::WriteFile(localFile.get(), buffer.get(), readCount, &dwWrite, nullptr) ||
            dwWrite != readCount) {
            return finish(0);
        }
        received += readCount;
        if (!::InternetReadFile(request.get(), buffer.get(), kChunkSize, &readCount)) {
            return finish(0);
        }
        ++position;
        progress.SetPos(position);
    }
    if (cancel != nullptr && cancel->Cancelled()) {
        return finish(0);
    }
    // A connection that closes early can look like the end of the body.
    if (haveLength && received != announced) {
        return finish(0);
    }
    return finish(1);
}

}  // namespace tovane
