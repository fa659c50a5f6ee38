// The arithmetic of one transfer: progress steps for any read size, read
// sizes, back-off, Content-Range, and which answers a resumed file may use.
#include <gtest/gtest.h>

#include <vector>

#include "download_plan.h"
#include "transfer_steps.h"

namespace tovane {
namespace {

// The positions the 10240-byte loop reported: one per non-empty read, each
// read full but the last.
std::vector<std::int32_t> OldLoopPositions(std::uint64_t size) {
    std::vector<std::int32_t> positions;
    std::int32_t position = 0;
    for (std::uint64_t left = size; left > 0;) {
        left -= left < kChunkSize ? left : kChunkSize;
        positions.push_back(++position);
    }
    return positions;
}

std::vector<std::int32_t> PositionsForReads(std::uint64_t size, std::uint64_t readSize) {
    std::vector<std::int32_t> positions;
    for (std::uint64_t received = 0; received < size;) {
        std::uint64_t next = received + (size - received < readSize ? size - received : readSize);
        ForEachStep(received, next, [&](std::int32_t p) { positions.push_back(p); });
        received = next;
    }
    return positions;
}

// Compatibility pin: the original's one step per 10240-byte read; users see the same bar.
TEST(StepPosition, SameSequenceForSmallAndLargeReads) {
    const std::uint64_t mib = 1024 * 1024;
    const std::uint64_t sizes[] = {0,     1,       10239, 10240,   10241,          25600,
                                   65536, mib - 1, mib,   mib + 1, 3 * mib + 5000, 256 * mib};
    for (std::uint64_t size : sizes) {
        SCOPED_TRACE(size);
        const std::vector<std::int32_t> old = OldLoopPositions(size);
        EXPECT_EQ(PositionsForReads(size, kChunkSize), old);
        EXPECT_EQ(PositionsForReads(size, mib), old);
        EXPECT_EQ(PositionsForReads(size, 64 * 1024), old);
        // Odd split points, as a short read or a resumed transfer gives.
        EXPECT_EQ(PositionsForReads(size, 7777), old);
        EXPECT_EQ(static_cast<std::uint64_t>(StepPosition(size)), old.size());
    }
}

struct StepCase {
    std::uint64_t received;
    std::int32_t position;
};

// Compatibility pin: the original counted a short last read, past the range; the same bar.
TEST(StepPosition, LastShortReadCountsAsAStep) {
    const StepCase cases[] = {
        {0, 0},
        {1, 1},
        {10240, 1},
        {10241, 2},
        {25600, 3},  // the range is 2 here: the control holds the bar at its top
        {268435456, 26215},
        {0xFFFFFFFFFFFFull, 2147483647},  // held at the largest position
    };
    for (const StepCase& c : cases) {
        EXPECT_EQ(StepPosition(c.received), c.position) << c.received;
    }
}

TEST(StepPosition, EndsAtOrAboveTheRangeTop) {
    for (std::uint32_t size : {10240u, 25600u, 1048576u, 268435456u, 268435457u}) {
        const std::uint32_t steps = ProgressSteps(static_cast<std::int32_t>(size));
        EXPECT_GE(static_cast<std::uint32_t>(StepPosition(size)), steps) << size;
    }
}

struct ReadSizeCase {
    std::uint32_t current;
    std::uint32_t got;
    std::uint32_t elapsedMs;
    std::uint32_t next;
};

TEST(NextReadSize, GrowsWhileFastShrinksWhenSlowStaysInBounds) {
    const std::uint32_t k64 = 64 * 1024;
    const ReadSizeCase cases[] = {
        {k64, k64, 0, 2 * k64},
        {k64, k64, 99, 2 * k64},
        {k64, k64, 100, k64},
        {512 * 1024, 512 * 1024, 5, kReadBufferSize},
        {kReadBufferSize, kReadBufferSize, 0, kReadBufferSize},  // never past the buffer
        {k64, 100, 0, k64},                                      // short read: no growth
        {kReadBufferSize, kReadBufferSize, 401, 512 * 1024},
        {k64, k64, 5000, 32 * 1024},
        {kChunkSize, 100, 5000, kChunkSize},  // never below one step
        {0, 0, 0, kChunkSize},
    };
    for (const ReadSizeCase& c : cases) {
        EXPECT_EQ(NextReadSize(c.current, c.got, c.elapsedMs), c.next)
            << c.current << " " << c.got << " " << c.elapsedMs;
    }
}

TEST(ReadSizeAfterBreak, HalvesDownToOneStep) {
    EXPECT_EQ(ReadSizeAfterBreak(kReadBufferSize), kReadBufferSize / 2);
    EXPECT_EQ(ReadSizeAfterBreak(64 * 1024), 32u * 1024);
    EXPECT_EQ(ReadSizeAfterBreak(16 * 1024), kChunkSize);
    EXPECT_EQ(ReadSizeAfterBreak(kChunkSize), kChunkSize);
    EXPECT_EQ(ReadSizeAfterBreak(0), kChunkSize);
    EXPECT_EQ(ReadSizeAfterBreak(0xFFFFFFFFu), kReadBufferSize);
}

TEST(RetryBudget, BarrenAttemptsBackOffAndRunOut) {
    RetryBudget budget(RetryPolicy{});
    std::vector<std::uint32_t> delays;
    std::uint32_t delay = 0;
    while (budget.Next(false, delay)) {
        delays.push_back(delay);
    }
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{250, 500, 1000, 2000, 4000}));
}

