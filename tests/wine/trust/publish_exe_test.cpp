// kelvo-publish.exe under Wine, started as a vendor would start it: keys,
// a published folder the updater's checks accept, publishing over an older
// release, and the refusals that must leave no update folder behind. The
// wrapper script checks the same output with openssl afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "fixtures.h"
#include "trust/files_entry.h"
#include "trust/verify.h"

namespace kelvo::test {
namespace {

namespace trust = tovane::trust;

// Exit code of the tool, run with the fixture folder as current directory.
DWORD RunPublish(const std::string& arguments) {
    const char* exe = std::getenv("KELVO_PUBLISH_EXE");
    if (exe == nullptr) {
        ADD_FAILURE() << "KELVO_PUBLISH_EXE is not set";
        return 255;
    }
    std::string command = "\"" + WindowsPath(exe) + "\" " + arguments;
    std::string dir = FixturePath("");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                          &si, &pi)) {
        DWORD error = ::GetLastError();
        ADD_FAILURE() << "CreateProcess " << command << ": " << error;
        return 255;
    }
    unique_handle process(pi.hProcess), thread(pi.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0) << command;
    DWORD code = 255;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Everything the after-download step will check, on a published folder.
void ExpectAcceptedByTheUpdater(const std::string& folder, const trust::PublicKey& key,
                                const std::vector<std::string>& names) {
    std::vector<std::uint8_t> manifest = ReadBytes(folder + "\\Version.txt");
    std::vector<std::uint8_t> sig = ReadBytes(folder + "\\Version.txt.sig");
    EXPECT_EQ(
        trust::VerifyManifest(manifest.data(), manifest.size(), sig.data(), sig.size(), {key}),
        trust::ManifestCheck::kVerified)
        << folder;
    for (const std::string& name : names) {
        std::string value;
        ASSERT_TRUE(trust::ReadFilesValue((folder + "\\Version.txt").c_str(), name.c_str(), value))
            << name;
        unique_hfile file(::CreateFileA((folder + "\\" + name).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(trust::CheckFile(file.get(), value.c_str(), true), trust::FileCheck::kMatch)
            << name;
    }
}

TEST(PublishExe, KeygenThenPublishThenPublishOver) {
    WriteBytes(FixturePath("notes.txt"), "Kelvo 1.1\r\n- faster start-up\r\n");
    WriteBytes(FixturePath("Kelvo.exe"), "MZ kelvo 1.1");
    WriteBytes(FixturePath("Kelvo.dat"), std::string(70000, 'd'));
    ASSERT_EQ(RunPublish("keygen exe-private.pem exe-public.pem"), 0u);
    // Never over an existing key.
    EXPECT_EQ(RunPublish("keygen exe-private.pem other-public.pem"), 1u);
    EXPECT_FALSE(Exists(FixturePath("other-public.pem")));

    ASSERT_EQ(RunPublish("publish --key exe-private.pem --version 1.1 --notes notes.txt "
                         "exe-published Kelvo.dat Kelvo.exe"),
              0u);
    std::string folder = FixturePath("exe-published");
    trust::PublicKey key = ReadPublicKey(FixturePath("exe-public.pem"));
    ExpectAcceptedByTheUpdater(folder, key, {"Kelvo.dat", "Kelvo.exe"});
    EXPECT_EQ(::GetPrivateProfileIntA("Kelvo", "SubVer", -1, (folder + "\\Version.txt").c_str()),
              1);

    // A second release replaces every file of the first in place.
    WriteBytes(FixturePath("Kelvo.exe"), "MZ kelvo 1.2, larger");
    ASSERT_EQ(RunPublish("publish --key exe-private.pem --version 1.2 --notes notes.txt "
                         "exe-published Kelvo.dat Kelvo.exe"),
              0u);
    ExpectAcceptedByTheUpdater(folder, key, {"Kelvo.dat", "Kelvo.exe"});
    EXPECT_EQ(::GetPrivateProfileIntA("Kelvo", "SubVer", -1, (folder + "\\Version.txt").c_str()),
              2);

    // A key made by the openssl command line (SEC 1 form) works too.
    ASSERT_EQ(RunPublish("publish --key key-a.pem --version 1.1 --notes notes.txt "
                         "exe-published-a Kelvo.exe"),
              0u);
    ExpectAcceptedByTheUpdater(FixturePath("exe-published-a"),
                               ReadPublicKey(FixturePath("public-a.pem")), {"Kelvo.exe"});
}

TEST(PublishExe, RefusalsLeaveNoManifest) {
    WriteBytes(FixturePath("notes2.txt"), "notes");
    WriteBytes(FixturePath("App.exe"), "MZ");
    struct {
        const char* what;
        std::string arguments;
    } cases[] = {
        {"public key given as the key", "--key public-a.pem"},
        {"missing key file", "--key no-such-key.pem"},
        {"private and public part of two keys", "--key key-mismatched.pem"},
        {"missing file",
         "--key key-a.pem --version 1.1 --notes notes2.txt refused App.exe "
         "no-such-file.exe"},
        {"device name", "--key key-a.pem --version 1.1 --notes notes2.txt refused App.exe NUL"},
        {"bad version", "--key key-a.pem --version 1 --notes notes2.txt refused App.exe"},
    };
    for (const auto& c : cases) {
        std::string args = c.arguments;
        if (args.find("--version") == std::string::npos) {
            args += " --version 1.1 --notes notes2.txt refused App.exe";
        }
        EXPECT_EQ(RunPublish("publish " + args), 1u) << c.what;
        EXPECT_FALSE(Exists(FixturePath("refused\\Version.txt"))) << c.what;
        EXPECT_FALSE(Exists(FixturePath("refused\\Version.txt.sig"))) << c.what;
        EXPECT_FALSE(Exists(FixturePath("refused\\App.exe"))) << c.what;
    }
}

}  // namespace
}  // namespace kelvo::test
