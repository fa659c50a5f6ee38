// The gzip form of a published file, served beside it as `<name>.gz` for
// updaters that read [Compressed]: zlib at level 9, one member, and a header
// without name or time, so that the same file gives the same bytes on every
// run and from both builds of the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelvo::publish {

class GzipForm {
public:
    GzipForm();
    ~GzipForm();
    GzipForm(const GzipForm&) = delete;
    GzipForm& operator=(const GzipForm&) = delete;

    // Compresses the next bytes of the file, appending what zlib hands out to
    // `out`; false with the reason when zlib fails.
    bool Add(const void* data, std::size_t size, std::string& out, std::string& why);
    // After the last byte: the rest of the member, its CRC-32 and length.
    bool Finish(std::string& out, std::string& why);

private:
    struct Stream;
    bool Deflate(int flush, std::string& out, std::string& why);

    std::unique_ptr<Stream> stream_;
};

// Whether a gzip form earns its place: it saves at least a tenth of the
// file (gzipSize <= 90 % of fileSize). Below that, the second download path
// and file on the server cost more than the bytes saved.
bool GzipFormWorthPublishing(std::uint64_t fileSize, std::uint64_t gzipSize);

}  // namespace kelvo::publish
