// The gzip form of an update file inflated as its bytes arrive, held to the
// sizes the manifest gives: [Compressed] for the bytes taken in, [Files] for
// the bytes handed out.
//
// What is accepted: exactly one gzip member (RFC 1952, deflate, header
// fields and header CRC as zlib reads them), its CRC-32 and ISIZE checked,
// and nothing after it. A second member is refused like any other trailing
// bytes: the publishing tool writes one, and a file that inflates to the
// same bytes in two ways is one more thing to get wrong.
//
// Resuming a broken transfer. The inflater has taken every byte it was fed
// when Feed returns kOk, and the sink has received everything those bytes
// inflate to that can be known yet; consumed() is the offset in the gzip
// form where the next byte belongs, and produced() the length of the output.
// Two ways on:
// - The same inflater, kept over the break: ask for the rest from consumed()
//   on (an HTTP Range request) and Feed only bytes from that very offset. A
//   reply that is not the continuation (a whole body where a range was
//   asked for, an overlap, a gap) must not be fed: Reset and start over.
// - Start over: Reset(), empty the output, and feed the gzip form from its
//   first byte, from what was kept on disk and then from the network. The
//   output comes again from its first byte.
// After an error the inflater refuses everything with that error until
// Reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tovane {

enum class GzipStatus {
    kOk,
    kInputLimit,    // more gzip bytes than the input limit
    kOutputLimit,   // would inflate to more than the output limit
    kBadData,       // not gzip, a corrupt deflate stream, a wrong CRC-32 or ISIZE
    kTrailingData,  // bytes after the member: garbage or a second member
    kTruncated,     // Finish before the member's end
    kSinkFailed,    // the sink refused bytes
    kNoMemory,
};

class GzipInflater {
public:
    // Takes inflated bytes in order; false stops the inflater with
    // kSinkFailed. It never receives a byte past the output limit.
    using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

    GzipInflater(std::uint64_t inputLimit, std::uint64_t outputLimit, Sink sink);
    ~GzipInflater();
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    // The next bytes of the gzip form. Bytes up to the input limit are
    // inflated; any past it give kInputLimit, or kTrailingData when the member
    // had ended already. Output that would pass the output limit gives
    // kOutputLimit once the sink has had the bytes up to the limit.
    GzipStatus Feed(const void* data, std::size_t size);

    // After the last byte: kOk when the member ended with its checks passed
    // and nothing followed, kTruncated when it has not ended, or the error
    // that stopped the inflater. A caller that knows the exact size of the
    // gzip form compares it with consumed() too.
    GzipStatus Finish();

    // As new, with the same limits and sink.
    void Reset();

    std::uint64_t consumed() const { return consumed_; }
    std::uint64_t produced() const { return produced_; }
    // The member's end has been read and checked.
    bool ended() const { return ended_; }
    GzipStatus status() const { return status_; }
    // For the log: what went wrong and at which offset of the gzip form;
    // empty while all is well.
    const std::string& errorText() const { return errorText_; }

private:
    struct Stream;

    GzipStatus Fail(GzipStatus status, const std::string& detail);
    GzipStatus Inflate(const std::uint8_t* data, std::size_t size);

    const std::uint64_t inputLimit_;
    const std::uint64_t outputLimit_;
    Sink sink_;
    std::unique_ptr<Stream> stream_;
    std::uint64_t consumed_ = 0;
    std::uint64_t produced_ = 0;
    bool ended_ = false;
    GzipStatus status_ = GzipStatus::kOk;
    std::string errorText_;
};

// "input past its limit", "corrupt gzip data", ...: the status in words.
const char* GzipStatusName(GzipStatus status);

}  // namespace tovane
