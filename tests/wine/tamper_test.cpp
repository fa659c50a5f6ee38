// The updater with two keys built in (TovaneKeyed.exe) against update
// folders signed with the openssl command line, one thing wrong in each:
// nothing is installed, the running product is left alone, and the user is
// told why. The same update signed correctly, by either key, installs.
#include "tovane_fixture.h"

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace kelvo::test {
namespace {

const char kUnverified[] = "The update information from the server could not be verified";

class TamperTest : public TovaneTest {
protected:
    void SetUp() override {
        TovaneTest::SetUp();
        updates_ = WinPath(Env("KELVO_TAMPER_UPDATES"));
        ASSERT_FALSE(updates_.empty()) << "KELVO_TAMPER_UPDATES not set (with-signed-updates.sh)";
        std::string productExe = WinPath(Env("KELVO_PRODUCT_EXE"));
        ASSERT_TRUE(ReadFile(productExe, productBytes_)) << productExe;
        productDir_ = FreshDir(CurrentTestFileName() + "-product");
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
        // The running product 1.0: the update goes to its folder.
        ASSERT_TRUE(WriteFile(productDir_ + "\\Kelvo.exe", productBytes_));
        ASSERT_TRUE(WriteFile(productDir_ + "\\Kelvo.dat", "Kelvo 1.0 sample data\r\n"));
        ASSERT_TRUE(WriteFile(productDir_ + "\\a.dll", "old a"));
        ASSERT_TRUE(WriteFile(productDir_ + "\\product.mode", "close"));
        std::string error;
        ASSERT_TRUE(product_.Start(productDir_ + "\\Kelvo.exe", productDir_, "", &error)) << error;
        ASSERT_NE(WaitForWindowOf(product_.Pid(), "Kelvo", 10000), nullptr);
    }

    void TearDown() override {
        EndRecordedStarts(productDir_);
        product_.Kill();
        TovaneTest::TearDown();
    }

    // Serves one of the folders with-signed-updates.sh made.
    void Serve(const std::string& name) {
        for (const char* file : {"Version.txt", "Version.txt.sig", "Kelvo.dat", "a.dll"}) {
            std::string content;
            if (ReadFile(updates_ + "\\" + name + "\\" + file, content)) {
                Publish(file, content);
            }
        }
        const std::string expires = ServedExpiry(name);
        if (!expires.empty()) {
            SYSTEMTIME now;
            ::GetSystemTime(&now);
            std::printf("  %s: Expires=%s, the clock says %04u-%02u-%02uT%02u:%02u:%02uZ\n",
                        name.c_str(), expires.c_str(), now.wYear, now.wMonth, now.wDay, now.wHour,
                        now.wMinute, now.wSecond);
        }
    }

    // Some expiry dates are made from the clock when the folders are: the
    // value as the folder's manifest has it, empty for none.
    std::string ServedExpiry(const std::string& name) {
        std::string manifest;
        if (!ReadFile(updates_ + "\\" + name + "\\Version.txt", manifest)) {
            return "";
        }
        const std::string key = "\r\nExpires=";
        const std::size_t at = manifest.find(key);
        if (at == std::string::npos) {
            return "";
        }
        const std::size_t start = at + key.size();
        return manifest.substr(start, manifest.find("\r\n", start) - start);
    }

    int Requests(const std::string& name) {
        int count = 0;
        for (const std::string& path : RequestedPaths()) {
            count += path == UpdatePath(name);
        }
        return count;
    }

    std::string FileText(const std::string& path) {
        std::string content;
        return ReadFile(path, content) ? content : std::string("<missing>");
    }

    // Nothing of the update arrived in either folder and the product runs on.
    void ExpectUntouched() {
        EXPECT_EQ(FileText(productDir_ + "\\Kelvo.dat"), "Kelvo 1.0 sample data\r\n");
        EXPECT_EQ(FileText(productDir_ + "\\a.dll"), "old a");
        EXPECT_TRUE(FileText(productDir_ + "\\Kelvo.exe") == productBytes_)
            << "Kelvo.exe was replaced";
        EXPECT_FALSE(FileExists(programDir_ + "\\Kelvo.dat"));
        EXPECT_FALSE(FileExists(programDir_ + "\\a.dll"));
        EXPECT_FALSE(FileExists(programDir_ + "\\Tovane.journal"));
        EXPECT_TRUE(product_.Running()) << "the product was stopped";
        EXPECT_EQ(RecordedStarts(productDir_).size(), 1u);
        EXPECT_EQ(FileText(programDir_ + "\\Version.ini"), "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    }

    std::string updates_;
    std::string productBytes_;
    std::string productDir_;
    Child product_;
};

struct SignedRow {
    const char* name;
    const char* folder;
};

void PrintTo(const SignedRow& row, std::ostream* os) { *os << row.folder; }

class SignedUpdateTest : public TamperTest, public ::testing::WithParamInterface<SignedRow> {};

TEST_P(SignedUpdateTest, InstallsWhenSignedByABuiltInKey) {
    Serve(GetParam().folder);
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Kelvo 1.1\r\n- signed");
    Click(dialog, IDC_UPDATE);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 30000, &box, dialog))
        << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(box.text, "Update success");
    std::string served;
    ASSERT_TRUE(ReadFile(updates_ + "\\" + GetParam().folder + "\\a.dll", served));
    EXPECT_TRUE(FileText(productDir_ + "\\a.dll") == served) << "a.dll is not the new file";
    EXPECT_EQ(FileText(productDir_ + "\\Kelvo.dat"), "Kelvo 1.1 sample data\r\n");
    EXPECT_TRUE(WaitUntil([&] { return RecordedStarts(productDir_).size() == 2; }, 15000))
        << "the product was not started again";
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(tovane_.WaitExit(15000)) << "the updater did not end after success";
    std::string version = FileText(productDir_ + "\\Version.ini");
    EXPECT_NE(version.find("SubVer=1"), std::string::npos) << version;
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini.sig")) << "the signature is not left behind";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.verified.ini"));
}

