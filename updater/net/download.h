// One HTTP GET streamed into one local file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "failure.h"
#include "transfer_steps.h"

namespace tovane::net {
class TransferCancel;
}

namespace tovane {

// Receives the progress-bar calls of one transfer; the update dialog turns
// them into calls on its progress bar.
class DownloadProgress {
public:
    virtual ~DownloadProgress() = default;
    virtual void Show() = 0;
    virtual void SetRange(std::int16_t lower, std::int16_t upper) = 0;
    virtual void SetPos(int pos) = 0;
    // Once a second from the transfer's watchdog, on a thread of its own,
    // while the transfer may be blocked waiting for the network: a position
    // held back to save messages is due now, or the bar would stand still
    // through a stall. An implementation that holds positions back must take
    // this call alongside the others.
    virtual void Idle() {}
};

// Takes a transfer's body as it arrives, beside the file it is written to:
// the gzip form of an update file is inflated on the way. Restart comes
// whenever the body starts (again) from its first byte, Take with each
// piece in order after it. False from either ends the transfer for good,
// with the reason in *why.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool Restart(std::string* why) = 0;
    virtual bool Take(const char* data, std::size_t size, std::string* why) = 0;
};

// True when the whole body of one version was written to localPath (from one
// 200 answer, or from it and parts of the same version). The file is created only once the status
// is known, so a failed request leaves an older file at the path untouched. A transfer that breaks
// off is taken up again from where it stopped, as long as the server vouches that the rest belongs
// to the same version; otherwise it starts over. Every failure is logged (diag/log.h). showBar: the
// update job shows the bar; the check job only sets it. cancel may be null; a cancelled transfer
// ends with false, also while it waits to try again. why, when given, gets the reason of a
// failure: the last failing call, the HTTP status, or a note. bounds: what the transfer may
// take (transfer_steps.h); a body past its size is stopped at once and never fetched again.
// sink, when given, gets the body too.
bool DownloadFile(const char* url, const char* localPath, DownloadProgress& progress, bool showBar,
                  net::TransferCancel* cancel, const RetryPolicy& policy = RetryPolicy(),
                  Failure* why = nullptr, const TransferBounds& bounds = TransferBounds(),
                  BodySink* sink = nullptr);

}  // namespace tovane
