// Shared set-up of the tests that run Tovane.exe against the test HTTP
// server: a scratch program folder, the server's update folder, and the
// dialog found once the program is up.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "res/resource.h"
#include "support/driver.h"

namespace kelvo::test {

extern const char kNotNeeded[];  // "Software does not need to update！" in GBK

class TovaneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Files of the update folder on the server, and their fault sidecars.
    void Publish(const std::string& name, const std::string& content);
    void PublishFault(const std::string& name, const std::string& json);
    void PublishManifest(const std::string& programs, unsigned mainVer, unsigned subVer,
                         const std::string& notes);
    void WriteInstalledVersion(const std::string& content);

    // Starts Tovane.exe in the program folder and waits for its dialog.
    HWND Launch(Child& child);
    // Waits until the check has offered an update ("Update" enabled).
    bool WaitForOffer(HWND dialog, DWORD timeoutMs = 15000);
    // Waits until the status box shows something other than "Checking update".
    std::string WaitForDecision(HWND dialog, DWORD timeoutMs = 15000);
    // The request paths the server saw, in order.
    std::vector<std::string> RequestedPaths();
    // The body bytes the server sent for a path, over every answer: read
    // once the answers have ended (each is logged when its connection ends).
    std::uint64_t ServedBytes(const std::string& name, DWORD waitMs = 10000);
    // The update folder's URL path of a file, as the server logs it.
    static std::string UpdatePath(const std::string& name) {
        return "/UploadFile/Product_Soft/Kelvo/" + name;
    }
    void Shot(HWND hwnd, const std::string& name);

    std::string exe_;
    std::string serverRoot_;
    std::string updateFolder_;
    std::string programDir_;
    std::string tempDir_;
    Child tovane_;
};

}  // namespace kelvo::test
