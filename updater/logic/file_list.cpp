#include "file_list.h"

namespace tovane {

std::vector<std::string> SplitFileList(std::string_view value) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '?') {
            entries.emplace_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    entries.emplace_back(value.substr(start));
    return entries;
}

}  // namespace tovane
