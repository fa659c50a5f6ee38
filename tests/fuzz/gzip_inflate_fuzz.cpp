// libFuzzer target: the streaming gzip inflater against zlib's own one-call
// inflate of the same bytes. The outcome (accepted, or which error) follows
// from that call, an accepted file is exactly its output, a refused one has
// had at most a start of it, never a byte past the output limit, and feeding
// the bytes whole, in pieces or byte by byte changes none of it.
//
// Input: five bytes of settings, then a payload that is taken as the gzip
// form itself or, to reach the accepting paths often, compressed first and
// then possibly damaged or extended.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "gzip_inflate.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::string Gzip(const std::string& data, int level) {
    z_stream z{};
    Check(deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string out(deflateBound(&z, data.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    Check(deflate(&z, Z_FINISH) == Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Outcome {
    tovane::GzipStatus status = tovane::GzipStatus::kOk;
    std::string output;
};

// What the inflater must make of `gz`, from one inflate call over the bytes
// within the input limit with room for one byte past the output limit.
Outcome Expected(const std::string& gz, std::uint64_t inputLimit, std::uint64_t outputLimit) {
    using tovane::GzipStatus;
    const std::size_t fed =
        gz.size() < inputLimit ? gz.size() : static_cast<std::size_t>(inputLimit);
    z_stream z{};
    Check(inflateInit2(&z, 15 + 16) == Z_OK);
    Outcome expected;
    expected.output.assign(static_cast<std::size_t>(outputLimit) + 1, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    z.avail_in = static_cast<uInt>(fed);
    z.next_out = reinterpret_cast<Bytef*>(&expected.output[0]);
    z.avail_out = static_cast<uInt>(expected.output.size());
    const int rc = inflate(&z, Z_NO_FLUSH);
    expected.output.resize(z.total_out);
    if (expected.output.size() > outputLimit) {
        expected.status = GzipStatus::kOutputLimit;
    } else if (rc == Z_STREAM_END) {
        expected.status =
            z.avail_in > 0 || fed < gz.size() ? GzipStatus::kTrailingData : GzipStatus::kOk;
    } else if (rc == Z_OK || rc == Z_BUF_ERROR) {
        expected.status = fed < gz.size() ? GzipStatus::kInputLimit : GzipStatus::kTruncated;
    } else {
        Check(rc == Z_DATA_ERROR);
        expected.status = GzipStatus::kBadData;
    }
    inflateEnd(&z);
    return expected;
}

// Feeds `gz` in pieces of `chunk` bytes (0: whole), then Finish.
Outcome Run(const std::string& gz, std::uint64_t inputLimit, std::uint64_t outputLimit,
            std::size_t chunk) {
    Outcome run;
    tovane::GzipInflater inflater(inputLimit, outputLimit,
                                  [&](const std::uint8_t* data, std::size_t size) {
                                      run.output.append(reinterpret_cast<const char*>(data), size);
                                      Check(run.output.size() <= outputLimit);
                                      return true;
                                  });
    const std::size_t step = chunk == 0 ? gz.size() : chunk;
    tovane::GzipStatus fed = tovane::GzipStatus::kOk;
    for (std::size_t at = 0; at < gz.size() && fed == tovane::GzipStatus::kOk; at += step) {
        fed = inflater.Feed(gz.data() + at, gz.size() - at < step ? gz.size() - at : step);
        Check(inflater.consumed() <= inputLimit);
        Check(inflater.produced() == run.output.size());
    }
    run.status = inflater.Finish();
    // Only Finish can tell that the member has not ended.
    Check(fed == run.status ||
          (fed == tovane::GzipStatus::kOk && run.status == tovane::GzipStatus::kTruncated));
    Check(inflater.errorText().empty() == (run.status == tovane::GzipStatus::kOk));
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const std::uint8_t outputSetting = data[1];
    const std::uint8_t inputSetting = data[2];
    const std::size_t chunk = std::size_t(data[3]) + 1;
    const std::uint8_t damage = data[4];
    std::string gz(reinterpret_cast<const char*>(data + 5), size - 5);
    std::uint64_t plainSize = 0;
    if (mode & 1) {
        plainSize = gz.size();
        gz = Gzip(gz, (mode >> 4) % 10);
        if ((mode & 2) && !gz.empty()) {
            gz[(damage * 7919u) % gz.size()] ^= static_cast<char>(damage | 1);
        }
        if (mode & 4) {
            gz += (mode & 8) ? gz : std::string(1, static_cast<char>(damage));
        }
    }
    // Around the size the file should have, or anything up to 64 KiB.
    const std::uint64_t outputLimit = (outputSetting & 0x80)
                                          ? std::uint64_t(outputSetting & 0x7F) << 9
                                          : plainSize + (outputSetting % 3) - (plainSize > 0);
    // Around the size of the gzip form, or as good as none.
    const std::uint64_t inputLimit =
        (inputSetting & 0x80) ? UINT64_MAX
                              : gz.size() + (inputSetting % 5) - (gz.size() >= 2 ? 2 : 0);

    const Outcome expected = Expected(gz, inputLimit, outputLimit);
    for (std::size_t pieces : {std::size_t(0), chunk, std::size_t(1)}) {
        const Outcome run = Run(gz, inputLimit, outputLimit, pieces);
        Check(run.status == expected.status);
        Check(expected.output.compare(0, run.output.size(), run.output) == 0);
        if (run.status == tovane::GzipStatus::kOk) {
            Check(run.output == expected.output);
        }
        if (run.status == tovane::GzipStatus::kOutputLimit) {
            Check(run.output.size() == outputLimit);
        }
    }
    return 0;
}
