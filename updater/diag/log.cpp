#include "diag/log.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/unique_handle.h"

namespace tovane::diag {

namespace {

// Enough for many failing runs; a log that keeps growing on a machine that
// retries every day would itself become the problem.
const DWORD kLogCap = 256 * 1024;

std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

// Keeps the newer half of a full log: the end of the file is the run that
// someone is asking about.
void TrimLog(HANDLE file, DWORD size) {
    const DWORD keep = kLogCap / 2;
    std::unique_ptr<char[]> tail(new (std::nothrow) char[keep]);
    DWORD read = 0;
    if (!tail ||
        ::SetFilePointer(file, static_cast<LONG>(size - keep), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER ||
        !::ReadFile(file, tail.get(), keep, &read, nullptr)) {
        ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        return;
    }
    // Start at a line boundary.
    const char* start = static_cast<const char*>(std::memchr(tail.get(), '\n', read));
    DWORD from = start != nullptr ? static_cast<DWORD>(start - tail.get() + 1) : read;
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    ::WriteFile(file, tail.get() + from, read - from, &written, nullptr);
    ::SetEndOfFile(file);
}

void Write(const char* line) {
    ::OutputDebugStringA(line);
    char path[MAX_PATH + 1];
    if (!LogPath(path)) {
        return;
    }
    std::lock_guard<std::mutex> lock(LogMutex());
    kelvo::unique_hfile file(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size != INVALID_FILE_SIZE && size > kLogCap) {
        TrimLog(file.get(), size);
    }
    ::SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(file.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

void WriteEvent(const char* what, const char* subject) {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char line[1024];
    std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u UTC [%lu] %s%s%s\r\n",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds, static_cast<unsigned long>(::GetCurrentThreadId()), what,
                  subject != nullptr ? ": " : "", subject != nullptr ? subject : "");
    Write(line);
}

}  // namespace

bool LogPath(char (&path)[MAX_PATH + 1]) {
    static const char kName[] = "Tovane.log";
    DWORD length = ::GetTempPathA(MAX_PATH, path);
    if (length == 0 || length + sizeof kName > MAX_PATH) {
        path[0] = '\0';
        return false;
    }
    std::memcpy(path + length, kName, sizeof kName);
    return true;
}

void Log(const Failure& failure) { WriteEvent(LogLine(failure).c_str(), nullptr); }

void LogNote(const char* text, const char* subject) { WriteEvent(text, subject); }

}  // namespace tovane::diag
