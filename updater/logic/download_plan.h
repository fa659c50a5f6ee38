// What one worker run fetches, and the progress arithmetic of one transfer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovane {

struct DownloadItem {
    std::string name;       // as listed; empty for the manifest itself
    std::string url;        // base URL + name, plain concatenation
    std::string localPath;  // temporary folder + name
};

// The check job fetches <base><verName>.txt into <temp><verName>.ini.
DownloadItem ManifestDownload(const std::string& baseUrl, const std::string& tempDir,
                              const std::string& verName);

// The check job's list: the manifest, and with `withSignature` (a key is built
// in)
// its signature <base><verName>.txt.sig into <temp><verName>.ini.sig right
// after it. An updater without a key does not ask for the signature at all.
std::vector<DownloadItem> CheckDownloads(const std::string& baseUrl, const std::string& tempDir,
                                         const std::string& verName, bool withSignature);

// The update job fetches every listed name, in list order, repeated ones
// included. An empty entry (what a '?' after the last name leaves) names no
// file: asking for it would only ask for the update folder itself.
std::vector<DownloadItem> UpdateDownloads(const std::string& baseUrl, const std::string& tempDir,
                                          const std::vector<std::string>& names);

constexpr std::uint32_t kChunkSize = 10240;

// One progress step per announced chunk; unsigned division, truncated.
constexpr std::uint32_t ProgressSteps(std::int32_t fileSize) {
    return static_cast<std::uint32_t>(fileSize) / kChunkSize;
}

// The control's range message carries 16-bit bounds: the low half is passed.
constexpr std::int16_t ProgressRangeUpper(std::uint32_t steps) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(steps & 0xFFFFu));
}

}  // namespace tovane
