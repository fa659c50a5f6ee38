// Values of the manifest's [Files] section: "<size in bytes> <SHA-256 as 64
// lower-case hex digits>", which pin down each file the manifest lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovane::trust {

using Sha256Digest = std::array<std::uint8_t, 32>;

struct FilesEntry {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// Strict, since a signed value has one spelling only: decimal digits without
// sign or superfluous leading zero, fitting 64 bits, exactly one blank, then
// exactly 64 lower-case hex digits, and nothing else (no blanks around it).
bool ParseFilesValue(std::string_view value, FilesEntry& entry);

// The value as ParseFilesValue reads it back.
std::string FormatFilesValue(const FilesEntry& entry);

std::string ToHex(const std::uint8_t* data, std::size_t size);

}  // namespace tovane::trust
