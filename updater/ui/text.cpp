#include "text.h"

#include "manifest_text.h"

namespace kelvo::ui {

std::wstring WideFromCodePage(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(bytes.size());
    int length =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (length == 0) {
        // Invalid bytes (a cut-off character, a wrong encoding on the
        // server): the user still gets everything else.
        flags = 0;
        length = ::MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
        if (length == 0) {
            return std::wstring();
        }
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    length = ::MultiByteToWideChar(codePage, flags, bytes.data(), size, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length));
    return wide;
}

int MessageBoxGbk(HWND owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxW(owner, WideFromGbk(text != nullptr ? text : "").c_str(),
                         WideFromGbk(caption != nullptr ? caption : "").c_str(), type);
}

std::wstring NotesForBox(const tovane::Manifest& manifest) {
    return WideFromCodePage(tovane::NotesForDisplay(manifest.notes),
                            manifest.encoding == tovane::ManifestEncoding::Gbk
                                ? tovane::kGbkCodePage
                                : tovane::kUtf8CodePage);
}

bool AnsiFromUtf8(std::string_view utf8, std::string* ansi) {
    ansi->clear();
    if (utf8.empty()) {
        return true;
    }
    const int size = static_cast<int>(utf8.size());
    int length =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length == 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], length);
    BOOL lossy = FALSE;
    int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                      nullptr, &lossy);
    if (bytes == 0 || lossy) {
        return false;
    }
    ansi->resize(static_cast<std::size_t>(bytes));
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, &(*ansi)[0], bytes,
                          nullptr, &lossy);
    return !lossy;
}

}  // namespace kelvo::ui
