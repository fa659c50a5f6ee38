#include "text_encoding.h"

namespace tovane {

namespace {
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
}  // namespace

ManifestBytes ClassifyManifest(std::string_view file) {
    if (file.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        return {ManifestEncoding::Utf8, file.substr(kUtf8Bom.size())};
    }
    if (file.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
        return {ManifestEncoding::Utf16Le, file.substr(kUtf16LeBom.size())};
    }
    if (file.substr(0, kUtf16BeBom.size()) == kUtf16BeBom) {
        return {ManifestEncoding::Utf16Be, file.substr(kUtf16BeBom.size())};
    }
    return {ManifestEncoding::Gbk, file};
}

}  // namespace tovane
