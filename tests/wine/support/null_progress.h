// A download's progress sink that shows nothing, for callers with no bar.
#pragma once

#include "net/download.h"

namespace kelvo::test {

class NullProgress : public tovane::DownloadProgress {
public:
    void Show() override {}
    void SetRange(std::int16_t, std::int16_t) override {}
    void SetPos(int) override {}
};

}  // namespace kelvo::test
