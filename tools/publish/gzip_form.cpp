#include "gzip_form.h"

#include <zlib.h>

#include <new>

namespace kelvo::publish {

namespace {

constexpr int kGzipWrapper = 15 + 16;
constexpr int kDefaultMemLevel = 8;
// RFC 1952's "unknown": zlib would write the system it was built for, and
// the Windows and Linux builds of the tool must write the same bytes.
constexpr int kUnknownSystem = 255;
// avail_in is 32 bits wide even where size_t is not.
constexpr std::size_t kLargestSlice = std::size_t(1) << 30;

}  // namespace

struct GzipForm::Stream {
    z_stream z{};
    // deflateSetHeader keeps a pointer to it until the header is written.
    gz_header header{};
    bool open = false;
    unsigned char out[64 * 1024];
};

GzipForm::GzipForm() : stream_(new (std::nothrow) Stream) {
    if (!stream_) {
        return;
    }
    if (deflateInit2(&stream_->z, 9, Z_DEFLATED, kGzipWrapper, kDefaultMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return;
    }
    stream_->open = true;
    // No name, no comment, no extra field, time 0.
    stream_->header.os = kUnknownSystem;
    if (deflateSetHeader(&stream_->z, &stream_->header) != Z_OK) {
        deflateEnd(&stream_->z);
        stream_->open = false;
    }
}

GzipForm::~GzipForm() {
    if (stream_ && stream_->open) {
        deflateEnd(&stream_->z);
    }
}

bool GzipForm::Deflate(int flush, std::string& out, std::string& why) {
    z_stream& z = stream_->z;
    for (;;) {
        z.next_out = stream_->out;
        z.avail_out = sizeof stream_->out;
        const int rc = deflate(&z, flush);
        out.append(reinterpret_cast<const char*>(stream_->out), sizeof stream_->out - z.avail_out);
        if (rc == Z_STREAM_END) {
            return true;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            why = std::string("gzip: deflate failed: ") + (z.msg ? z.msg : std::to_string(rc));
            return false;
        }
        // Without Z_FINISH, zlib has taken all input once it leaves output
        // room unused.
        if (flush != Z_FINISH && z.avail_in == 0 && z.avail_out != 0) {
            return true;
        }
    }
}

bool GzipForm::Add(const void* data, std::size_t size, std::string& out, std::string& why) {
    if (!stream_ || !stream_->open) {
        why = "gzip: no memory for zlib";
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const std::size_t slice = size < kLargestSlice ? size : kLargestSlice;
        // zlib only reads through next_in; the pointer is not const in its API.
        stream_->z.next_in = const_cast<Bytef*>(bytes);
        stream_->z.avail_in = static_cast<uInt>(slice);
        if (!Deflate(Z_NO_FLUSH, out, why)) {
            return false;
        }
        bytes += slice;
        size -= slice;
    }
    return true;
}

bool GzipForm::Finish(std::string& out, std::string& why) {
    if (!stream_ || !stream_->open) {
        why = "gzip: no memory for zlib";
        return false;
    }
    stream_->z.next_in = nullptr;
    stream_->z.avail_in = 0;
    return Deflate(Z_FINISH, out, why);
}

bool GzipFormWorthPublishing(std::uint64_t fileSize, std::uint64_t gzipSize) {
    // floor(fileSize * 9 / 10) without the product overflowing.
    const std::uint64_t ninetyPercent = fileSize / 10 * 9 + fileSize % 10 * 9 / 10;
    return gzipSize <= ninetyPercent;
}

}  // namespace kelvo::publish
