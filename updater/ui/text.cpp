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
    return AnsiFromWide(wide, ansi);
}

bool AnsiFromWide(std::wstring_view wide, std::string* ansi) {
    ansi->clear();
    if (wide.empty()) {
        return true;
    }
    // A UTF-8 ANSI code page (an option of Windows 10) refuses both the
    // best-fit flag and the question whether a default character was used:
    // there every character has a form, and a lone surrogate fails the call.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = utf8 ? nullptr : &lossy;
    const int length = static_cast<int>(wide.size());
    int bytes =
        ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, lossyOut);
    if (bytes == 0 || lossy) {
        return false;
    }
    ansi->resize(static_cast<std::size_t>(bytes));
    bytes = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, &(*ansi)[0], bytes, nullptr,
                                  lossyOut);
    if (bytes == 0 || lossy) {
        ansi->clear();
        return false;
    }
    return true;
}

}  // namespace kelvo::ui
