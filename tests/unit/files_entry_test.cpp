#include "files_entry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tovane::trust::FilesEntry;
using tovane::trust::ParseFilesValue;

const std::string kHex = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";

TEST(ParseFilesValue, ReadsSizeAndDigest) {
    struct {
        std::string value;
        std::uint64_t size;
    } cases[] = {
        {"6 " + kHex, 6},
        {"0 " + kHex, 0},
        {"104857600 " + kHex, 104857600},
        {"18446744073709551615 " + kHex, UINT64_MAX},
        {"10000000000000000000 " + kHex, 10000000000000000000u},
    };
    for (const auto& c : cases) {
        FilesEntry e;
        ASSERT_TRUE(ParseFilesValue(c.value, e)) << c.value;
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.sha256[0], 0x58);
        EXPECT_EQ(e.sha256[31], 0x03);
        EXPECT_EQ(tovane::trust::FormatFilesValue(e), c.value);
    }
}

TEST(ParseFilesValue, RefusesEveryOtherSpelling) {
    std::string upper = kHex;
    upper[0] = 'A';
    const std::string cases[] = {
        "",
        kHex,
        "6",
        "6 ",
        " 6 " + kHex,
        "6  " + kHex,       // two blanks
        "6\t" + kHex,       // a tab is not the blank
        "6 " + kHex + " ",  // trailing blank
        "6 " + kHex + "0",  // 65 digits
        "6 " + kHex.substr(1),
        "6 " + upper,  // upper-case hex
        "6 " + kHex.substr(0, 63) + "g",
        "06 " + kHex,  // leading zero
        "00 " + kHex,
        "6a " + kHex,
        "a6 " + kHex,
        "+6 " + kHex,
        "-6 " + kHex,
        "6.0 " + kHex,
        "0x6 " + kHex,
        "18446744073709551616 " + kHex,  // one past 64 bits
        "99999999999999999999 " + kHex,
        "100000000000000000000 " + kHex,  // 21 digits
        std::string("6 ") + kHex.substr(0, 10) + '\0' + kHex.substr(11),
    };
    for (const std::string& value : cases) {
        FilesEntry e;
        e.size = 42;
        EXPECT_FALSE(ParseFilesValue(value, e)) << '"' << value << '"';
        EXPECT_EQ(e.size, 42u) << "left untouched on failure";
    }
}

}  // namespace
