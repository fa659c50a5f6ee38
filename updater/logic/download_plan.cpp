#include "download_plan.h"

namespace tovane {

DownloadItem ManifestDownload(const std::string& baseUrl, const std::string& tempDir,
                              const std::string& verName) {
    return DownloadItem{std::string(), baseUrl + verName + ".txt", tempDir + verName + ".ini"};
}

std::vector<DownloadItem> CheckDownloads(const std::string& baseUrl, const std::string& tempDir,
                                         const std::string& verName, bool withSignature) {
    std::vector<DownloadItem> items{ManifestDownload(baseUrl, tempDir, verName)};
    if (withSignature) {
        items.push_back(DownloadItem{std::string(), items.front().url + ".sig",
                                     items.front().localPath + ".sig"});
    }
    return items;
}

std::vector<DownloadItem> UpdateDownloads(const std::string& baseUrl, const std::string& tempDir,
                                          const std::vector<std::string>& names) {
    std::vector<DownloadItem> items;
    items.reserve(names.size());
    for (const std::string& name : names) {
        if (!name.empty()) {
            items.push_back(DownloadItem{name, baseUrl + name, tempDir + name});
        }
    }
    return items;
}

}  // namespace tovane
