// The version manifest (Version.txt): its section and key names, the sizes
// the updater accepts, and the manifest read from its bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text_encoding.h"
#include "version_rule.h"

namespace tovane {

// What the updater takes from the update server at most; the publishing tool
// writes within the same.
namespace limits {
constexpr std::size_t kManifestBytes = std::size_t(4) << 20;  // Version.txt
// Version.txt.sig; a DER P-256 signature is at most 72 bytes.
constexpr std::size_t kSignatureBytes = 4096;
}  // namespace limits

// Section and key names of the manifest, written once (the publishing tool
// uses them too).
namespace manifest_names {
inline constexpr char kProgramsSection[] = "Programs";
inline constexpr char kProgramsKey[] = "Programs";
inline constexpr char kReleaseSection[] = "Kelvo";
inline constexpr char kMainVerKey[] = "MainVer";
inline constexpr char kSubVerKey[] = "SubVer";
// Spelled as the manifests in the field have always spelled it.
inline constexpr char kNotesKey[] = "UpdateInof";
inline constexpr char kFilesSection[] = "Files";
// `<name>=gzip <bytes>`: the file is also served gzipped as `<name>.gz`, of
// that many bytes. Older updaters never read the section and fetch `<name>`.
inline constexpr char kCompressedSection[] = "Compressed";
inline constexpr char kGzipMethod[] = "gzip";
inline constexpr char kGzipSuffix[] = ".gz";
}  // namespace manifest_names

// The optional [Release] section (release_values.h): each value as written,
// when the key is there, and read, when it reads.
struct ManifestRelease {
    std::optional<std::string> expiresText;
    std::optional<std::int64_t> expires;  // seconds since 1970, UTC
    std::optional<std::string> rolloutText;
    std::optional<unsigned> rollout;  // percent
};

struct Manifest {
    // Of the text values: GBK bytes, or UTF-8 for a manifest with a Unicode
    // byte-order mark.
    ManifestEncoding encoding = ManifestEncoding::Gbk;
    // [Programs] Programs split at every '?'; an absent value gives {""}.
    std::vector<std::string> files;
    // [Kelvo] MainVer and SubVer read like strtoul; absent or no digits: 0.
    Version offered;
    // [Kelvo] UpdateInof as it stands ('?' is a line break); empty when
    // absent.
    std::string notes;
    // The [Files] value of each non-empty listed name that has one, looked up
    // as IniText::Value(Files, name) looks it up (blanks around the name and
    // the case of ASCII letters do not count), under the name as listed.
    std::map<std::string, std::string> filesValues;

    // The size of the gzip form of each listed name that has a [Files] value
    // and a [Compressed] value ParseGzipValue takes, looked up like
    // filesValues. Any other value is passed over: a form this updater does
    // not know must leave it fetching the file itself.
    std::map<std::string, std::uint64_t> compressed;

    ManifestRelease release;

    // nullptr when the name has no [Files] value.
    const std::string* FilesValue(const std::string& name) const;
};

// "gzip <bytes>": one blank, the size in decimal without leading zeros,
// fitting 64 bits; nothing else. On failure *size is left as it was.
bool ParseGzipValue(std::string_view text, std::uint64_t* size);
// The value ParseGzipValue reads back as `size`.
std::string FormatGzipValue(std::uint64_t size);

enum class ManifestParse { kOk, kTooLarge };

// kTooLarge for more than limits::kManifestBytes bytes: nothing is read and
// *manifest is left as it was.
ManifestParse ParseManifest(std::string_view bytes, Manifest* manifest);

}  // namespace tovane
