#include "gzip_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "gzip_inflate.h"

namespace {

using kelvo::publish::GzipForm;

std::string GzipOf(const std::string& data, std::size_t piece) {
    GzipForm gzip;
    std::string out, why;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        EXPECT_TRUE(gzip.Add(data.data() + at, std::min(piece, data.size() - at), out, why)) << why;
    }
    EXPECT_TRUE(gzip.Finish(out, why)) << why;
    return out;
}

std::string Inflated(const std::string& gz, std::uint64_t size) {
    std::string out;
    tovane::GzipInflater inflater(gz.size(), size, [&](const std::uint8_t* data, std::size_t n) {
        out.append(reinterpret_cast<const char*>(data), n);
        return true;
    });
    EXPECT_EQ(inflater.Feed(gz.data(), gz.size()), tovane::GzipStatus::kOk) << inflater.errorText();
    EXPECT_EQ(inflater.Finish(), tovane::GzipStatus::kOk) << inflater.errorText();
    return out;
}

std::string Pseudorandom(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

// The same bytes give the same gzip form however they are handed over, and
// the updater's inflater gives them back; the header has no name, no time
// and the same system byte on every build.
TEST(GzipForm, DeterministicAndReadByTheUpdater) {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) {
        text += "entry " + std::to_string(i % 977) + " of the product's data\n";
    }
    struct {
        const char* name;
        std::string data;
    } const cases[] = {
        {"empty", ""},
        {"one byte", "x"},
        {"text", text},
        {"random", Pseudorandom(150000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string gz = GzipOf(c.data, c.data.size() + 1);
        EXPECT_EQ(GzipOf(c.data, 1000), gz);
        EXPECT_EQ(GzipOf(c.data, 65536), gz);
        ASSERT_GE(gz.size(), 18u);
        // ID1 ID2 CM=deflate FLG=none MTIME=0 XFL=2 (level 9) OS=255.
        EXPECT_EQ(gz.substr(0, 10), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10));
        EXPECT_EQ(Inflated(gz, c.data.size()), c.data);
    }
}

TEST(GzipFormWorthPublishing, AtLeastATenthSaved) {
    struct {
        std::uint64_t fileSize;
        std::uint64_t gzipSize;
        bool worth;
    } const cases[] = {
        {1000, 900, true},
        {1000, 901, false},
        {1000, 100, true},
        {1000, 1000, false},
        {1000, 1020, false},
        {10, 9, true},
        {10, 10, false},
        {9, 8, true},  // 8.1 rounds down to 8
        {19, 17, true},
        {19, 18, false},
        {0, 0, true},
        {0, 20, false},
        {1, 0, true},
        {1, 1, false},
        {UINT64_MAX, UINT64_MAX / 10 * 9 + 4, true},  // floor(0.9 * (2^64 - 1))
        {UINT64_MAX, UINT64_MAX / 10 * 9 + 5, false},
        {UINT64_MAX, UINT64_MAX, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelvo::publish::GzipFormWorthPublishing(c.fileSize, c.gzipSize), c.worth)
            << c.fileSize << ' ' << c.gzipSize;
    }
}

}  // namespace
