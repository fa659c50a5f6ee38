// Which encoding a text the updater shows is in. The program's own texts and
// a manifest without a byte-order mark are GBK (code page 936); a manifest
// may also start with a UTF-8, a UTF-16LE or a UTF-16BE byte-order mark.
#pragma once

#include <string_view>

namespace tovane {

constexpr unsigned kGbkCodePage = 936;
constexpr unsigned kUtf8CodePage = 65001;

enum class ManifestEncoding { Gbk, Utf8, Utf16Le, Utf16Be };

struct ManifestBytes {
    ManifestEncoding encoding;
    // The file without its byte-order mark.
    std::string_view body;
};

// Decided by the byte-order mark alone: the GBK manifests the server has
// always published carry none, and no guess from the bytes themselves can
// tell GBK from UTF-8 for every short text. Big-endian UTF-16 is read as
// Unicode by Wine's profile calls, so its mark counts too.
ManifestBytes ClassifyManifest(std::string_view file);

}  // namespace tovane