TEST(RetryBudget, ProgressResetsTheBackOffButNotTheAttemptCap) {
    RetryPolicy policy;
    policy.maxRetries = 2;
    policy.maxAttempts = 6;
    RetryBudget budget(policy);
    std::uint32_t delay = 0;
    ASSERT_TRUE(budget.Next(false, delay));
    EXPECT_EQ(delay, 250u);
    ASSERT_TRUE(budget.Next(false, delay));
    EXPECT_EQ(delay, 500u);
    ASSERT_TRUE(budget.Next(true, delay));
    EXPECT_EQ(delay, 250u) << "progress starts the back-off over";
    ASSERT_TRUE(budget.Next(true, delay));
    ASSERT_TRUE(budget.Next(true, delay));
    EXPECT_FALSE(budget.Next(true, delay)) << "six attempts in all";
}

TEST(RetryBudget, DelayHeldAtTheMaximum) {
    RetryPolicy policy;
    policy.maxRetries = 40;
    policy.maxAttempts = 100;
    RetryBudget budget(policy);
    std::uint32_t delay = 0;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(budget.Next(false, delay));
        EXPECT_LE(delay, policy.maxDelayMs);
    }
    EXPECT_EQ(delay, policy.maxDelayMs);
    EXPECT_FALSE(budget.Next(false, delay));
}

struct RangeCase {
    const char* text;
    bool ok;
    ContentRange range;
};

TEST(ParseContentRange, Table) {
    const RangeCase cases[] = {
        {"bytes 100-199/200", true, {100, 199, 200}},
        {"bytes 0-0/1", true, {0, 0, 1}},
        {"BYTES 5-9/*", true, {5, 9, 0}},
        {"  bytes  268435455-268435455/268435456 ", true, {268435455, 268435455, 268435456}},
        {"bytes 10-9/20", false, {}},  // last before first
        {"bytes 0-20/20", false, {}},  // past the end
        {"bytes */20", false, {}},     // the 416 form: no part
        {"bytes 1-2", false, {}},
        {"items 1-2/3", false, {}},
        {"bytes1-2/3", false, {}},
        {"bytes -1-2/3", false, {}},
        {"bytes 1-2/3x", false, {}},
        {"bytes 99999999999999999999-1/2", false, {}},  // overflows 64 bits
        {"bytes 007-008/09", true, {7, 8, 9}},
        {"bytes 0-18446744073709551614/18446744073709551615",
         true,
         {0, UINT64_MAX - 1, UINT64_MAX}},
        {"bytes 0-18446744073709551615/*", true, {0, UINT64_MAX, 0}},
        {"bytes 0-18446744073709551616/*", false, {}},
        {"bytes 0-1/18446744073709551616", false, {}},
        {"bytes +1-2/3", false, {}},
        {"bytes 1--2/3", false, {}},
        {"bytes 1-2/", false, {}},
        {"bytes 1-/3", false, {}},
        {"bYtEs 1-2/3", true, {1, 2, 3}},
        {"byte 1-2/3", false, {}},
        {"bytesx 1-2/3", false, {}},
        {"bytes\t1-2/3", false, {}},
        {"", false, {}},
    };
    for (const RangeCase& c : cases) {
        ContentRange range{7, 7, 7};
        EXPECT_EQ(ParseContentRange(c.text, range), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(range.first, c.range.first) << c.text;
            EXPECT_EQ(range.last, c.range.last) << c.text;
            EXPECT_EQ(range.total, c.range.total) << c.text;
        } else {
            EXPECT_EQ(range.first, 7u) << "left as it was: " << c.text;
        }
    }
    ContentRange untouched;
    EXPECT_FALSE(ParseContentRange(nullptr, untouched));
}

TEST(ChooseValidator, StrongETagElseLastModified) {
    EXPECT_EQ(ChooseValidator("\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "\"abc\"");
    EXPECT_EQ(ChooseValidator("W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"),
              "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ChooseValidator("", "Tue, 01 Dec 2026 10:00:00 GMT"),
              "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ChooseValidator("W/\"abc\"", ""), "");
    EXPECT_EQ(ChooseValidator("", ""), "");
}

struct JudgeCase {
    const char* name;
    std::uint64_t offset;
    const char* validator;
    std::uint64_t total;
    Reply reply;
    ReplyUse use;
};