INSTANTIATE_TEST_SUITE_P(Keys, SignedUpdateTest,
                         ::testing::Values(SignedRow{"First", "signed-first"},
                                           SignedRow{"Second", "signed-second"},
                                           SignedRow{"Utf8Manifest", "signed-utf8"},
                                           SignedRow{"ExpiresInAnHour", "expires-in-an-hour"},
                                           SignedRow{"ExpiresFarAhead", "expires-far-ahead"}),
                         [](const ::testing::TestParamInfo<SignedRow>& info) {
                             return std::string(info.param.name);
                         });

struct TamperRow {
    const char* name;
    const char* folder;
    // Refused when the manifest is checked (no offer), else when the
    // downloads are (after "Update" is pressed).
    bool refusedAtCheck;
    // What the user reads in the status box and, for a file, the message box;
    // {Expires} stands for the folder's expiry date.
    const char* expected;
};

void PrintTo(const TamperRow& row, std::ostream* os) { *os << row.name; }

class TamperRowTest : public TamperTest, public ::testing::WithParamInterface<TamperRow> {};

TEST_P(TamperRowTest, InstallsNothingAndSaysWhy) {
    const TamperRow& row = GetParam();
    Serve(row.folder);
    std::string expected = row.expected;
    const std::size_t placeholder = expected.find("{Expires}");
    if (placeholder != std::string::npos) {
        const std::string expires = ServedExpiry(row.folder);
        ASSERT_FALSE(expires.empty()) << row.folder << " has no expiry date";
        expected.replace(placeholder, 9, expires);
    }
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    if (row.refusedAtCheck) {
        std::string status = WaitForDecision(dialog);
        EXPECT_EQ(status, expected);
        Shot(dialog, std::string("tamper_") + row.name);
        ::Sleep(500);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << "an update was offered";
        EXPECT_EQ(RequestedPaths(),
                  (std::vector<std::string>{"/UploadFile/Product_Soft/Kelvo/Version.txt",
                                            "/UploadFile/Product_Soft/Kelvo/Version.txt.sig"}))
            << "nothing but the manifest and its signature is fetched";
        EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
        EXPECT_FALSE(FileExists(tempDir_ + "Version.ini.sig"));
        EXPECT_FALSE(FileExists(tempDir_ + "Version.verified.ini"));
    } else {
        ASSERT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        Click(dialog, IDC_UPDATE);
        MessageBoxSeen box;
        ASSERT_TRUE(WaitForMessageBox(tovane_.Pid(), "Update", 30000, &box, dialog))
            << ItemText(dialog, IDC_STATUS);
        EXPECT_EQ(box.text, expected);
        EXPECT_EQ(ItemText(dialog, IDC_STATUS), expected);
        Shot(box.hwnd, std::string("tamper_") + row.name);
        AnswerMessageBox(box, IDOK);
        // A file refused, for its bytes or while it arrives, is not fetched
        // again: a server that sends the wrong thing gets no second chance.
        for (const char* file : {"Kelvo.dat", "a.dll"}) {
            EXPECT_EQ(Requests(file), 1) << file;
        }
    }
    ExpectUntouched();
}

