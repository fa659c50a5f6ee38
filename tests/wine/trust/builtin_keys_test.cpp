// The checks compiled with two keys built in the way the updater gets them
// (cmake/UpdateKeys.cmake from PEM files): a manifest signed by either key
// verifies through the built-in list, any other signer does not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures.h"
#include "trust/verify.h"

namespace kelvo::test {
namespace {

namespace trust = tovane::trust;
using trust::ManifestCheck;

std::string KeyPath(const char* name) {
    const char* dir = std::getenv("KELVO_BUILTIN_KEYS");
    EXPECT_NE(dir, nullptr) << "KELVO_BUILTIN_KEYS is not set";
    return WindowsPath(std::string(dir ? dir : "") + "/" + name);
}

TEST(BuiltInKeys, BothKeysOfTheBuildInOrder) {
    ASSERT_TRUE(trust::HasBuiltInKey());
    ASSERT_EQ(trust::BuiltInKeys().size(), 2u);
    EXPECT_EQ(trust::BuiltInKeys()[0], ReadPublicKey(KeyPath("first.pub.pem")));
    EXPECT_EQ(trust::BuiltInKeys()[1], ReadPublicKey(KeyPath("second.pub.pem")));
}

TEST(BuiltInKeys, EitherKeyVerifiesNoOtherDoes) {
    std::vector<std::uint8_t> manifest = ReadBytes(FixturePath("Version.txt"));
    std::vector<std::uint8_t> changed = manifest;
    changed[0] ^= 0x20;
    struct {
        const char* what;
        const std::vector<std::uint8_t>& manifest;
        std::string signature;
        ManifestCheck result;
    } cases[] = {
        {"signed with the first key", manifest, "Version.txt.sig-first", ManifestCheck::kVerified},
        {"signed with the second key", manifest, "Version.txt.sig-second",
         ManifestCheck::kVerified},
        {"signed with a key not built in", manifest, "Version.txt.sig-a",
         ManifestCheck::kSignatureMismatch},
        {"manifest changed after signing", changed, "Version.txt.sig-second",
         ManifestCheck::kSignatureMismatch},
        {"no signature", manifest, "", ManifestCheck::kSignatureMissing},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> sig;
        if (!c.signature.empty()) {
            sig = ReadBytes(FixturePath(c.signature));
        }
        ManifestCheck got =
            trust::VerifyManifest(c.manifest.data(), c.manifest.size(), sig.data(), sig.size());
        EXPECT_EQ(got, c.result) << c.what << ": " << trust::ToString(got);
    }
}

}  // namespace
}  // namespace kelvo::test