Reply Part(std::uint64_t first, std::uint64_t total, const char* validator) {
    Reply r;
    r.status = 206;
    r.hasRange = true;
    r.range = ContentRange{first, total - 1, total};
    r.validator = validator;
    return r;
}

Reply Status(int status, const char* validator = "\"v1\"") {
    Reply r;
    r.status = status;
    r.validator = validator;
    return r;
}

TEST(JudgeReply, NeverSplicesTwoVersions) {
    Reply noRange = Part(500, 1000, "\"v1\"");
    noRange.hasRange = false;
    Reply starTotal = Part(500, 1000, "\"v1\"");
    starTotal.range.total = 0;
    const JudgeCase cases[] = {
        {"first answer whole", 0, "", 0, Status(200), ReplyUse::UseFromStart},
        {"first answer missing", 0, "", 0, Status(404), ReplyUse::Fail},
        {"first answer a part", 0, "", 0, Part(0, 1000, "\"v1\""), ReplyUse::Fail},
        {"the rest, same version", 500, "\"v1\"", 1000, Part(500, 1000, "\"v1\""),
         ReplyUse::Append},
        {"the rest, length unknown before", 500, "\"v1\"", 0, Part(500, 1000, "\"v1\""),
         ReplyUse::Append},
        {"range ignored", 500, "\"v1\"", 1000, Status(200), ReplyUse::UseFromStart},
        {"changed, server says so", 500, "\"v1\"", 1000, Status(200, "\"v2\""),
         ReplyUse::UseFromStart},
        {"changed, part anyway", 500, "\"v1\"", 1000, Part(500, 1000, "\"v2\""),
         ReplyUse::RefetchFromStart},
        {"part starts earlier", 500, "\"v1\"", 1000, Part(400, 1000, "\"v1\""),
         ReplyUse::RefetchFromStart},
        {"part starts later", 500, "\"v1\"", 1000, Part(600, 1000, "\"v1\""),
         ReplyUse::RefetchFromStart},
        {"part of another length", 500, "\"v1\"", 1000, Part(500, 2000, "\"v1\""),
         ReplyUse::RefetchFromStart},
        {"part total unknown", 500, "\"v1\"", 1000, starTotal, ReplyUse::RefetchFromStart},
        {"part without Content-Range", 500, "\"v1\"", 1000, noRange, ReplyUse::RefetchFromStart},
        {"no validator to hold it to", 500, "", 1000, Part(500, 1000, ""),
         ReplyUse::RefetchFromStart},
        {"range not satisfiable", 500, "\"v1\"", 1000, Status(416), ReplyUse::RefetchFromStart},
        {"gone meanwhile", 500, "\"v1\"", 1000, Status(404), ReplyUse::Fail},
        {"server error", 500, "\"v1\"", 1000, Status(500), ReplyUse::Fail},
    };
    for (const JudgeCase& c : cases) {
        EXPECT_EQ(JudgeReply(c.offset, c.validator, c.total, c.reply), c.use) << c.name;
    }
}

}  // namespace
}  // namespace tovane

namespace {

TEST(TransferBounds, AReadNeverGoesMoreThanOneBytePastTheLimit) {
    struct {
        std::uint32_t readSize;
        std::uint64_t received, maxBytes;
        std::uint32_t expected;
    } cases[] = {
        {65536, 0, tovane::kUnbounded, 65536},  // no limit: the read size as it is
        {65536, 0, 100, 101},                   // the byte past the limit proves it too long
        {65536, 100, 100, 1},                   // at the limit: one byte to see whether more comes
        {65536, 0, 0, 1},                       // an empty file: any byte is too much
        {10, 0, 100, 10},                       // far from it: the read size
        {65536, 200, 100, 1},                   // past it already (never reached): still one
        {1u << 20, 0, (std::uint64_t(5) << 30), 1u << 20},  // beyond 32 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::BoundedReadSize(c.readSize, c.received, c.maxBytes), c.expected)
            << c.readSize << " " << c.received << " " << c.maxBytes;
    }
}

TEST(TransferBounds, TooSlowOnlyOnceAWholeWindowHasPassed) {
    tovane::TransferBounds bounds;  // 60 KiB in 60 s
    struct {
        std::uint64_t bytes;
        std::uint32_t elapsedMs;
        bool slow;
    } cases[] = {
        {0, 59999, false},          // the window is not over
        {0, 60000, true},           // a drip that brought nothing
        {61439, 60000, true},       // one byte short of 1 KiB/s
        {61440, 60000, false},      // exactly 1 KiB/s
        {61439, 120000, true},      // a late check judges the same bytes
        {100000000, 60000, false},  // a fast link
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovane::TooSlow(c.bytes, c.elapsedMs, bounds), c.slow)
            << c.bytes << " bytes in " << c.elapsedMs << " ms";
    }
    bounds.windowMs = 0;  // no window: never too slow
    EXPECT_FALSE(tovane::TooSlow(0, 600000, bounds));
}

}  // namespace