std::string Unverified(const char* reason) {
    return std::string(kUnverified) + " (" + reason + "). No update is offered.";
}

std::string FileRefused(const char* name, const char* reason) {
    return std::string("The update file \"") + name + "\" does not match the update information (" +
           reason + "). Nothing was changed; please try the update again later.";
}

std::string NotDownloaded(const char* name) {
    return std::string("The update file \"") + name +
           "\" could not be downloaded completely. Nothing was changed; please try the update "
           "again later.";
}

std::string Expired(const char* date) {
    return std::string("The update information from the server expired on ") + date +
           " (UTC) and was not renewed. No update is offered; the vendor publishes it again with "
           "a new date.";
}

std::string UnreadableExpiry(const char* date) {
    return Unverified((std::string("its expiry date \"") + date + "\" cannot be read").c_str());
}

// Kept alive for the rows' pointers.
const std::string kTexts[] = {
    Unverified("signature does not verify"),    // 0
    Unverified("signature missing"),            // 1
    Unverified("signature malformed"),          // 2
    FileRefused("Kelvo.dat", "hash mismatch"),  // 3
    NotDownloaded("a.dll"),                     // 4
    FileRefused("a.dll", "no entry"),           // 5
    FileRefused("a.dll", "size mismatch"),      // 6
    Expired("2001-02-03T04:05:06Z"),            // 7
    Expired("{Expires}"),                       // 8
    UnreadableExpiry("2099-12-31 23:59:59"),    // 9
    UnreadableExpiry("2099-02-29T12:00:00Z"),   // 10
};

INSTANTIATE_TEST_SUITE_P(
    Server, TamperRowTest,
    ::testing::Values(
        TamperRow{"ManifestByteChanged", "manifest-byte-changed", true, kTexts[0].c_str()},
        TamperRow{"SignatureMissing", "signature-missing", true, kTexts[1].c_str()},
        TamperRow{"SignatureEmpty", "signature-empty", true, kTexts[1].c_str()},
        TamperRow{"SignatureTruncated", "signature-truncated", true, kTexts[2].c_str()},
        TamperRow{"SignatureTrailingGarbage", "signature-trailing-garbage", true,
                  kTexts[2].c_str()},
        TamperRow{"SignatureFromAnotherKey", "signature-other-key", true, kTexts[0].c_str()},
        TamperRow{"SignatureOverAnotherFile", "signature-over-other-file", true, kTexts[0].c_str()},
        TamperRow{"ServedFileByteChanged", "file-byte-changed", false, kTexts[3].c_str()},
        // One byte past its signed size: the transfer stops there.
        TamperRow{"ServedFileOfAnotherSize", "file-other-size", false, kTexts[4].c_str()},
        // Complete as the server sends it, and a byte short of what was signed.
        TamperRow{"ServedFileShorterThanSigned", "file-shorter", false, kTexts[6].c_str()},
        TamperRow{"ListedFileWithoutEntry", "file-without-entry", false, kTexts[5].c_str()},
        TamperRow{"OldUnsignedServer", "unsigned-server", true, kTexts[1].c_str()},
        // A signed manifest past its date: replayed, or not renewed in time.
        TamperRow{"ExpiredLongAgo", "expired-long-ago", true, kTexts[7].c_str()},
        TamperRow{"ExpiredAnHourAgo", "expired-an-hour-ago", true, kTexts[8].c_str()},
        TamperRow{"ExpiryWrittenAsLocalTime", "expires-local-style", true, kTexts[9].c_str()},
        TamperRow{"ExpiryOnADayThatDoesNotExist", "expires-no-such-day", true, kTexts[10].c_str()}),
    [](const ::testing::TestParamInfo<TamperRow>& info) { return std::string(info.param.name); });

