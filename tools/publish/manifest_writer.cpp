#include "manifest_writer.h"

#include "file_names.h"
#include "manifest.h"
#include "numbers.h"
#include "release_values.h"
#include "text_compare.h"

namespace kelvo::publish {

namespace {

bool ParseNumber(std::string_view digits, std::uint32_t& value) {
    if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) {
        return false;
    }
    const tovane::DecimalScan n = tovane::ScanDecimal(digits);
    if (n.digits != digits.size() || n.value > UINT32_MAX) {
        return false;
    }
    value = static_cast<std::uint32_t>(n.value);
    return true;
}

}  // namespace

bool ParseReleaseVersion(std::string_view text, std::uint32_t& main, std::uint32_t& sub) {
    std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    std::uint32_t m = 0, s = 0;
    if (!ParseNumber(text.substr(0, dot), m) || !ParseNumber(text.substr(dot + 1), s)) {
        return false;
    }
    main = m;
    sub = s;
    return true;
}

bool NotesToValue(std::string_view notes, std::string& value, std::string& why) {
    std::string out;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        char c = notes[i];
        if (c == '\r') {
            if (i + 1 < notes.size() && notes[i + 1] == '\n') {
                ++i;
            }
            out += '?';
        } else if (c == '\n') {
            out += '?';
        } else if (c == '\0') {
            why = "the notes contain a NUL byte";
            return false;
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == '?') {
        out.pop_back();
    }
    if (out.size() >= tovane::limits::kManifestBytes) {
        why = "the notes are longer than the updater reads (" +
              std::to_string(tovane::limits::kManifestBytes - 1) + " bytes with line breaks)";
        return false;
    }
    value = out;
    return true;
}

std::string CheckNames(const std::vector<std::string>& names) {
    if (names.empty()) {
        return "no files to publish";
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!tovane::IsPlainFileName(names[i])) {
            return "'" + names[i] + "' is not a plain file name the updater accepts";
        }
        // The name is also a key of [Files], which the profile API splits at
        // '=', trims, and skips when it opens like a comment or a section.
        if (names[i].find('=') != std::string::npos || names[i][0] == ' ' || names[i][0] == ';' ||
            names[i][0] == '[') {
            return "'" + names[i] + "' cannot be a key of the manifest's [Files] section";
        }
        if (tovane::EqualsIgnoreCase(names[i], "Version.txt") ||
            tovane::EqualsIgnoreCase(names[i], "Version.txt.sig")) {
            return "'" + names[i] + "' is the name of the manifest itself";
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (tovane::EqualsIgnoreCase(names[i], names[j])) {
                return "'" + names[i] + "' is listed twice";
            }
        }
    }
    // Whether or not a gzip form gets written, which depends on the bytes.
    for (const std::string& name : names) {
        for (const std::string& other : names) {
            if (tovane::EqualsIgnoreCase(name, other + tovane::manifest_names::kGzipSuffix)) {
                return "'" + name + "' is the name of the gzip form of '" + other + "'";
            }
        }
    }
    return {};
}

std::string BuildManifest(const std::vector<ListedFile>& files, std::uint32_t main,
                          std::uint32_t sub, std::string_view notesValue,
                          const ReleaseInfo& release) {
    std::string text = "[Programs]\r\nPrograms=";
    for (const ListedFile& f : files) {
        text += f.name + '?';
    }
    text += "\r\n[Kelvo]\r\nMainVer=" + std::to_string(main) + "\r\nSubVer=" + std::to_string(sub) +
            "\r\nUpdateInof=" + std::string(notesValue) + "\r\n[Files]\r\n";
    for (const ListedFile& f : files) {
        text += f.name + '=' + tovane::trust::FormatFilesValue(f.entry) + "\r\n";
    }
    if (release.expires || release.rolloutPercent) {
        text += std::string("[") + tovane::kReleaseInfoSection + "]\r\n";
    }
    if (release.expires) {
        text += std::string(tovane::kExpiresKey) + '=' + tovane::FormatUtcTime(*release.expires) +
                "\r\n";
    }
    if (release.rolloutPercent) {
        text += std::string(tovane::kRolloutKey) + '=' + std::to_string(*release.rolloutPercent) +
                "\r\n";
    }
    bool compressedSection = false;
    for (const ListedFile& f : files) {
        if (!f.gzipSize) {
            continue;
        }
        if (!compressedSection) {
            text += std::string("[") + tovane::manifest_names::kCompressedSection + "]\r\n";
            compressedSection = true;
        }
        text += f.name + '=' + tovane::FormatGzipValue(*f.gzipSize) + "\r\n";
    }
    return text;
}

bool ParseExpiryDays(std::string_view text, unsigned& days) {
    std::uint32_t n = 0;
    if (text.size() > 4 || !ParseNumber(text, n) || n == 0 || n > kMaxExpiryDays) {
        return false;
    }
    days = n;
    return true;
}

bool ExpiryAfter(std::int64_t now, unsigned days, std::int64_t& expires) {
    if (now < tovane::kEarliestUtcTime ||
        now > tovane::kLatestUtcTime - static_cast<std::int64_t>(days) * 86400) {
        return false;
    }
    expires = now + static_cast<std::int64_t>(days) * 86400;
    return true;
}

}  // namespace kelvo::publish
