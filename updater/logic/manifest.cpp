// The manifest read from its bytes through IniText.
#include "manifest.h"

#include <optional>
#include <utility>
#include <vector>

#include "file_list.h"
#include "ini_text.h"
#include "numbers.h"
#include "release_values.h"

namespace tovane {

const std::string* Manifest::FilesValue(const std::string& name) const {
    auto it = filesValues.find(name);
    return it != filesValues.end() ? &it->second : nullptr;
}

bool ParseGzipValue(std::string_view text, std::uint64_t* size) {
    const std::string_view method = manifest_names::kGzipMethod;
    if (text.size() <= method.size() + 1 || text.substr(0, method.size()) != method ||
        text[method.size()] != ' ') {
        return false;
    }
    const std::string_view digits = text.substr(method.size() + 1);
    if (digits.size() > 1 && digits[0] == '0') {
        return false;
    }
    const DecimalScan n = ScanDecimal(digits);
    if (n.digits == 0 || n.digits != digits.size() || n.overflow) {
        return false;
    }
    *size = n.value;
    return true;
}

std::string FormatGzipValue(std::uint64_t size) {
    return std::string(manifest_names::kGzipMethod) + ' ' + std::to_string(size);
}

ManifestParse ParseManifest(std::string_view bytes, Manifest* manifest) {
    if (bytes.size() > limits::kManifestBytes) {
        return ManifestParse::kTooLarge;
    }
    namespace names = manifest_names;
    const IniText ini = IniText::Parse(bytes);
    auto text = [&](const char* section, const char* key) {
        return ini.Value(section, key).value_or(std::string());
    };

    Manifest parsed;
    parsed.encoding = ini.encoding();
    parsed.files = SplitFileList(text(names::kProgramsSection, names::kProgramsKey));
    parsed.offered.main =
        ParseProfileUnsigned(text(names::kReleaseSection, names::kMainVerKey).c_str(), 0);
    parsed.offered.sub =
        ParseProfileUnsigned(text(names::kReleaseSection, names::kSubVerKey).c_str(), 0);
    parsed.notes = text(names::kReleaseSection, names::kNotesKey);
    parsed.release.expiresText = ini.Value(kReleaseInfoSection, kExpiresKey);
    if (parsed.release.expiresText) {
        std::int64_t seconds = 0;
        if (ParseUtcTime(*parsed.release.expiresText, &seconds)) {
            parsed.release.expires = seconds;
        }
    }
    parsed.release.rolloutText = ini.Value(kReleaseInfoSection, kRolloutKey);
    if (parsed.release.rolloutText) {
        unsigned percent = 0;
        if (ParseRolloutPercent(*parsed.release.rolloutText, &percent)) {
            parsed.release.rollout = percent;
        }
    }

    // All names in one reading of the text: a list of thousands of files must
    // not read a 4 MiB manifest thousands of times.
    std::vector<std::string> listed;
    for (const std::string& name : parsed.files) {
        if (!name.empty()) {
            listed.push_back(name);
        }
    }
    std::vector<std::optional<std::string>> values = ini.Values(names::kFilesSection, listed);
    const std::vector<std::optional<std::string>> gzipValues =
        ini.Values(names::kCompressedSection, listed);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!values[i]) {
            continue;
        }
        std::uint64_t gzipSize = 0;
        if (gzipValues[i] && ParseGzipValue(*gzipValues[i], &gzipSize)) {
            parsed.compressed.emplace(listed[i], gzipSize);
        }
        parsed.filesValues.emplace(std::move(listed[i]), std::move(*values[i]));
    }
    *manifest = std::move(parsed);
    return ManifestParse::kOk;
}

}  // namespace tovane
