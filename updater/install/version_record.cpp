#include "install/version_record.h"

#include "common/unique_handle.h"
#include "install/durable_file.h"
#include "ini_text.h"
#include "manifest.h"
#include "numbers.h"

namespace tovane {

namespace {

std::uint32_t Number(const IniText& file, const char* key) {
    std::optional<std::string> value = file.Value(manifest_names::kReleaseSection, key);
    return value ? ParseProfileUnsigned(value->c_str(), 0) : 0;
}

}  // namespace

Version ReadVersionRecord(const std::string& path) {
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(path, limits::kManifestBytes, &bytes, &error)) {
        return Version();
    }
    const IniText file = IniText::Parse(bytes);
    return Version{Number(file, manifest_names::kMainVerKey),
                   Number(file, manifest_names::kSubVerKey)};
}

bool WriteVersionRecord(const std::string& path, Version version, DWORD* error) {
    const char* section = manifest_names::kReleaseSection;
    const std::string main = std::to_string(version.main);
    const std::string sub = std::to_string(version.sub);
    if (!::WritePrivateProfileStringA(section, manifest_names::kMainVerKey, main.c_str(),
                                      path.c_str()) ||
        !::WritePrivateProfileStringA(section, manifest_names::kSubVerKey, sub.c_str(),
                                      path.c_str())) {
        *error = ::GetLastError();
        return false;
    }
    // Drops the profile functions' cached copy, so the file is on disk.
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    return FlushFile(path, error);
}

}  // namespace tovane
