// Incremental SHA-256 through CNG (bcrypt.dll), for the updater's checks and
// the publishing tool alike.
#pragma once

#include <cstddef>

#include "cng.h"
#include "files_entry.h"

namespace tovane::trust {

class CngSha256 {
public:
    // Add and Finish fail unless this succeeded.
    NTSTATUS Start();
    // Any size: BCryptHashData counts in ULONG, so a larger input goes in pieces.
    NTSTATUS Add(const void* data, std::size_t size);
    NTSTATUS Finish(Sha256Digest& digest);

private:
    unique_cng_algorithm alg_;
    unique_cng_hash hash_;
};

}  // namespace tovane::trust
