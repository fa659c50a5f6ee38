// Reading a profile value whole, whatever its length: the profile functions
// cut a value silently to the buffer they are given.
#pragma once

#include <cstddef>

namespace tovane {

// A value is never read into more than this; a longer one is refused, not cut.
constexpr std::size_t kProfileValueLimit = std::size_t(16) << 20;

// GetPrivateProfileString answers capacity - 1 when it cut the value, which
// a value of exactly that length answers too: both are read again with a
// larger buffer.
constexpr bool ProfileValueMayBeCut(std::size_t returned, std::size_t capacity) {
    return capacity == 0 || returned + 1 >= capacity;
}

// The next buffer size: doubled, never past the limit; 0 once the limit was
// reached, meaning the value is too long to read.
constexpr std::size_t NextProfileCapacity(std::size_t capacity) {
    if (capacity >= kProfileValueLimit) {
        return 0;
    }
    std::size_t next = capacity < 256 ? 256 : capacity * 2;
    return next > kProfileValueLimit ? kProfileValueLimit : next;
}

}  // namespace tovane
