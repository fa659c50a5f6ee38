// The public keys Tovane.exe trusts, from the header cmake/UpdateKeys.cmake
// generates. Compiled into the executable, not the trust library, so that a
// test variant of the updater links other keys by compiling only this file
// against another generated header. Everything that reads the built-in
// list lives here, so tools that only hash or verify against keys they are
// given link no keys at all.
#include "tovane_update_keys.h"
#include "verify.h"

namespace tovane::trust {

const std::vector<PublicKey>& BuiltInKeys() {
    static const std::vector<PublicKey> keys = {TOVANE_BUILT_IN_KEYS};
    return keys;
}

bool HasBuiltInKey() { return !BuiltInKeys().empty(); }

ManifestCheck VerifyManifest(const void* manifest, std::size_t manifestSize, const void* signature,
                             std::size_t signatureSize, long* error) {
    return VerifyManifest(manifest, manifestSize, signature, signatureSize, BuiltInKeys(), error);
}

}  // namespace tovane::trust
