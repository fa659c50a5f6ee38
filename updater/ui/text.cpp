#include "text.h"

#include <cstdio>
#include <vector>

#include "manifest_text.h"
#include "profile_read.h"

namespace kelvo::ui {

namespace {

bool ReadWholeFile(const std::string& path, std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    content.clear();
    char buffer[16384];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        content.append(buffer, n);
    }
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

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

std::string ManifestBytesForReading(const std::string& bytes) {
    tovane::ManifestBytes manifest = tovane::ClassifyManifest(bytes);
    if (manifest.encoding != tovane::ManifestEncoding::Utf8) {
        return bytes;
    }
    std::wstring text = L"\uFEFF" + WideFromCodePage(manifest.body, tovane::kUtf8CodePage);
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

tovane::ManifestEncoding PrepareManifestForReading(const std::string& path) {
    std::string file;
    if (!ReadWholeFile(path, file)) {
        return tovane::ManifestEncoding::Gbk;
    }
    const tovane::ManifestEncoding encoding = tovane::ClassifyManifest(file).encoding;
    if (encoding != tovane::ManifestEncoding::Utf8) {
        return encoding;
    }
    const std::string rewritten = ManifestBytesForReading(file);
    if (!WriteWholeFile(path, rewritten.data(), rewritten.size())) {
        // Left as it was: read as GBK, the notes may show wrongly, but the
        // check goes on rather than offering nothing.
        return tovane::ManifestEncoding::Gbk;
    }
    return tovane::ManifestEncoding::Utf16Le;
}

bool ReadManifestNotes(const std::string& path, tovane::ManifestEncoding encoding,
                       std::wstring* notes) {
    if (encoding == tovane::ManifestEncoding::Gbk) {
        // Read through the ANSI call, which hands the bytes back as they
        // stand in the file when the system's code page is 936 or a
        // single-byte one such as 1252, then converted from GBK here.
        std::string bytes;
        if (!tovane::ReadWholeProfileString("Kelvo", "UpdateInof", path, &bytes)) {
            notes->clear();
            return false;
        }
        *notes = WideFromGbk(tovane::NotesForDisplay(bytes));
        return true;
    }
    std::wstring value;
    if (!tovane::ReadWholeProfileString(L"Kelvo", L"UpdateInof", WideFromCodePage(path, CP_ACP),
                                        &value)) {
        notes->clear();
        return false;
    }
    *notes = tovane::NotesForDisplay(std::wstring_view(value));
    return true;
}

}  // namespace kelvo::ui
