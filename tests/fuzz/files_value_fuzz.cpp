// libFuzzer target: [Files] values. Whatever is accepted has exactly one
// spelling, the one the publishing tool writes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "files_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view value(reinterpret_cast<const char*>(data), size);
    tovane::trust::FilesEntry entry;
    if (tovane::trust::ParseFilesValue(value, entry) &&
        tovane::trust::FormatFilesValue(entry) != value) {
        std::abort();
    }
    return 0;
}
