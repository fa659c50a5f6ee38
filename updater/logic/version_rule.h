// The update decision: installed and offered versions, major first.
#pragma once

#include <cstdint>

namespace tovane {

struct Version {
    std::uint32_t main = 0;
    std::uint32_t sub = 0;
};

// Equal versions are not an update, and a greater minor number does not count
// while the offered major number is smaller.
constexpr bool IsNewerVersion(Version installed, Version offered) {
    return offered.main > installed.main ||
           (offered.main == installed.main && offered.sub > installed.sub);
}

}  // namespace tovane
