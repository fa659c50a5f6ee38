#include "install/durable_file.h"

#include <vector>

#include "common/unique_handle.h"
#include "text_compare.h"
#include "install/hold_point.h"

namespace tovane {

namespace {

const DWORD kCopyChunk = 1 << 20;

bool Flush(HANDLE file, DWORD* error) {
    if (!::FlushFileBuffers(file)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool WriteAll(HANDLE file, const char* data, DWORD size, DWORD* error) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr)) {
            *error = ::GetLastError();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool WriteFileDurably(const std::string& path, const std::string& content, DWORD* error) {
    const std::string fresh = path + ".tmp";
    {
        kelvo::unique_hfile file(::CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            *error = ::GetLastError();
            return false;
        }
        if (!WriteAll(file.get(), content.data(), static_cast<DWORD>(content.size()), error) ||
            !Flush(file.get(), error)) {
            file.reset();
            ::DeleteFileA(fresh.c_str());
            return false;
        }
    }
    if (!MoveFileDurably(fresh, path, error)) {
        ::DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

bool CopyFileDurably(const std::string& from, const std::string& to, const std::string& halfStage,
                     DWORD* error) {
    kelvo::unique_hfile source(::CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) {
        *error = ::GetLastError();
        return false;
    }
    return CopyFileDurably(source.get(), to, halfStage, error);
}

bool CopyFileDurably(HANDLE source, const std::string& to, const std::string& halfStage,
                     DWORD* error) {
    // The handle may come straight from a check that read it to its end.
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) {
        *error = ::GetLastError();
        return false;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(source, &size)) {
        *error = ::GetLastError();
        return false;
    }
    kelvo::unique_hfile target(::CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        *error = ::GetLastError();
        return false;
    }
    const unsigned long long total = static_cast<unsigned long long>(size.QuadPart);
    const unsigned long long half = total / 2;
    std::vector<char> buffer(kCopyChunk);
    unsigned long long done = 0;
    bool halfReached = false;
    while (done < total) {
        unsigned long long want = total - done;
        if (want > kCopyChunk) {
            want = kCopyChunk;
        }
        if (!halfReached && done < half && done + want > half) {
            want = half - done;  // stops once exactly at the half, for the hold point
        }
        DWORD got = 0;
        if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(want), &got, nullptr)) {
            *error = ::GetLastError();
            return false;
        }
        if (got == 0) {
            *error = ERROR_HANDLE_EOF;  // the download shrank under us
            return false;
        }
        if (!WriteAll(target.get(), buffer.data(), got, error)) {
            return false;
        }
        done += got;
        if (!halfReached && done >= half && total > 0) {
            halfReached = true;
            if (!Flush(target.get(), error)) {
                return false;
            }
            HoldIfAsked(halfStage);
        }
    }
    return Flush(target.get(), error);
}

bool MoveFileDurably(const std::string& from, const std::string& to, DWORD* error) {
    if (!::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

bool FlushFile(const std::string& path, DWORD* error) {
    kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = ::GetLastError();
        return false;
    }
    return Flush(file.get(), error);
}

bool ReadWholeFile(HANDLE file, std::size_t limit, std::string* content, DWORD* error) {
    content->clear();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        *error = ::GetLastError();
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > limit) {
        *error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    content->resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < content->size()) {
        DWORD got = 0;
        if (!::ReadFile(file, &(*content)[done], static_cast<DWORD>(content->size() - done), &got,
                        nullptr)) {
            *error = ::GetLastError();
            return false;
        }
        if (got == 0) {
            content->resize(done);  // it shrank meanwhile: what is there is all of it
            break;
        }
        done += got;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* content, DWORD* error) {
    kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = ::GetLastError();
        content->clear();
        return false;
    }
    return ReadWholeFile(file.get(), limit, content, error);
}

bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        // Backup semantics: folders open too; no access asked, so nothing is locked.
        kelvo::unique_hfile file(::CreateFileA(
            paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file || !::GetFileInformationByHandle(file.get(), &info[i])) {
            return false;
        }
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool SameFolder(const std::string& a, const std::string& b) {
    return tovane::EqualsIgnoreCase(a, b) || SameFile(a, b);
}

bool IsRegularFile(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tovane
