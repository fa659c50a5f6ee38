#include "file_names.h"

#include <array>

#include "text_compare.h"

namespace tovane {

namespace {

bool IsDeviceName(std::string_view name) {
    // The device is named by the part before the first dot, with trailing
    // blanks ignored: "nul.txt" and "CON .log" open devices too.
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    static constexpr std::array<std::string_view, 7> kPlain = {"CON",    "PRN",     "AUX",   "NUL",
                                                               "CONIN$", "CONOUT$", "CLOCK$"};
    for (std::string_view device : kPlain) {
        if (EqualsIgnoreCase(base, device)) {
            return true;
        }
    }
    if (base.size() == 4 && (EqualsIgnoreCase(base.substr(0, 3), "COM") ||
                             EqualsIgnoreCase(base.substr(0, 3), "LPT"))) {
        char digit = base[3];
        return digit >= '0' && digit <= '9';
    }
    return false;
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20) {
            return false;
        }
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '<':
        case '>':
        case '|':
        case '"':
        case '*':
        case '?':
            return false;
        default:
            break;
        }
    }
    if (name.back() == '.' || name.back() == ' ') {
        return false;
    }
    return !IsDeviceName(name);
}

const std::string* FindUnsafeName(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (!name.empty() && !IsPlainFileName(name)) {
            return &name;
        }
    }
    return nullptr;
}

}  // namespace tovane
