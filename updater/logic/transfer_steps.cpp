#include "transfer_steps.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "download_plan.h"
#include "numbers.h"
#include "text_compare.h"

namespace tovane {

std::int32_t StepPosition(std::uint64_t received) {
    const std::uint64_t steps = (received + kChunkSize - 1) / kChunkSize;
    const auto top = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(steps < top ? steps : top);
}

std::uint32_t NextReadSize(std::uint32_t current, std::uint32_t got, std::uint32_t elapsedMs) {
    // A whole read within a tenth of a second doubles the next and one over
    // four tenths halves it: reads settle in between, so the bar keeps moving
    // on a slow link while a fast one is read in few calls.
    const std::uint32_t fastMs = 100;
    const std::uint32_t slowMs = 400;
    std::uint32_t next = current;
    if (got == current && elapsedMs < fastMs) {
        next = current * 2;
    } else if (elapsedMs > slowMs) {
        next = current / 2;
    }
    if (next < kChunkSize) {
        next = kChunkSize;
    }
    if (next > kReadBufferSize) {
        next = kReadBufferSize;
    }
    return next;
}

std::uint32_t ReadSizeAfterBreak(std::uint32_t failed) {
    const std::uint32_t half = failed / 2;
    return half < kChunkSize ? kChunkSize : (half > kReadBufferSize ? kReadBufferSize : half);
}

std::uint32_t BoundedReadSize(std::uint32_t readSize, std::uint64_t received,
                              std::uint64_t maxBytes) {
    if (maxBytes == kUnbounded) {
        return readSize;
    }
    const std::uint64_t left = received < maxBytes ? maxBytes - received + 1 : 1;
    return left < readSize ? static_cast<std::uint32_t>(left) : readSize;
}

bool TooSlow(std::uint64_t bytesInWindow, std::uint32_t elapsedMs, const TransferBounds& bounds) {
    return bounds.windowMs != 0 && elapsedMs >= bounds.windowMs &&
           bytesInWindow < bounds.minBytesPerWindow;
}

bool RetryBudget::Next(bool madeProgress, std::uint32_t& delayMs) {
    barren_ = madeProgress ? 0 : barren_ + 1;
    if (barren_ > policy_.maxRetries || attempts_ >= policy_.maxAttempts) {
        return false;
    }
    ++attempts_;
    // A break after progress is taken up at once with the first delay; each
    // barren attempt in a row doubles it.
    std::uint64_t delay = policy_.firstDelayMs;
    for (unsigned i = 1; i < barren_ && delay < policy_.maxDelayMs; ++i) {
        delay *= 2;
    }
    delayMs = static_cast<std::uint32_t>(delay < policy_.maxDelayMs ? delay : policy_.maxDelayMs);
    return true;
}

namespace {

// Decimal digits at p into value; false on none or on overflow.
bool ReadNumber(const char*& p, std::uint64_t& value) {
    const DecimalScan scan = ScanDecimal(p);
    if (scan.digits == 0 || scan.overflow) {
        return false;
    }
    value = scan.value;
    p += scan.digits;
    return true;
}

}  // namespace

bool ParseContentRange(const char* text, ContentRange& range) {
    if (text == nullptr) {
        return false;
    }
    const char* p = text;
    while (*p == ' ') {
        ++p;
    }
    constexpr std::string_view kUnit = "bytes";
    if (!EqualsIgnoreCase(std::string_view(p).substr(0, kUnit.size()), kUnit)) {
        return false;
    }
    p += kUnit.size();
    if (*p != ' ') {
        return false;
    }
    while (*p == ' ') {
        ++p;
    }
    ContentRange parsed;
    if (!ReadNumber(p, parsed.first) || *p++ != '-' || !ReadNumber(p, parsed.last) || *p++ != '/') {
        return false;
    }
    if (*p == '*') {
        ++p;
    } else if (!ReadNumber(p, parsed.total)) {
        return false;
    }
    while (*p == ' ') {
        ++p;
    }
    if (*p != '\0' || parsed.last < parsed.first ||
        (parsed.total != 0 && parsed.last >= parsed.total)) {
        return false;
    }
    range = parsed;
    return true;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
    // A weak ETag may not be sent in If-Range: the server would never
    // answer with a part.
    if (!etag.empty() && etag.compare(0, 2, "W/") != 0) {
        return etag;
    }
    return lastModified;
}

ReplyUse JudgeReply(std::uint64_t offset, const std::string& validator, std::uint64_t total,
                    const Reply& reply) {
    if (reply.status == 200) {
        return ReplyUse::UseFromStart;
    }
    if (offset == 0) {
        return ReplyUse::Fail;
    }
    if (reply.status == 416) {
        return ReplyUse::RefetchFromStart;
    }
    if (reply.status != 206) {
        return ReplyUse::Fail;
    }
    // A part is only ever appended to the version it continues.
    if (!reply.hasRange || reply.range.first != offset || validator.empty() ||
        reply.validator != validator || (total != 0 && reply.range.total != total)) {
        return ReplyUse::RefetchFromStart;
    }
    return ReplyUse::Append;
}

}  // namespace tovane
