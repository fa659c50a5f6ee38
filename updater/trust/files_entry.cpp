#include "files_entry.h"

#include "numbers.h"

namespace tovane::trust {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

bool ParseFilesValue(std::string_view value, FilesEntry& entry) {
    std::size_t blank = value.find(' ');
    if (blank == std::string_view::npos || blank == 0 || blank > 20) {
        return false;
    }
    std::string_view digits = value.substr(0, blank);
    std::string_view hex = value.substr(blank + 1);
    if (hex.size() != 64 || (digits.size() > 1 && digits[0] == '0')) {
        return false;
    }
    const DecimalScan size = ScanDecimal(digits);
    if (size.digits != digits.size() || size.overflow) {
        return false;
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        int hi = HexValue(hex[2 * i]);
        int lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        digest[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    entry.size = size.value;
    entry.sha256 = digest;
    return true;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

std::string FormatFilesValue(const FilesEntry& entry) {
    return std::to_string(entry.size) + ' ' + ToHex(entry.sha256.data(), entry.sha256.size());
}

}  // namespace tovane::trust
