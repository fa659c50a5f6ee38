#include "tovane_fixture.h"

namespace kelvo::test {

const char kNotNeeded[] = "Software does not need to update\xA3\xA1";

void TovaneTest::SetUp() {
    exe_ = WinPath(Env("KELVO_TOVANE_EXE"));
    serverRoot_ = WinPath(Env("KELVO_HTTP_ROOT"));
    ASSERT_FALSE(exe_.empty()) << "KELVO_TOVANE_EXE not set";
    ASSERT_FALSE(serverRoot_.empty()) << "KELVO_HTTP_ROOT not set (run under with-http-server.sh)";
    std::string folder = serverRoot_;
    for (const char* part : {"UploadFile", "Product_Soft", "Kelvo"}) {
        folder += "\\";
        folder += part;
        ::CreateDirectoryA(folder.c_str(), nullptr);
    }
    updateFolder_ = folder;
    // Every test starts with an empty update folder and an empty log.
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((updateFolder_ + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::DeleteFileA((updateFolder_ + "\\" + data.cFileName).c_str());
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::DeleteFileA((serverRoot_ + "\\requests.log").c_str());
    ::DeleteFileA((serverRoot_ + "\\served.log").c_str());

    programDir_ = FreshDir(CurrentTestFileName());
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    tempDir_ = temp;
    ::DeleteFileA((tempDir_ + "Version.ini").c_str());
}

void TovaneTest::TearDown() { tovane_.Kill(); }

void TovaneTest::Publish(const std::string& name, const std::string& content) {
    ASSERT_TRUE(WriteFile(updateFolder_ + "\\" + name, content)) << name;
}

void TovaneTest::PublishFault(const std::string& name, const std::string& json) {
    ASSERT_TRUE(WriteFile(updateFolder_ + "\\" + name + ".fault", json)) << name;
}

void TovaneTest::PublishManifest(const std::string& programs, unsigned mainVer, unsigned subVer,
                                 const std::string& notes) {
    Publish("Version.txt", "[Programs]\r\nPrograms=" + programs + "\r\n[Kelvo]\r\nMainVer=" +
                               std::to_string(mainVer) + "\r\nSubVer=" + std::to_string(subVer) +
                               "\r\nUpdateInof=" + notes + "\r\n");
}

void TovaneTest::WriteInstalledVersion(const std::string& content) {
    ASSERT_TRUE(WriteFile(programDir_ + "\\Version.ini", content));
}

HWND TovaneTest::Launch(Child& child) {
    std::string error;
    if (!child.Start(exe_, programDir_, "", &error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    HWND dialog = WaitForWindowOf(child.Pid(), "Update", 20000, "#32770");
    EXPECT_NE(dialog, nullptr) << "no update dialog appeared";
    return dialog;
}

bool TovaneTest::WaitForOffer(HWND dialog, DWORD timeoutMs) {
    return WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, timeoutMs);
}

std::string TovaneTest::WaitForDecision(HWND dialog, DWORD timeoutMs) {
    std::string status;
    WaitUntil(
        [&] {
            status = ItemText(dialog, IDC_STATUS);
            return status != "Checking update" && !status.empty();
        },
        timeoutMs);
    return status;
}

std::vector<std::string> TovaneTest::RequestedPaths() {
    std::vector<std::string> paths;
    std::string log;
    if (!ReadFile(serverRoot_ + "\\requests.log", log)) {
        return paths;
    }
    const std::string key = "\"path\": \"";
    for (std::size_t pos = log.find(key); pos != std::string::npos; pos = log.find(key, pos)) {
        pos += key.size();
        std::size_t end = log.find('"', pos);
        paths.push_back(log.substr(pos, end - pos));
    }
    return paths;
}

std::uint64_t TovaneTest::ServedBytes(const std::string& name, DWORD waitMs) {
    const std::string path = "\"path\": \"" + UpdatePath(name) + "\"";
    std::uint64_t total = 0;
    WaitUntil(
        [&] {
            std::string log;
            total = 0;
            if (!ReadFile(serverRoot_ + "\\served.log", log)) {
                return false;
            }
            bool seen = false;
            for (std::size_t at = log.find(path); at != std::string::npos;
                 at = log.find(path, at + 1)) {
                const std::size_t sent = log.find("\"sent\": ", at);
                if (sent != std::string::npos) {
                    total += std::stoull(log.substr(sent + 8));
                    seen = true;
                }
            }
            return seen;
        },
        waitMs, 100);
    return total;
}

void TovaneTest::Shot(HWND hwnd, const std::string& name) {
    std::string path = ArtifactPath(name + ".png");
    EXPECT_TRUE(SaveScreenshot(hwnd, path)) << "screenshot " << path;
}

}  // namespace kelvo::test
