#include "gzip_inflate.h"

#include <zlib.h>

#include <climits>
#include <new>
#include <utility>

namespace tovane {

namespace {

// zlib's window bits for a gzip wrapper only: a zlib or raw deflate stream
// is not the form that is published, so it is refused rather than guessed.
constexpr int kGzipOnly = 15 + 16;
constexpr uInt kOutputBuffer = 32 * 1024;
// avail_in is 32 bits wide even where size_t is not.
constexpr std::size_t kLargestSlice = std::size_t(1) << 30;

}  // namespace

struct GzipInflater::Stream {
    z_stream z{};
    bool open = false;
    unsigned char out[kOutputBuffer];
};

GzipInflater::GzipInflater(std::uint64_t inputLimit, std::uint64_t outputLimit, Sink sink)
    : inputLimit_(inputLimit), outputLimit_(outputLimit), sink_(std::move(sink)) {
    Reset();
}

GzipInflater::~GzipInflater() {
    if (stream_ && stream_->open) {
        inflateEnd(&stream_->z);
    }
}

void GzipInflater::Reset() {
    consumed_ = 0;
    produced_ = 0;
    ended_ = false;
    status_ = GzipStatus::kOk;
    errorText_.clear();
    if (!stream_) {
        stream_.reset(new (std::nothrow) Stream);
        if (!stream_) {
            Fail(GzipStatus::kNoMemory, "no memory for the inflater");
            return;
        }
    }
    if (stream_->open) {
        if (inflateReset(&stream_->z) == Z_OK) {
            return;
        }
        inflateEnd(&stream_->z);
        stream_->open = false;
    }
    stream_->z = z_stream{};
    int rc = inflateInit2(&stream_->z, kGzipOnly);
    if (rc != Z_OK) {
        Fail(rc == Z_MEM_ERROR ? GzipStatus::kNoMemory : GzipStatus::kBadData,
             "inflateInit2 failed with " + std::to_string(rc));
        return;
    }
    stream_->open = true;
}

GzipStatus GzipInflater::Fail(GzipStatus status, const std::string& detail) {
    status_ = status;
    errorText_ = std::string(GzipStatusName(status)) + ": " + detail;
    return status;
}

namespace {

std::string TrailingDetail(const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    // Named apart because a second member is what a well-meant gzip tool
    // (concatenated files, gzip -c a b) would make.
    const bool secondMember = size >= 2 && data[0] == 0x1F && data[1] == 0x8B;
    return std::string(secondMember ? "a second gzip member" : "bytes") +
           " after the member's end at byte " + std::to_string(offset);
}

}  // namespace

GzipStatus GzipInflater::Feed(const void* data, std::size_t size) {
    if (status_ != GzipStatus::kOk || size == 0) {
        return status_;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (ended_) {
        return Fail(GzipStatus::kTrailingData, TrailingDetail(bytes, size, consumed_));
    }
    // consumed_ never passes inputLimit_, so this does not wrap.
    const std::uint64_t room = inputLimit_ - consumed_;
    const std::size_t take = size <= room ? size : static_cast<std::size_t>(room);
    if (take > 0 && Inflate(bytes, take) != GzipStatus::kOk) {
        return status_;
    }
    if (take < size) {
        if (ended_) {
            return Fail(GzipStatus::kTrailingData,
                        TrailingDetail(bytes + take, size - take, consumed_));
        }
        return Fail(GzipStatus::kInputLimit, "more than the " + std::to_string(inputLimit_) +
                                                 " bytes the gzip form may have");
    }
    return GzipStatus::kOk;
}

GzipStatus GzipInflater::Inflate(const std::uint8_t* data, std::size_t size) {
    z_stream& z = stream_->z;
    while (size > 0) {
        const std::size_t slice = size < kLargestSlice ? size : kLargestSlice;
        // zlib only reads through next_in; the pointer is not const in its API.
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = static_cast<uInt>(slice);
        for (;;) {
            // One byte more than the limit allows, so that passing the limit
            // shows in this call's output rather than after it was handed on.
            const std::uint64_t remaining = outputLimit_ - produced_;
            const uInt room =
                remaining < kOutputBuffer ? static_cast<uInt>(remaining) + 1 : kOutputBuffer;
            z.next_out = stream_->out;
            z.avail_out = room;
            const uInt before = z.avail_in;
            const int rc = inflate(&z, Z_NO_FLUSH);
            consumed_ += before - z.avail_in;
            const uInt got = room - z.avail_out;
            if (got > remaining) {
                const auto allowed = static_cast<std::size_t>(remaining);
                if (allowed > 0 && !sink_(stream_->out, allowed)) {
                    return Fail(GzipStatus::kSinkFailed,
                                "the output was refused at byte " + std::to_string(produced_));
                }
                produced_ += allowed;
                return Fail(GzipStatus::kOutputLimit,
                            "inflates to more than " + std::to_string(outputLimit_) + " bytes");
            }
            if (got > 0) {
                if (!sink_(stream_->out, got)) {
                    return Fail(GzipStatus::kSinkFailed,
                                "the output was refused at byte " + std::to_string(produced_));
                }
                produced_ += got;
            }
            if (rc == Z_STREAM_END) {
                ended_ = true;
                if (z.avail_in > 0 || slice < size) {
                    return Fail(GzipStatus::kTrailingData,
                                TrailingDetail(data + (slice - z.avail_in),
                                               size - (slice - z.avail_in), consumed_));
                }
                return GzipStatus::kOk;
            }
            if (rc == Z_OK || rc == Z_BUF_ERROR) {
                // Z_BUF_ERROR: no progress was possible, which with input
                // left would mean zlib is stuck; without, it wants more.
                if (z.avail_in == 0 && z.avail_out != 0) {
                    break;
                }
                if (rc == Z_BUF_ERROR && z.avail_in != 0) {
                    return Fail(GzipStatus::kBadData,
                                "zlib made no progress at byte " + std::to_string(consumed_));
                }
                continue;
            }
            if (rc == Z_MEM_ERROR) {
                return Fail(GzipStatus::kNoMemory, "zlib ran out of memory");
            }
            return Fail(GzipStatus::kBadData, std::string(z.msg ? z.msg : "zlib error") +
                                                  " at byte " + std::to_string(consumed_));
        }
        data += slice;
        size -= slice;
    }
    return GzipStatus::kOk;
}

GzipStatus GzipInflater::Finish() {
    if (status_ == GzipStatus::kOk && !ended_) {
        return Fail(GzipStatus::kTruncated, "the gzip form ends after " +
                                                std::to_string(consumed_) +
                                                " bytes, before its member's end");
    }
    return status_;
}

const char* GzipStatusName(GzipStatus status) {
    switch (status) {
    case GzipStatus::kOk:
        return "ok";
    case GzipStatus::kInputLimit:
        return "gzip form past its size";
    case GzipStatus::kOutputLimit:
        return "inflated past the file's size";
    case GzipStatus::kBadData:
        return "corrupt gzip data";
    case GzipStatus::kTrailingData:
        return "data after the gzip member";
    case GzipStatus::kTruncated:
        return "gzip form cut short";
    case GzipStatus::kSinkFailed:
        return "inflated bytes not written";
    case GzipStatus::kNoMemory:
        return "out of memory inflating";
    }
    return "unknown gzip status";
}

}  // namespace tovane
