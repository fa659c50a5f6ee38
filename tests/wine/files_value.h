// The [Files] value of some bytes, as the publishing tool writes it, for the
// end-to-end tests that publish releases of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "trust/verify.h"

namespace kelvo::test {

inline std::string FilesValue(const std::string& content) {
    tovane::trust::FilesEntry entry;
    entry.size = content.size();
    EXPECT_TRUE(tovane::trust::Sha256(content.data(), content.size(), entry.sha256));
    return tovane::trust::FormatFilesValue(entry);
}

}  // namespace kelvo::test