// A signature that never ends: the check stops it after a few kilobytes, by
// itself, and says the server failed and how (a signature the server says is
// not there is "missing", a row above). The server stops on its own
// after 1 GiB more, far past any bound, so that a lost bound fails the row
// instead of filling the disk.
struct EndlessSignatureRow {
    const char* name;
    const char* fault;   // Version.txt.sig's sidecar
    const char* reason;  // what the status says after "could not be reached: "
};

void PrintTo(const EndlessSignatureRow& row, std::ostream* os) { *os << row.name; }

// What the loopback connection's socket buffers hold: the server counts it
// as sent though the updater never read it.
constexpr std::uint64_t kBufferSlack = std::uint64_t(8) << 20;
constexpr DWORD kCheckEndsWithinMs = 60000;

class EndlessSignatureTest : public TamperTest,
                             public ::testing::WithParamInterface<EndlessSignatureRow> {};

TEST_P(EndlessSignatureTest, IsCutShortAndNamedAsTheServersFailure) {
    const EndlessSignatureRow& row = GetParam();
    Serve("signed-first");
    PublishFault("Version.txt.sig", row.fault);
    const DWORD started = ::GetTickCount();
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    const std::string status = WaitForDecision(dialog, kCheckEndsWithinMs);
    const DWORD took = ::GetTickCount() - started;
    const std::string unreachable = "The update server could not be reached: ";
    EXPECT_EQ(status.rfind(unreachable + row.reason, 0), 0u) << status;
    EXPECT_NE(status.find("Version.txt.sig\". No update is offered."), std::string::npos) << status;
    EXPECT_LE(took, kCheckEndsWithinMs) << "the check did not end by itself";
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << "an update was offered";
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(tovane_.WaitExit(10000));
    const std::uint64_t served = ServedBytes("Version.txt.sig");
    EXPECT_GT(served, 0u) << "the server logged no answer";
    EXPECT_LE(served, kBufferSlack) << "bytes of the signature the server sent";
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{UpdatePath("Version.txt"), UpdatePath("Version.txt.sig")}))
        << "a signature stopped for its size is not asked for again, and nothing else is";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini.sig")) << "the cut signature is left behind";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
    std::printf("  %s: \"%s\" after %lu ms, %llu signature bytes served\n", row.name,
                status.c_str(), static_cast<unsigned long>(took),
                static_cast<unsigned long long>(served));
    ExpectUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Server, EndlessSignatureTest,
    ::testing::Values(
        EndlessSignatureRow{"EndlessChunked", R"({"endless": 1073741824, "chunked": true})",
                            "more than the 4096 bytes allowed arrived"},
        // Announced as 10 GiB: refused from the headers.
        EndlessSignatureRow{"EndlessUnderALength",
                            R"({"endless": 1073741824, "length": "10737418240"})",
                            "the server announced 10737418240 bytes, more than the 4096 allowed"},
        // No length and no chunks: the body ends when the connection does.
        EndlessSignatureRow{"EndlessWithoutALength",
                            R"({"endless": 1073741824, "no_length": true})",
                            "more than the 4096 bytes allowed arrived"}),
    [](const ::testing::TestParamInfo<EndlessSignatureRow>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace kelvo::test
