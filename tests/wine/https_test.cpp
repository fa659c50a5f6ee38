// DownloadFile over https against local TLS servers (with-tls-server.sh): a
// certificate of the test CA, which the test trusts in this prefix only; one
// of a CA nobody trusts; one for another name; and redirects, to https and to
// plain http.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "net/download.h"
#include "diag/log.h"
#include "support/driver.h"
#include "support/null_progress.h"
#include "support/test_ca.h"

namespace kelvo::test {
namespace {

const char kBody[] = "Kelvo over TLS\r\n";

class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(TrustTestCa(&error)) << error;
    }

    void SetUp() override {
        root_ = WinPath(Env("KELVO_TLS_ROOT"));
        ASSERT_FALSE(root_.empty());
        ASSERT_TRUE(WriteFile(root_ + "\\file.bin", kBody));
        local_ = FreshDir(CurrentTestFileName()) + "\\file.bin";
        quick_.firstDelayMs = 10;
        quick_.maxDelayMs = 20;
        // Each case reads what it alone logged.
        char log[MAX_PATH + 1] = {};
        if (tovane::diag::LogPath(log)) {
            ::DeleteFileA(log);
        }
    }

    static std::string Url(const char* portVariable, const std::string& path,
                           const char* host = "localhost") {
        return std::string("https://") + host + ":" + Env(portVariable) + "/" + path;
    }

    int Download(const std::string& url) {
        NullProgress progress;
        return tovane::DownloadFile(url.c_str(), local_.c_str(), progress, false, nullptr, quick_);
    }

    static std::string LogText() {
        char path[MAX_PATH + 1] = {};
        std::string text;
        if (tovane::diag::LogPath(path)) {
            ReadFile(path, text);
        }
        return text;
    }

    // Requests the plain-http port saw (the server logs each one).
    static std::size_t PlainRequests() {
        std::string log;
        ReadFile(WinPath(Env("KELVO_TLS_ROOT")) + "\\..\\server.log", log);
        return Occurrences(log, "plain ");
    }

    std::string root_;
    std::string local_;
    tovane::RetryPolicy quick_;
};

TEST_F(HttpsTest, TrustedCertificateDownloads) {
    EXPECT_EQ(Download(Url("KELVO_TLS_PORT_GOOD", "file.bin")), 1);
    std::string content;
    EXPECT_TRUE(ReadFile(local_, content));
    EXPECT_EQ(content, kBody);
}

TEST_F(HttpsTest, RedirectToHttpsIsFollowed) {
    std::string to = "redirect/https/" + Env("KELVO_TLS_PORT_GOOD") + "/file.bin";
    EXPECT_EQ(Download(Url("KELVO_TLS_PORT_GOOD", to)), 1);
    std::string content;
    EXPECT_TRUE(ReadFile(local_, content));
    EXPECT_EQ(content, kBody);
}

struct Refusal {
    const char* name;
    const char* portVariable;
    const char* host;
    const char* path;      // "%plain%" stands for the plain port
    const char* logged;    // what the log must name
    const char* orLogged;  // or this instead, when not null
};

class HttpsRefusalTest : public HttpsTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(HttpsRefusalTest, FailsAtOnceWithoutAFile) {
    const Refusal& r = GetParam();
    std::string path = r.path;
    std::size_t at = path.find("%plain%");
    if (at != std::string::npos) {
        path.replace(at, 7, Env("KELVO_TLS_PORT_PLAIN"));
    }
    const std::size_t plainBefore = PlainRequests();
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(Download(Url(r.portVariable, path, r.host)), 0);
    // A certificate that is wrong now is wrong on every try: no back-off.
    EXPECT_LT(::GetTickCount() - started, 5000u);
    EXPECT_FALSE(FileExists(local_)) << "a file was written from an untrusted answer";
    EXPECT_EQ(PlainRequests(), plainBefore) << "a request went out over plain http";
    const std::string log = LogText();
    EXPECT_TRUE(log.find(r.logged) != std::string::npos ||
                (r.orLogged != nullptr && log.find(r.orLogged) != std::string::npos))
        << log;
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, HttpsRefusalTest,
    ::testing::Values(
        // ERROR_INTERNET_INVALID_CA; Wine 8 may report the unknown chain as
        // ERROR_INTERNET_SEC_CERT_REV_FAILED instead.
        Refusal{"UntrustedCa", "KELVO_TLS_PORT_UNTRUSTED", "localhost", "file.bin", "error 12045",
                "error 12057"},
        // ERROR_INTERNET_SEC_CERT_CN_INVALID
        Refusal{"WrongHostName", "KELVO_TLS_PORT_WRONGNAME", "localhost", "file.bin", "error 12038",
                nullptr},
        Refusal{"AddressNotInCertificate", "KELVO_TLS_PORT_GOOD", "127.0.0.1", "file.bin",
                "error 12038", nullptr},
        Refusal{"RedirectToHttp", "KELVO_TLS_PORT_GOOD", "localhost",
                "redirect/http/%plain%/file.bin", "away from https was refused", nullptr}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvo::test
