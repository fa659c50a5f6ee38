// The updater's checks through CNG under Wine: manifests signed with the
// openssl command line, the tamper cases as a table, and files against
// their [Files] entries through one open handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "fixtures.h"
#include "trust/ecdsa_signature.h"
#include "trust/files_entry.h"
#include "trust/sha256_cng.h"
#include "trust/verify.h"
#include "tovane_update_keys.h"

namespace kelvo::test {
namespace {

namespace trust = tovane::trust;
using trust::ManifestCheck;
using Bytes = std::vector<std::uint8_t>;

std::string Hex(const trust::Sha256Digest& d) { return trust::ToHex(d.data(), d.size()); }

TEST(Sha256, KnownDigestsAndSha256sum) {
    trust::Sha256Digest d{};
    ASSERT_TRUE(trust::Sha256("abc", 3, d));
    EXPECT_EQ(Hex(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(trust::Sha256(nullptr, 0, d));
    EXPECT_EQ(Hex(d), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    Bytes big = ReadBytes(FixturePath("big.bin"));
    Bytes expected = ReadBytes(FixturePath("big.bin.sha256"));
    std::string want(expected.begin(), expected.begin() + 64);
    ASSERT_TRUE(trust::Sha256(big.data(), big.size(), d));
    EXPECT_EQ(Hex(d), want);

    unique_hfile file(::CreateFileA(FixturePath("big.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    // Start anywhere: the hash covers the file from its first byte.
    ::SetFilePointer(file.get(), 1000, nullptr, FILE_BEGIN);
    std::uint64_t size = 0;
    ASSERT_TRUE(trust::HashFile(file.get(), d, size));
    EXPECT_EQ(Hex(d), want);
    EXPECT_EQ(size, big.size());
}

TEST(CngSha256, SameDigestWhateverThePieces) {
    const std::string abc = "abc";
    const std::string million(1000000, 'a');
    struct {
        const std::string* text;
        std::vector<std::size_t> pieces;  // sizes fed in turn; the rest goes last
        const char* digest;
    } cases[] = {
        {&abc, {}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {&abc, {0, 1, 0, 1}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {&abc, {3}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {&million, {}, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {&million,
         {1, 63, 64, 65, 4096, 500000},
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        trust::CngSha256 hasher;
        ASSERT_GE(hasher.Start(), 0);
        std::size_t at = 0;
        for (std::size_t piece : c.pieces) {
            ASSERT_GE(hasher.Add(c.text->data() + at, piece), 0);
            at += piece;
        }
        ASSERT_GE(hasher.Add(c.text->data() + at, c.text->size() - at), 0);
        trust::Sha256Digest d{};
        ASSERT_GE(hasher.Finish(d), 0);
        EXPECT_EQ(Hex(d), c.digest) << c.text->size() << " bytes, " << c.pieces.size() << " pieces";
    }
}

TEST(CngSha256, NothingWithoutAStart) {
    trust::CngSha256 hasher;
    trust::Sha256Digest d{};
    EXPECT_LT(hasher.Add("abc", 3), 0);
    EXPECT_LT(hasher.Finish(d), 0);
}

class ManifestSignatures : public ::testing::Test {
protected:
    void SetUp() override {
        manifest_ = ReadBytes(FixturePath("Version.txt"));
        other_ = ReadBytes(FixturePath("Other.txt"));
        sigA_ = ReadBytes(FixturePath("Version.txt.sig-a"));
        sigB_ = ReadBytes(FixturePath("Version.txt.sig-b"));
        otherSigA_ = ReadBytes(FixturePath("Other.txt.sig-a"));
        keyA_ = ReadPublicKey(FixturePath("public-a.pem"));
        keyB_ = ReadPublicKey(FixturePath("public-b.pem"));
        offCurve_ = ReadPublicKey(FixturePath("public-off-curve.pem"));
    }
    Bytes manifest_, other_, sigA_, sigB_, otherSigA_;
    trust::PublicKey keyA_{}, keyB_{}, offCurve_{};
};

TEST_F(ManifestSignatures, OnlyAnUntouchedManifestWithAKnownKeysSignatureVerifies) {
    Bytes changed = manifest_;
    changed[changed.size() / 2] ^= 0x01;
    Bytes truncated(sigA_.begin(), sigA_.end() - 1);
    Bytes trailing = sigA_;
    trailing.push_back(0x00);
    Bytes flipped = sigA_;
    flipped.back() ^= 0x01;
    trust::RawSignature rs{};
    ASSERT_TRUE(trust::DecodeDerSignature(sigA_.data(), sigA_.size(), rs));
    Bytes raw(rs.begin(), rs.end());

    using Keys = std::vector<trust::PublicKey>;
    struct {
        const char* what;
        const Bytes& manifest;
        Bytes signature;
        Keys keys;
        ManifestCheck result;
    } cases[] = {
        {"signed with the one key", manifest_, sigA_, {keyA_}, ManifestCheck::kVerified},
        {"signed with the second of two keys",
         manifest_,
         sigB_,
         {keyA_, keyB_},
         ManifestCheck::kVerified},
        {"signed with the first of two keys",
         manifest_,
         sigA_,
         {keyA_, keyB_},
         ManifestCheck::kVerified},
        {"no key built in", manifest_, sigA_, {}, ManifestCheck::kNoKeyBuiltIn},
        {"one byte of the manifest changed",
         changed,
         sigA_,
         {keyA_},
         ManifestCheck::kSignatureMismatch},
        {"signature missing", manifest_, {}, {keyA_}, ManifestCheck::kSignatureMissing},
        {"signature truncated", manifest_, truncated, {keyA_}, ManifestCheck::kSignatureMalformed},
        {"trailing garbage", manifest_, trailing, {keyA_}, ManifestCheck::kSignatureMalformed},
        {"r||s without DER", manifest_, raw, {keyA_}, ManifestCheck::kSignatureMalformed},
        {"last byte of s changed", manifest_, flipped, {keyA_}, ManifestCheck::kSignatureMismatch},
        {"from another key", manifest_, sigB_, {keyA_}, ManifestCheck::kSignatureMismatch},
        {"over another file", manifest_, otherSigA_, {keyA_}, ManifestCheck::kSignatureMismatch},
        {"another file, its own signature, other key",
         other_,
         otherSigA_,
         {keyB_},
         ManifestCheck::kSignatureMismatch},
        // Wine's CNG imports a point off the curve: it must never verify, and
        // must not keep a good key after it from verifying.
        {"key off the curve", manifest_, sigA_, {offCurve_}, ManifestCheck::kSignatureMismatch},
        {"key off the curve, then the good key",
         manifest_,
         sigA_,
         {offCurve_, keyA_},
         ManifestCheck::kVerified},
    };
    for (const auto& c : cases) {
        long error = -1;
        ManifestCheck got =
            trust::VerifyManifest(c.manifest.data(), c.manifest.size(), c.signature.data(),
                                  c.signature.size(), c.keys, &error);
        EXPECT_EQ(got, c.result) << c.what << ": " << trust::ToString(got) << " (NTSTATUS 0x"
                                 << std::hex << error << ")";
    }
}

TEST(BuiltInKeys, AsTheBuildGeneratedThem) {
    EXPECT_EQ(trust::BuiltInKeys().size(), static_cast<std::size_t>(TOVANE_BUILT_IN_KEY_COUNT));
    EXPECT_EQ(trust::HasBuiltInKey(), TOVANE_BUILT_IN_KEY_COUNT > 0);
    if (!trust::HasBuiltInKey()) {
        EXPECT_EQ(trust::VerifyManifest("x", 1, "y", 1), ManifestCheck::kNoKeyBuiltIn);
    }
}

// A file in the temporary folder, opened as the installer opens it: read
// access, others may read but not write or delete it while it is checked
// and copied.
class DownloadedFile : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[MAX_PATH];
        ASSERT_GT(::GetTempPathA(MAX_PATH, dir), 0u);
        path_ = std::string(dir) + "kelvo-verify-test.bin";
        content_ = "MZ product bytes\r\n";
        for (int i = 0; i < 5000; ++i) content_ += static_cast<char>(i * 31);
        WriteBytes(path_, content_);
        trust::Sha256Digest d{};
        ASSERT_TRUE(trust::Sha256(content_.data(), content_.size(), d));
        entry_.size = content_.size();
        entry_.sha256 = d;
    }
    void TearDown() override { ::DeleteFileA(path_.c_str()); }
    unique_hfile Open() {
        return unique_hfile(::CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    std::string path_, content_;
    trust::FilesEntry entry_;
};

TEST_F(DownloadedFile, CheckedAgainstItsEntry) {
    trust::FilesEntry longer = entry_, otherHash = entry_;
    ++longer.size;
    otherHash.sha256[0] ^= 0x80;
    std::string good = trust::FormatFilesValue(entry_);
    std::string longerValue = trust::FormatFilesValue(longer);
    std::string otherHashValue = trust::FormatFilesValue(otherHash);
    std::string upper = good;
    upper[upper.size() - 1] = 'X';
    struct {
        const char* what;
        const char* value;
        bool required;
        trust::FileCheck result;
    } cases[] = {
        {"matching entry", good.c_str(), true, trust::FileCheck::kMatch},
        {"matching entry, no key", good.c_str(), false, trust::FileCheck::kMatch},
        {"other size", longerValue.c_str(), true, trust::FileCheck::kSizeMismatch},
        {"other hash", otherHashValue.c_str(), false, trust::FileCheck::kHashMismatch},
        {"malformed entry", upper.c_str(), false, trust::FileCheck::kEntryMalformed},
        {"empty entry", "", false, trust::FileCheck::kEntryMalformed},
        {"no entry, key built in", nullptr, true, trust::FileCheck::kNoEntry},
        {"no entry, no key", nullptr, false, trust::FileCheck::kNotRequired},
    };
    for (const auto& c : cases) {
        unique_hfile file = Open();
        ASSERT_TRUE(file);
        trust::FileCheck got = trust::CheckFile(file.get(), c.value, c.required);
        EXPECT_EQ(got, c.result) << c.what << ": " << trust::ToString(got);
    }
}

TEST_F(DownloadedFile, OneByteChangedIsAHashMismatch) {
    std::string good = trust::FormatFilesValue(entry_);
    std::string changed = content_;
    changed[changed.size() / 2] ^= 0x01;
    WriteBytes(path_, changed);
    unique_hfile file = Open();
    ASSERT_TRUE(file);
    EXPECT_EQ(trust::CheckFile(file.get(), good.c_str(), true), trust::FileCheck::kHashMismatch);
}

TEST_F(DownloadedFile, TheCheckedHandleIsTheOneToCopyFrom) {
    std::string good = trust::FormatFilesValue(entry_);
    unique_hfile file = Open();
    ASSERT_TRUE(file);
    ASSERT_EQ(trust::CheckFile(file.get(), good.c_str(), true), trust::FileCheck::kMatch);
    // Nobody can write the file while the checked handle is open ...
    HANDLE writer = ::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = ::GetLastError();
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    // ... and after a rewind the same handle gives exactly the checked bytes.
    LARGE_INTEGER zero{};
    ASSERT_TRUE(::SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN));
    std::string copy(content_.size() + 16, '\0');
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(file.get(), &copy[0], static_cast<DWORD>(copy.size()), &got, nullptr));
    copy.resize(got);
    EXPECT_EQ(copy, content_);
}

}  // namespace
}  // namespace kelvo::test
