#include "gzip_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using tovane::GzipInflater;
using tovane::GzipStatus;

// The gzip form of `data` as zlib writes it, with a file name in the header
// when one is given (gzip(1) writes one).
std::string Gzip(const std::string& data, const char* name = nullptr) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header header{};
    std::string nameCopy = name ? name : "";
    if (name) {
        header.name = reinterpret_cast<Bytef*>(&nameCopy[0]);
        header.os = 3;
        EXPECT_EQ(deflateSetHeader(&z, &header), Z_OK);
    }
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Text that compresses well but is not one repeated byte.
std::string Sample(std::size_t size) {
    std::string text;
    std::uint32_t x = 12345;
    while (text.size() < size) {
        x = x * 1103515245u + 12345u;
        text += "line " + std::to_string((x >> 16) % 100) + " of the update file\n";
    }
    text.resize(size);
    return text;
}

struct Outcome {
    GzipStatus fed = GzipStatus::kOk;  // the first error Feed gave
    GzipStatus finished = GzipStatus::kOk;
    std::string output;
    std::uint64_t consumed = 0;
    std::uint64_t produced = 0;
    std::string errorText;
};

// Feeds `gz` in pieces of `chunk` bytes (0: all at once), stopping at the
// first error, then calls Finish.
Outcome Inflate(const std::string& gz, std::uint64_t inputLimit, std::uint64_t outputLimit,
                std::size_t chunk) {
    Outcome run;
    GzipInflater inflater(inputLimit, outputLimit, [&](const std::uint8_t* data, std::size_t size) {
        run.output.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    const std::size_t step = chunk == 0 ? gz.size() : chunk;
    for (std::size_t at = 0; at < gz.size(); at += step) {
        const std::size_t n = gz.size() - at < step ? gz.size() - at : step;
        run.fed = inflater.Feed(gz.data() + at, n);
        if (run.fed != GzipStatus::kOk) {
            break;
        }
    }
    run.finished = inflater.Finish();
    run.consumed = inflater.consumed();
    run.produced = inflater.produced();
    run.errorText = inflater.errorText();
    return run;
}

std::string WithByteFlipped(std::string gz, std::size_t fromEnd) {
    gz[gz.size() - fromEnd] ^= 0x01;
    return gz;
}

TEST(GzipInflater, Table) {
    const std::string text = Sample(5000);
    const std::string gz = Gzip(text);
    const std::string big = Sample(300000);  // many times the 32 KiB output buffer
    const std::string bigGz = Gzip(big);
    const std::string emptyGz = Gzip("");
    const std::string named = Gzip(text, "Kelvo.dat");
    const std::uint64_t size = text.size();
    const auto all = UINT64_MAX;
    struct {
        const char* name;
        std::string gz;
        std::uint64_t inputLimit;
        std::uint64_t outputLimit;
        GzipStatus status;
        bool onlyAtFinish;  // the error shows at Finish, not while feeding
        // All of it on kOk, else what the sink may have had a start of; not
        // checked where corrupt data inflates to bytes of its own.
        std::optional<std::string> output;
    } const cases[] = {
        {"normal", gz, gz.size(), size, GzipStatus::kOk, false, text},
        {"generous limits", gz, all, all, GzipStatus::kOk, false, text},
        {"name in the header", named, named.size(), size, GzipStatus::kOk, false, text},
        {"larger than the output buffer", bigGz, bigGz.size(), big.size(), GzipStatus::kOk, false,
         big},
        {"empty file", emptyGz, emptyGz.size(), 0, GzipStatus::kOk, false, ""},
        {"one byte past the output limit", gz, gz.size(), size - 1, GzipStatus::kOutputLimit, false,
         text.substr(0, size - 1)},
        {"far past the output limit", bigGz, bigGz.size(), 1000, GzipStatus::kOutputLimit, false,
         big.substr(0, 1000)},
        {"empty limit, one byte out", Gzip("x"), 100, 0, GzipStatus::kOutputLimit, false, ""},
        {"input one byte past its limit", gz, gz.size() - 1, size, GzipStatus::kInputLimit, false,
         text},
        {"input limit 0", gz, 0, size, GzipStatus::kInputLimit, false, ""},
        {"no bytes at all", "", 100, size, GzipStatus::kTruncated, true, ""},
        {"trailer cut off", gz.substr(0, gz.size() - 1), gz.size(), size, GzipStatus::kTruncated,
         true, text},
        {"cut in the deflate data", gz.substr(0, gz.size() / 2), gz.size(), size,
         GzipStatus::kTruncated, true, text},
        {"header only", gz.substr(0, 10), gz.size(), size, GzipStatus::kTruncated, true, ""},
        {"corrupt CRC-32", WithByteFlipped(gz, 8), gz.size(), size, GzipStatus::kBadData, false,
         text},
        {"corrupt ISIZE", WithByteFlipped(gz, 4), gz.size(), size, GzipStatus::kBadData, false,
         text},
        {"bad magic", "\x1e" + gz.substr(1), gz.size(), size, GzipStatus::kBadData, false, ""},
        {"not deflate", gz.substr(0, 2) + '\x07' + gz.substr(3), gz.size(), size,
         GzipStatus::kBadData, false, ""},
        {"corrupt deflate data", WithByteFlipped(gz, gz.size() / 2), gz.size(), size,
         GzipStatus::kBadData, false, std::nullopt},
        {"trailing garbage", gz + "x", gz.size() + 1, size, GzipStatus::kTrailingData, false, text},
        {"trailing garbage past the input limit", gz + "x", gz.size(), size,
         GzipStatus::kTrailingData, false, text},
        {"two members", gz + gz, 2 * gz.size(), 2 * size, GzipStatus::kTrailingData, false, text},
        {"zlib wrapper instead of gzip", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8), 100,
         size, GzipStatus::kBadData, false, ""},
    };
    for (const auto& c : cases) {
        // Whole, byte by byte, and in pieces that cut the header, the
        // deflate blocks and the trailer in odd places.
        for (std::size_t chunk : {std::size_t(0), std::size_t(1), std::size_t(7)}) {
            SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
            const Outcome run = Inflate(c.gz, c.inputLimit, c.outputLimit, chunk);
            EXPECT_EQ(run.finished, c.status);
            EXPECT_EQ(run.fed, c.onlyAtFinish ? GzipStatus::kOk : c.status);
            EXPECT_LE(run.output.size(), c.outputLimit);
            EXPECT_LE(run.consumed, c.inputLimit);
            EXPECT_EQ(run.produced, run.output.size());
            if (c.status == GzipStatus::kOk) {
                EXPECT_EQ(run.output, *c.output);
                EXPECT_EQ(run.consumed, c.gz.size());
                EXPECT_EQ(run.errorText, "");
            } else {
                // Whatever came out before the error is the file's start.
                if (c.output) {
                    EXPECT_LE(run.output.size(), c.output->size());
                    EXPECT_EQ(run.output, c.output->substr(0, run.output.size()));
                }
                EXPECT_NE(run.errorText.find(tovane::GzipStatusName(c.status)), std::string::npos)
                    << run.errorText;
            }
            if (c.status == GzipStatus::kOutputLimit) {
                EXPECT_EQ(run.output, *c.output) << "the bytes up to the limit, none past it";
            }
        }
    }
}

TEST(GzipInflater, SecondMemberNamedInTheLog) {
    const std::string gz = Gzip("abc");
    Outcome run = Inflate(gz + gz, 1000, 1000, 0);
    EXPECT_EQ(run.finished, GzipStatus::kTrailingData);
    EXPECT_NE(run.errorText.find("second gzip member"), std::string::npos) << run.errorText;
    EXPECT_EQ(run.consumed, gz.size()) << "the offset of the member's end";
    run = Inflate(gz + "garbage", 1000, 1000, 0);
    EXPECT_EQ(run.finished, GzipStatus::kTrailingData);
    EXPECT_EQ(run.errorText.find("second gzip member"), std::string::npos) << run.errorText;
}

// A transfer that breaks after any number of bytes and is taken up again
// from consumed() with the same inflater gives the same file, and after each
// Feed the output holds produced() bytes: what was taken in is all handed on.
TEST(GzipInflater, ResumedFromConsumedWithTheSameInflater) {
    const std::string text = Sample(70000);
    const std::string gz = Gzip(text);
    for (std::size_t cut = 0; cut <= gz.size();
         cut += (cut < 40 || cut + 40 > gz.size()) ? 1 : 97) {
        SCOPED_TRACE("break after " + std::to_string(cut));
        std::string output;
        GzipInflater inflater(gz.size(), text.size(),
                              [&](const std::uint8_t* data, std::size_t size) {
                                  output.append(reinterpret_cast<const char*>(data), size);
                                  return true;
                              });
        ASSERT_EQ(inflater.Feed(gz.data(), cut), GzipStatus::kOk);
        ASSERT_EQ(inflater.consumed(), cut);
        ASSERT_EQ(inflater.produced(), output.size());
        EXPECT_EQ(output, text.substr(0, output.size()));
        const std::size_t resumeAt = static_cast<std::size_t>(inflater.consumed());
        ASSERT_EQ(inflater.Feed(gz.data() + resumeAt, gz.size() - resumeAt), GzipStatus::kOk);
        ASSERT_EQ(inflater.Finish(), GzipStatus::kOk);
        EXPECT_EQ(output, text);
        EXPECT_TRUE(inflater.ended());
    }
}

// Starting over: Reset, empty the output, feed again from the first byte;
// also the way out of an error.
TEST(GzipInflater, ResetStartsOver) {
    const std::string text = Sample(20000);
    const std::string gz = Gzip(text);
    struct {
        const char* name;
        std::string before;  // fed before the Reset
        GzipStatus status;   // what that gave
    } const cases[] = {
        {"after a third of the form", gz.substr(0, gz.size() / 3), GzipStatus::kOk},
        {"after the whole form", gz, GzipStatus::kOk},
        {"after corrupt data", std::string("\x1f\x8b\x07\x00", 4), GzipStatus::kBadData},
        {"after a second member", gz + gz, GzipStatus::kTrailingData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string output;
        GzipInflater inflater(gz.size() + 20, text.size(),
                              [&](const std::uint8_t* data, std::size_t size) {
                                  output.append(reinterpret_cast<const char*>(data), size);
                                  return true;
                              });
        ASSERT_EQ(inflater.Feed(c.before.data(), c.before.size()), c.status);
        inflater.Reset();
        EXPECT_EQ(inflater.status(), GzipStatus::kOk);
        EXPECT_EQ(inflater.consumed(), 0u);
        EXPECT_EQ(inflater.produced(), 0u);
        EXPECT_FALSE(inflater.ended());
        EXPECT_EQ(inflater.errorText(), "");
        output.clear();
        ASSERT_EQ(inflater.Feed(gz.data(), gz.size()), GzipStatus::kOk);
        ASSERT_EQ(inflater.Finish(), GzipStatus::kOk);
        EXPECT_EQ(output, text);
    }
}

// An error holds until Reset: valid bytes fed after it are not taken.
TEST(GzipInflater, ErrorsHold) {
    const std::string gz = Gzip("some text");
    std::string output;
    GzipInflater inflater(1000, 1000, [&](const std::uint8_t* data, std::size_t size) {
        output.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    // zlib judges the magic once it has both bytes.
    ASSERT_EQ(inflater.Feed("\x1e\x8b", 2), GzipStatus::kBadData);
    const std::uint64_t consumed = inflater.consumed();
    EXPECT_EQ(inflater.Feed(gz.data() + 2, gz.size() - 2), GzipStatus::kBadData);
    EXPECT_EQ(inflater.consumed(), consumed);
    EXPECT_EQ(inflater.Finish(), GzipStatus::kBadData);
    EXPECT_EQ(output, "");
}

TEST(GzipInflater, SinkRefusalStops) {
    const std::string text = Sample(100000);
    const std::string gz = Gzip(text);
    std::size_t calls = 0;
    GzipInflater inflater(gz.size(), text.size(), [&](const std::uint8_t*, std::size_t) {
        ++calls;
        return calls < 2;
    });
    EXPECT_EQ(inflater.Feed(gz.data(), gz.size()), GzipStatus::kSinkFailed);
    EXPECT_EQ(calls, 2u);
    EXPECT_LT(inflater.produced(), text.size());
    EXPECT_EQ(inflater.Finish(), GzipStatus::kSinkFailed);
    EXPECT_NE(inflater.errorText().find("not written"), std::string::npos);
}

// Feeding nothing changes nothing, also after the end.
TEST(GzipInflater, EmptyFeeds) {
    const std::string gz = Gzip("abc");
    std::string output;
    GzipInflater inflater(gz.size(), 3, [&](const std::uint8_t* data, std::size_t size) {
        output.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    EXPECT_EQ(inflater.Feed(nullptr, 0), GzipStatus::kOk);
    EXPECT_EQ(inflater.Feed(gz.data(), gz.size()), GzipStatus::kOk);
    EXPECT_EQ(inflater.Feed(nullptr, 0), GzipStatus::kOk);
    EXPECT_EQ(inflater.Finish(), GzipStatus::kOk);
    EXPECT_EQ(inflater.Finish(), GzipStatus::kOk);
    EXPECT_EQ(output, "abc");
}

}  // namespace
