#include "manifest_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file_list.h"
#include "manifest.h"
#include "manifest_text.h"
#include "release_values.h"

namespace {

using namespace kelvo::publish;

TEST(ParseReleaseVersion, TwoDecimalNumbers) {
    std::uint32_t m = 0, s = 0;
    ASSERT_TRUE(ParseReleaseVersion("1.1", m, s));
    EXPECT_EQ(m, 1u);
    EXPECT_EQ(s, 1u);
    ASSERT_TRUE(ParseReleaseVersion("4294967295.0", m, s));
    EXPECT_EQ(m, 4294967295u);
    EXPECT_EQ(s, 0u);
    ASSERT_TRUE(ParseReleaseVersion("0.4294967295", m, s));
    EXPECT_EQ(m, 0u);
    EXPECT_EQ(s, 4294967295u);
    for (const char* bad : {"",
                            "1",
                            "1.",
                            ".1",
                            "1.1.1",
                            "01.1",
                            "1.x",
                            "-1.1",
                            "1 .1",
                            "4294967296.1",
                            " 1.1",
                            "1.01",
                            "1.00",
                            "+1.1",
                            "1.+1",
                            "1.1 ",
                            "1.4294967296",
                            "99999999999.1",
                            "99999999999999999999999.1",
                            "00.0"}) {
        EXPECT_FALSE(ParseReleaseVersion(bad, m, s)) << '"' << bad << '"';
    }
}

TEST(NotesToValue, LineBreaksBecomeQuestionMarks) {
    struct {
        std::string notes;
        std::string value;
    } cases[] = {
        {"Kelvo 1.1\n- faster start-up\n", "Kelvo 1.1?- faster start-up"},
        {"a\r\nb\rc\n\nd", "a?b?c??d"},
        {"\xC9\xFD\xBC\xB6\r\n", "\xC9\xFD\xBC\xB6"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string value, why;
        ASSERT_TRUE(NotesToValue(c.notes, value, why)) << c.notes;
        EXPECT_EQ(value, c.value);
        // The updater shows them with its own rule: same lines back.
        EXPECT_EQ(tovane::NotesForDisplay(value).find('\n') == std::string::npos,
                  value.find('?') == std::string::npos);
    }
    std::string value, why;
    EXPECT_TRUE(NotesToValue(std::string(tovane::limits::kManifestBytes - 1, 'x'), value, why));
    EXPECT_FALSE(NotesToValue(std::string(tovane::limits::kManifestBytes, 'x'), value, why));
    EXPECT_FALSE(NotesToValue(std::string("a\0b", 3), value, why));
}

TEST(CheckNames, TheUpdatersRuleAndOneKeyPerFile) {
    EXPECT_EQ(CheckNames({"Kelvo.dat", "Kelvo.exe"}), "");
    for (const std::vector<std::string>& distinct :
         {std::vector<std::string>{"\xC9.dll", "\xE9.dll"},  // ASCII letters fold only
          {"Version.txt.bak"},
          {"Version.tx"},
          {"a.dll", "a.dl"},
          {"a.gz"},
          {"a.dll", "a.dll.gz.gz"},
          {"a.dll.gz", "a.dll.zip"}}) {
        EXPECT_EQ(CheckNames(distinct), "") << distinct[0];
    }
    struct {
        std::vector<std::string> names;
        const char* why;
    } cases[] = {
        {{}, "no files"},
        {{"NUL"}, "plain file name"},
        {{"a.dll", "..\\b.dll"}, "plain file name"},
        {{"a.dll."}, "plain file name"},
        {{"a=b.dll"}, "[Files]"},
        {{" a.dll"}, "[Files]"},
        {{";a.dll"}, "[Files]"},
        {{"[a.dll"}, "[Files]"},
        {{"Version.txt"}, "manifest"},
        {{"version.TXT.sig"}, "manifest"},
        {{"Kelvo.exe", "kelvo.EXE"}, "twice"},
        {{"a.dll", "b.dll", "B.DLL"}, "twice"},
        {{"VERSION.TXT"}, "manifest"},
        // Its gzip form would take the other's place, whatever the order.
        {{"Kelvo.dat", "Kelvo.dat.gz"}, "gzip form of 'Kelvo.dat'"},
        {{"Kelvo.DAT.GZ", "kelvo.dat"}, "gzip form of 'kelvo.dat'"},
    };
    for (const auto& c : cases) {
        std::string why = CheckNames(c.names);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

// Compatibility pin: the original's key UpdateInof and final '?', which deployed updaters read.
TEST(BuildManifest, WhatTheUpdaterReads) {
    tovane::trust::FilesEntry a{5, {}}, b{6, {}};
    a.sha256.fill(0xAB);
    b.sha256[31] = 1;
    std::string abab;
    for (int i = 0; i < 32; ++i) abab += "ab";
    std::string text = BuildManifest({{"Kelvo.dat", a}, {"Kelvo.exe", b}}, 1, 2, "x?y");
    EXPECT_EQ(text,
              "[Programs]\r\nPrograms=Kelvo.dat?Kelvo.exe?\r\n"
              "[Kelvo]\r\nMainVer=1\r\nSubVer=2\r\nUpdateInof=x?y\r\n"
              "[Files]\r\nKelvo.dat=5 " +
                  abab + "\r\nKelvo.exe=6 " + std::string(62, '0') + "01\r\n");
    EXPECT_EQ(tovane::SplitFileList("Kelvo.dat?Kelvo.exe?"),
              (std::vector<std::string>{"Kelvo.dat", "Kelvo.exe", ""}));
}

// The sections the updater has always read come first and unchanged;
// [Release] follows [Files] with only the values given, in the spelling its
// parsers take back.
TEST(BuildManifest, ReleaseSectionAfterFilesWithTheValuesGiven) {
    std::vector<ListedFile> files = {{"Kelvo.exe", {6, {}}}};
    const std::string without = BuildManifest(files, 1, 2, "n");
    ASSERT_EQ(without.find("[Release]"), std::string::npos);
    struct {
        ReleaseInfo release;
        const char* section;
    } cases[] = {
        {{}, ""},
        {{1804687200, std::nullopt}, "[Release]\r\nExpires=2027-03-10T14:00:00Z\r\n"},
        {{std::nullopt, 25}, "[Release]\r\nRollout=25\r\n"},
        // 0 pauses a release: written, not taken for "unset".
        {{std::nullopt, 0}, "[Release]\r\nRollout=0\r\n"},
        {{0, 100}, "[Release]\r\nExpires=1970-01-01T00:00:00Z\r\nRollout=100\r\n"},
        {{tovane::kLatestUtcTime, 1}, "[Release]\r\nExpires=9999-12-31T23:59:59Z\r\nRollout=1\r\n"},
    };
    for (const auto& c : cases) {
        std::string text = BuildManifest(files, 1, 2, "n", c.release);
        EXPECT_EQ(text, without + c.section);
        std::size_t at = text.find("Expires=");
        if (at != std::string::npos) {
            std::int64_t expires = -1;
            EXPECT_TRUE(tovane::ParseUtcTime(text.substr(at + 8, 20), &expires));
            EXPECT_EQ(expires, *c.release.expires);
        }
        at = text.find("Rollout=");
        if (at != std::string::npos) {
            unsigned percent = 999;
            std::size_t end = text.find('\r', at);
            EXPECT_TRUE(tovane::ParseRolloutPercent(text.substr(at + 8, end - at - 8), &percent));
            EXPECT_EQ(percent, *c.release.rolloutPercent);
        }
    }
}

// [Compressed] comes last, one line per file with a gzip form, in the
// files' order; everything before it is what the tool wrote without it, and
// the updater reads each size back.
TEST(BuildManifest, CompressedSectionLastForTheFilesWithAGzipForm) {
    const tovane::trust::FilesEntry entry{6, {}};
    const ReleaseInfo release{1804687200, 25};
    struct {
        std::vector<std::optional<std::uint64_t>> gzipSizes;  // of a.dat, b.dll, c.exe
        const char* section;
    } const cases[] = {
        {{std::nullopt, std::nullopt, std::nullopt}, ""},
        {{4, std::nullopt, std::nullopt}, "[Compressed]\r\na.dat=gzip 4\r\n"},
        {{std::nullopt, std::nullopt, 0}, "[Compressed]\r\nc.exe=gzip 0\r\n"},
        {{4, 5, UINT64_MAX},
         "[Compressed]\r\na.dat=gzip 4\r\nb.dll=gzip 5\r\nc.exe=gzip 18446744073709551615\r\n"},
    };
    for (const ReleaseInfo& r : {ReleaseInfo{}, release}) {
        std::vector<ListedFile> files = {{"a.dat", entry}, {"b.dll", entry}, {"c.exe", entry}};
        const std::string without = BuildManifest(files, 1, 2, "n", r);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.section);
            for (std::size_t i = 0; i < files.size(); ++i) {
                files[i].gzipSize = c.gzipSizes[i];
            }
            const std::string text = BuildManifest(files, 1, 2, "n", r);
            EXPECT_EQ(text, without + c.section);
            tovane::Manifest m;
            ASSERT_EQ(tovane::ParseManifest(text, &m), tovane::ManifestParse::kOk);
            for (std::size_t i = 0; i < files.size(); ++i) {
                auto it = m.compressed.find(files[i].name);
                EXPECT_EQ(it != m.compressed.end() ? std::optional<std::uint64_t>(it->second)
                                                   : std::nullopt,
                          c.gzipSizes[i])
                    << files[i].name;
            }
            EXPECT_EQ(m.release.rollout, r.rolloutPercent);
        }
    }
}

TEST(ParseExpiryDays, WholeDaysUpToTenYears) {
    struct {
        const char* text;
        bool ok;
        unsigned days;
    } cases[] = {
        {"1", true, 1},           {"90", true, 90},  {"3650", true, 3650}, {"3651", false, 0},
        {"0", false, 0},          {"00", false, 0},  {"090", false, 0},    {"-1", false, 0},
        {"+90", false, 0},        {"", false, 0},    {"never", false, 0},  {"1.5", false, 0},
        {" 90", false, 0},        {"90 ", false, 0}, {"90d", false, 0},    {"99999", false, 0},
        {"4294967386", false, 0},  // 90 after wrapping 32 bits
    };
    for (const auto& c : cases) {
        unsigned days = 777;
        EXPECT_EQ(ParseExpiryDays(c.text, days), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(days, c.ok ? c.days : 777u) << '"' << c.text << '"';
    }
}

TEST(ExpiryAfter, WholeDaysWithinWhatTheManifestCarries) {
    const std::int64_t lastDay = tovane::kLatestUtcTime - 86400;
    struct {
        std::int64_t now;
        unsigned days;
        bool ok;
        std::int64_t expires;
    } cases[] = {
        {1796911200, 90, true, 1804687200},  // 2026-12-10T14:00:00Z + 90 days
        {0, 1, true, 86400},
        {lastDay, 1, true, tovane::kLatestUtcTime},
        {lastDay + 1, 1, false, 0},
        {tovane::kLatestUtcTime, 1, false, 0},
        {-1, 1, false, 0},
        {INT64_MAX, kMaxExpiryDays, false, 0},
        {INT64_MIN, kMaxExpiryDays, false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t expires = -7;
        EXPECT_EQ(ExpiryAfter(c.now, c.days, expires), c.ok) << c.now << " + " << c.days;
        EXPECT_EQ(expires, c.ok ? c.expires : -7) << c.now << " + " << c.days;
    }
}

}  // namespace
