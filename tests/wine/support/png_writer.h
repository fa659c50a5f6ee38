// Writes 32-bit BGRA pixels as a PNG file (uncompressed deflate blocks), for
// screenshots that a person can open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::test {

// pixels: top-down rows of B, G, R, A bytes, width * 4 bytes each.
bool WritePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& bgra);

}  // namespace kelvo::test
