// kelvo-publish.exe under Wine, started as a vendor would start it: keys,
// a published folder the updater's checks accept, publishing over an older
// release, its [Release] section, the gzip forms and [Compressed], and the
// refusals that must leave no update folder behind. The wrapper script checks
// the same output with openssl and gzip afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "fixtures.h"
#include "gzip_inflate.h"
#include "manifest.h"
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
    // Wine says ERROR_INTERNAL_ERROR when the new process ends before it has
    // started (seen once, on one call of many): that is the start, before a
    // line of the tool has run, so it is tried once more and said.
    for (int attempt = 1; !::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                                            nullptr, dir.c_str(), &si, &pi);
         ++attempt) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == 2) {
            ADD_FAILURE() << "CreateProcess " << command << ": " << error;
            return 255;
        }
        std::printf("CreateProcess %s: %lu, tried again\n", command.c_str(),
                    static_cast<unsigned long>(error));
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
    tovane::Manifest parsed;
    ASSERT_EQ(tovane::ParseManifest(std::string(manifest.begin(), manifest.end()), &parsed),
              tovane::ManifestParse::kOk)
        << folder;
    for (const std::string& name : names) {
        const std::string* value = parsed.FilesValue(name);
        ASSERT_NE(value, nullptr) << name;
        unique_hfile file(::CreateFileA((folder + "\\" + name).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(trust::CheckFile(file.get(), value->c_str(), true), trust::FileCheck::kMatch)
            << name;
    }
}

// `gzipped` have a `.gz` that [Compressed] lists with its size, read by
// the profile API and by ParseManifest, and that inflates to the file;
// `plain` have neither.
void ExpectGzipForms(const std::string& folder, const std::vector<std::string>& gzipped,
                     const std::vector<std::string>& plain) {
    const std::string manifestPath = folder + "\\Version.txt";
    const std::vector<std::uint8_t> manifestBytes = ReadBytes(manifestPath);
    tovane::Manifest manifest;
    ASSERT_EQ(
        tovane::ParseManifest(std::string(manifestBytes.begin(), manifestBytes.end()), &manifest),
        tovane::ManifestParse::kOk);
    EXPECT_EQ(manifest.compressed.size(), gzipped.size()) << folder;
    for (const std::string& name : gzipped) {
        const std::vector<std::uint8_t> file = ReadBytes(folder + "\\" + name);
        const std::vector<std::uint8_t> gz = ReadBytes(folder + "\\" + name + ".gz");
        char value[64];
        ::GetPrivateProfileStringA("Compressed", name.c_str(), "-", value, sizeof value,
                                   manifestPath.c_str());
        EXPECT_EQ(std::string(value), "gzip " + std::to_string(gz.size())) << name;
        auto listed = manifest.compressed.find(name);
        ASSERT_NE(listed, manifest.compressed.end()) << name;
        EXPECT_EQ(listed->second, gz.size()) << name;
        EXPECT_LE(gz.size() * 10, file.size() * 9) << name;
        std::vector<std::uint8_t> inflated;
        tovane::GzipInflater inflater(gz.size(), file.size(),
                                      [&](const std::uint8_t* data, std::size_t size) {
                                          inflated.insert(inflated.end(), data, data + size);
                                          return true;
                                      });
        EXPECT_EQ(inflater.Feed(gz.data(), gz.size()), tovane::GzipStatus::kOk)
            << name << ": " << inflater.errorText();
        EXPECT_EQ(inflater.Finish(), tovane::GzipStatus::kOk)
            << name << ": " << inflater.errorText();
        EXPECT_TRUE(inflated == file) << name;
    }
    for (const std::string& name : plain) {
        EXPECT_FALSE(Exists(folder + "\\" + name + ".gz")) << name;
        EXPECT_EQ(manifest.compressed.count(name), 0u) << name;
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
    // 70000 equal bytes shrink to almost nothing; 12 bytes never do.
    ExpectGzipForms(folder, {"Kelvo.dat"}, {"Kelvo.exe"});

    // A second release replaces every file of the first in place.
    WriteBytes(FixturePath("Kelvo.exe"), "MZ kelvo 1.2, larger");
    ASSERT_EQ(RunPublish("publish --key exe-private.pem --version 1.2 --notes notes.txt "
                         "exe-published Kelvo.dat Kelvo.exe"),
              0u);
    ExpectAcceptedByTheUpdater(folder, key, {"Kelvo.dat", "Kelvo.exe"});
    EXPECT_EQ(::GetPrivateProfileIntA("Kelvo", "SubVer", -1, (folder + "\\Version.txt").c_str()),
              2);
    ExpectGzipForms(folder, {"Kelvo.dat"}, {"Kelvo.exe"});

    // A key made by the openssl command line (SEC 1 form) works too.
    ASSERT_EQ(RunPublish("publish --key key-a.pem --version 1.1 --notes notes.txt "
                         "exe-published-a Kelvo.exe"),
              0u);
    ExpectAcceptedByTheUpdater(FixturePath("exe-published-a"),
                               ReadPublicKey(FixturePath("public-a.pem")), {"Kelvo.exe"});
}

// A [Release] value as the profile API reads it; "-" when there is none.
std::string ReleaseValue(const std::string& folder, const char* key) {
    char value[64];
    ::GetPrivateProfileStringA("Release", key, "-", value, sizeof value,
                               (folder + "\\Version.txt").c_str());
    return value;
}

// The clock plus whole days, written the way Expires is, by Windows' own
// calendar. Such texts sort as the times do.
std::string UtcTextInDays(unsigned days) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER steps;
    steps.LowPart = now.dwLowDateTime;
    steps.HighPart = now.dwHighDateTime;
    steps.QuadPart += days * 864000000000ULL;
    now.dwLowDateTime = steps.LowPart;
    now.dwHighDateTime = steps.HighPart;
    SYSTEMTIME t;
    if (!::FileTimeToSystemTime(&now, &t)) {
        ADD_FAILURE() << "FileTimeToSystemTime";
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

TEST(PublishExe, ReleaseSectionFromTheOptions) {
    WriteBytes(FixturePath("notes3.txt"), "notes");
    WriteBytes(FixturePath("Rel.exe"), "MZ rel");
    trust::PublicKey key = ReadPublicKey(FixturePath("public-a.pem"));

    // Dated 90 days from the system clock unless told otherwise.
    std::string earliest = UtcTextInDays(90);
    ASSERT_EQ(RunPublish("publish --key key-a.pem --version 1.1 --notes notes3.txt rel-default "
                         "Rel.exe"),
              0u);
    std::string latest = UtcTextInDays(90);
    std::string folder = FixturePath("rel-default");
    ExpectAcceptedByTheUpdater(folder, key, {"Rel.exe"});
    std::string expires = ReleaseValue(folder, "Expires");
    EXPECT_TRUE(earliest <= expires && expires <= latest)
        << expires << " is not within " << earliest << ".." << latest;
    EXPECT_EQ(ReleaseValue(folder, "Rollout"), "-");

    struct {
        const char* options;
        const char* expires;
        const char* rollout;
    } cases[] = {
        {"--now 2024-02-28T00:00:00Z --expires-in 1 --rollout 0", "2024-02-29T00:00:00Z", "0"},
        {"--now 2026-12-10T14:00:00Z --rollout 25", "2027-03-10T14:00:00Z", "25"},
        {"--expires-in never --rollout 100", "-", "100"},
        {"--expires-in never", "-", "-"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "rel-" + std::to_string(++n);
        ASSERT_EQ(RunPublish(std::string("publish --key key-a.pem ") + c.options +
                             " --version 1.1 --notes notes3.txt " + name + " Rel.exe"),
                  0u)
            << c.options;
        ExpectAcceptedByTheUpdater(FixturePath(name), key, {"Rel.exe"});
        EXPECT_EQ(ReleaseValue(FixturePath(name), "Expires"), c.expires) << c.options;
        EXPECT_EQ(ReleaseValue(FixturePath(name), "Rollout"), c.rollout) << c.options;
    }
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
        {"a name that is another's gzip form",
         "--key key-a.pem --version 1.1 --notes notes2.txt refused App.exe app.EXE.gz"},
        {"bad version", "--key key-a.pem --version 1 --notes notes2.txt refused App.exe"},
        {"expiry of no days", "--key key-a.pem --expires-in 0"},
        {"rollout above 100", "--key key-a.pem --rollout 101"},
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
