// Arithmetic of one transfer that needs no network: the progress position
// for the bytes received, the size of the next read, the back-off between
// attempts, and what an answer to a resumed request may be used for.
#pragma once

#include <cstdint>
#include <string>

namespace tovane {

// The bar moved one step per non-empty 10240-byte read: a file of n bytes
// ended at ceil(n / 10240). Deriving the position from the bytes keeps that
// sequence whatever the read size.
std::int32_t StepPosition(std::uint64_t received);

// Reads start small so that a slow link still moves the bar, and grow up to
// the buffer while they complete quickly: each read costs a fixed amount
// under Wine whatever its size. A read waits for its whole size, and a
// break loses what it had gathered, so a read stays between a tenth and
// four tenths of a second's worth of the link, never below one progress
// step.
constexpr std::uint32_t kFirstReadSize = 64 * 1024;
constexpr std::uint32_t kReadBufferSize = 1024 * 1024;
std::uint32_t NextReadSize(std::uint32_t current, std::uint32_t got, std::uint32_t elapsedMs);

// The read size to take a transfer up again with after a read of `failed`
// bytes broke: a link that keeps breaking still gets whole reads through.
std::uint32_t ReadSizeAfterBreak(std::uint32_t failed);

// How often and how patiently a broken transfer is taken up again.
struct RetryPolicy {
    unsigned maxRetries = 5;    // attempts in a row that bring no new byte
    unsigned maxAttempts = 40;  // every attempt of one file, progress or not
    std::uint32_t firstDelayMs = 250;
    std::uint32_t maxDelayMs = 4000;
};

// What one transfer may take, in bytes and in time: a server, a mirror or a
// man in the middle must not be able to fill the disk or hold a check open.
constexpr std::uint64_t kUnbounded = UINT64_MAX;

struct TransferBounds {
    // The body's largest size (a signed size, or the manifest's limit);
    // kUnbounded: no size is known, and the free space of the file's volume
    // bounds it.
    std::uint64_t maxBytes = kUnbounded;
    // The whole transfer, attempts and waits included; 0: no deadline.
    std::uint32_t deadlineMs = 0;
    // An attempt that brings fewer bytes than this in a window counts as
    // broken, like a reset: a link that drips keeps no check open for ever.
    std::uint32_t windowMs = 60000;
    std::uint64_t minBytesPerWindow = 60 * 1024;
};

// What a file without a size limit leaves free on its volume at the least.
constexpr std::uint64_t kFreeSpaceMargin = std::uint64_t(256) << 20;

// The next read's size, so that a bounded body is never read more than one
// byte past its limit: that byte is what proves it too long.
std::uint32_t BoundedReadSize(std::uint32_t readSize, std::uint64_t received,
                              std::uint64_t maxBytes);

// Whether a window's bytes fall short of the bounds' rate.
bool TooSlow(std::uint64_t bytesInWindow, std::uint32_t elapsedMs, const TransferBounds& bounds);

// Counts the attempts of one file. After a failed attempt, Next says
// whether to try again and how long to wait first.
class RetryBudget {
public:
    explicit RetryBudget(const RetryPolicy& policy) : policy_(policy) {}
    bool Next(bool madeProgress, std::uint32_t& delayMs);

private:
    RetryPolicy policy_;
    unsigned attempts_ = 1;
    unsigned barren_ = 0;
};

// "bytes first-last/total"; total is 0 when the server wrote "*".
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};
bool ParseContentRange(const char* text, ContentRange& range);

// What ties the parts of a resumed file to one version: a strong ETag,
// else Last-Modified. Empty means a part cannot be trusted to match.
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

struct Reply {
    int status = 0;
    bool hasRange = false;
    ContentRange range;
    std::string validator;  // chosen the same way as the first one
};

enum class ReplyUse {
    Append,            // the rest of the body, from the offset asked for
    UseFromStart,      // a whole body: the file starts over with it
    RefetchFromStart,  // unusable part: ask again for the whole body
    Fail,              // an answer that no retry will change
};

// offset: bytes already in the file (0: a plain request). validator and
// total: of the first answer (total 0 when unknown).
ReplyUse JudgeReply(std::uint64_t offset, const std::string& validator, std::uint64_t total,
                    const Reply& reply);

}  // namespace tovane

namespace tovane {

// Calls emit with every position passed on the way from `before` to `after`
// bytes, in order, so the bar sees each step a 10240-byte read would show.
template <typename Emit>
void ForEachStep(std::uint64_t before, std::uint64_t after, Emit&& emit) {
    for (std::int32_t p = StepPosition(before) + 1, end = StepPosition(after); p <= end; ++p) {
        emit(p);
    }
}

}  // namespace tovane
