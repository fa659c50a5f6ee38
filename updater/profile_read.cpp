#include "profile_read.h"

#include <vector>

#include "manifest_text.h"
#include "profile_buffer.h"

namespace tovane {

namespace {

DWORD ProfileString(const char* section, const char* key, char* buffer, DWORD size,
                    const char* file) {
    return ::GetPrivateProfileStringA(section, key, "", buffer, size, file);
}

DWORD ProfileString(const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD size,
                    const wchar_t* file) {
    return ::GetPrivateProfileStringW(section, key, L"", buffer, size, file);
}

template <typename Char>
bool ReadWhole(const Char* section, const Char* key, const std::basic_string<Char>& file,
               std::basic_string<Char>* value) {
    std::vector<Char> buffer(kManifestValueCapacity, Char());
    for (;;) {
        DWORD length = ProfileString(section, key, buffer.data(), static_cast<DWORD>(buffer.size()),
                                     file.c_str());
        if (!ProfileValueMayBeCut(length, buffer.size())) {
            value->assign(buffer.data(), length);
            return true;
        }
        std::size_t next = NextProfileCapacity(buffer.size());
        if (next == 0) {
            value->clear();
            return false;
        }
        buffer.assign(next, Char());
    }
}

}  // namespace

bool ReadWholeProfileString(const char* section, const char* key, const std::string& file,
                            std::string* value) {
    return ReadWhole(section, key, file, value);
}

bool ReadWholeProfileString(const wchar_t* section, const wchar_t* key, const std::wstring& file,
                            std::wstring* value) {
    return ReadWhole(section, key, file, value);
}

}  // namespace tovane
