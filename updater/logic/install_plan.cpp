#include "install_plan.h"

namespace tovane {

std::string InstallTargetFolder(std::string_view productPath, const std::string& programFolder) {
    if (productPath.empty()) {
        return programFolder;
    }
    for (std::size_t k = productPath.size() - 1; k >= 1; --k) {
        if (productPath[k] == '\\') {
            return std::string(productPath.substr(0, k + 1));
        }
    }
    return std::string();
}

int InstalledEntryCount(std::size_t listSize) {
    return listSize == 0 ? 0 : static_cast<int>(listSize - 1);
}

}  // namespace tovane
