// The whole check against an https update server, with TovaneHttps.exe: the
// same program built for https://localhost:<port>/. The server on that port
// (with-tls-server.sh --switch-port) shows the certificate the test names,
// or sends every request on to plain http.
#include "support/test_ca.h"
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

// How the server is untrustworthy, and the reason the status must give after
// "The update server could not be reached: ".
struct Untrustworthy {
    const char* mode;
    const char* reason;
    const char* orReason;  // Wine 8 may name an unknown chain so instead
};

class HttpsUpdateTest : public TovaneTest, public ::testing::WithParamInterface<Untrustworthy> {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(TrustTestCa(&error)) << error;
    }

    void SetUp() override {
        TovaneTest::SetUp();
        WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
        PublishManifest("a.dll?", 2, 0, "Kelvo 2.0");
        Publish("a.dll", "new a");
    }

    void ServeAs(const std::string& mode) {
        ASSERT_TRUE(WriteFile(serverRoot_ + "\\tls.mode", mode));
    }

    // Lines of the server's log that start so: "plain " for requests that
    // reached the plain-http port, "switch hello " for TLS clients that came.
    std::size_t ServerSaw(const std::string& what) {
        std::string log;
        ReadFile(serverRoot_ + "\\..\\server.log", log);
        return Occurrences(log, what);
    }
};

TEST_F(HttpsUpdateTest, TrustedServerOffersTheUpdate) {
    ServeAs("good");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(WaitForOffer(dialog, 30000)) << ItemText(dialog, IDC_STATUS);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Kelvo 2.0");
}

TEST_P(HttpsUpdateTest, UntrustworthyServerOffersNothing) {
    const Untrustworthy& c = GetParam();
    ServeAs(c.mode);
    const std::size_t plainBefore = ServerSaw("plain ");
    const std::size_t clientsBefore = ServerSaw("switch hello ");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    std::string status = WaitForDecision(dialog, 30000);
    EXPECT_NE(status.find("Kelvo 2.0"), 0u) << "the notes were shown: " << status;
    const std::string unreachable = "The update server could not be reached: ";
    EXPECT_EQ(status.compare(0, unreachable.size(), unreachable), 0) << status;
    EXPECT_TRUE(status.find(c.reason) != std::string::npos ||
                (c.orReason != nullptr && status.find(c.orReason) != std::string::npos))
        << status;
    EXPECT_NE(status.find("No update is offered."), std::string::npos) << status;
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << status;
    EXPECT_EQ(ServerSaw("plain "), plainBefore) << "a request went out over plain http";
    EXPECT_GT(ServerSaw("switch hello "), clientsBefore) << "the updater never reached the server";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
    Shot(dialog, std::string("https_") + c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Server, HttpsUpdateTest,
    ::testing::Values(
        Untrustworthy{"untrusted", "failed (system error 12045)", "failed (system error 12057)"},
        Untrustworthy{"wrongname", "failed (system error 12038)", nullptr},
        Untrustworthy{"redirect", "a redirect away from https was refused \"http://", nullptr}),
    [](const ::testing::TestParamInfo<Untrustworthy>& info) {
        return std::string(info.param.mode);
    });

}  // namespace
}  // namespace kelvo::test
