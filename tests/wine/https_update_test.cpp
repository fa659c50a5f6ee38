// The whole check against an https update server, with TovaneHttps.exe: the
// same program built for https://localhost:<port>/. The server on that port
// (with-tls-server.sh --switch-port) shows the certificate the test names,
// or sends every request on to plain http.
#include "support/test_ca.h"
#include "tovane_fixture.h"

namespace kelvo::test {
namespace {

class HttpsUpdateTest : public TovaneTest, public ::testing::WithParamInterface<const char*> {
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
    ServeAs(GetParam());
    const std::size_t plainBefore = ServerSaw("plain ");
    const std::size_t clientsBefore = ServerSaw("switch hello ");
    HWND dialog = Launch(tovane_);
    ASSERT_NE(dialog, nullptr);
    std::string status = WaitForDecision(dialog, 30000);
    EXPECT_NE(status.find("Kelvo 2.0"), 0u) << "the notes were shown: " << status;
    EXPECT_FALSE(ItemEnabled(dialog, IDC_UPDATE)) << status;
    EXPECT_EQ(ServerSaw("plain "), plainBefore) << "a request went out over plain http";
    EXPECT_GT(ServerSaw("switch hello "), clientsBefore) << "the updater never reached the server";
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
    Shot(dialog, std::string("https_") + GetParam());
}

INSTANTIATE_TEST_SUITE_P(Server, HttpsUpdateTest,
                         ::testing::Values("untrusted", "wrongname", "redirect"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
}  // namespace kelvo::test
