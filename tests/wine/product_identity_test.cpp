// Win32ProductControl against real processes: copies of the product
// stand-in, each titling its window "Kelvo", started under the product's
// file name or another one, from folders of their own. Only a process whose
// executable is a Kelvo.exe is the product; the copy in the program folder
// comes before the others; a window of any other program is never closed,
// and the update then goes to the program folder.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "install/durable_file.h"
#include "install/installer.h"
#include "install/product_control.h"
#include "support/driver.h"
#include "ui/text.h"

namespace kelvo::test {
namespace {

// A character that neither code page 1252 nor 936 has: a folder named with
// it cannot be reached through the ANSI calls the installer makes.
const wchar_t kThaiKoKai[] = L"\x0E01";

// A stand-in started by its wide path, ended by its handle when the test
// is over, however it went.
class StandIn {
public:
    StandIn(const std::wstring& exe, const std::wstring& folder) {
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &si, &pi)) {
            ::CloseHandle(pi.hThread);
            process_ = pi.hProcess;
            pid_ = pi.dwProcessId;
        }
    }
    ~StandIn() {
        if (process_ != nullptr) {
            if (Running()) {
                ::TerminateProcess(process_, 99);
                ::WaitForSingleObject(process_, 5000);
            }
            ::CloseHandle(process_);
        }
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    DWORD Pid() const { return pid_; }
    bool Running() const {
        return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
    }
    bool WaitExit(DWORD timeoutMs) const {
        return process_ != nullptr && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

std::wstring Wide(const std::string& ansi) { return ui::WideFromCodePage(ansi, CP_ACP); }

// Where a row starts a copy: the updater's program folder, or a folder of
// its own (one per letter).
struct Copy {
    char folder;  // 'P': the program folder; any other letter: a folder of its own
    const wchar_t* name;
};

struct IdentityCase {
    const char* name;
    std::vector<Copy> copies;  // started in this order, each on top of the ones before
    // The copy taken for the product (its index), -1 for none, -2 for any
    // one of them (z-order decides, and is not this test's to pin).
    int taken;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class ProductIdentityTest : public ::testing::TestWithParam<IdentityCase> {
protected:
    void SetUp() override {
        const std::string source = WinPath(Env("KELVO_PRODUCT_EXE"));
        ASSERT_FALSE(source.empty()) << "KELVO_PRODUCT_EXE not set";
        ASSERT_TRUE(ReadFile(source, productBytes_));
        base_ = FreshDir(CurrentTestFileName());
        program_ = base_ + "\\program\\";
        ASSERT_TRUE(::CreateDirectoryA(program_.c_str(), nullptr));
    }

    // Copies the stand-in into the folder as `name` and starts it there;
    // its full path in *path.
    const StandIn* Start(const std::wstring& folder, const std::wstring& name, std::wstring* path) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        *path = folder + name;
        HANDLE file = ::CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        const bool copied =
            file != INVALID_HANDLE_VALUE &&
            ::WriteFile(file, productBytes_.data(), static_cast<DWORD>(productBytes_.size()),
                        &written, nullptr) &&
            written == productBytes_.size();
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        EXPECT_TRUE(copied) << "stand-in not copied";
        started_.push_back(std::make_unique<StandIn>(*path, folder));
        const StandIn* standIn = started_.back().get();
        EXPECT_NE(WaitForWindowOf(standIn->Pid(), "Kelvo", 10000), nullptr)
            << "no window \"Kelvo\"";
        return standIn;
    }

    std::wstring FolderFor(char letter) {
        return letter == 'P' ? Wide(program_) : Wide(base_) + L"\\" + wchar_t(letter) + L"\\";
    }

    std::string productBytes_;
    std::string base_;
    std::string program_;
    std::vector<std::unique_ptr<StandIn>> started_;
};

TEST_P(ProductIdentityTest, TakesOnlyAKelvoExeAndPrefersTheProgramFolders) {
    const IdentityCase& c = GetParam();
    std::vector<const StandIn*> copies;
    std::vector<std::wstring> paths;
    for (const Copy& copy : c.copies) {
        std::wstring path;
        copies.push_back(Start(FolderFor(copy.folder), copy.name, &path));
        paths.push_back(path);
    }
    ASSERT_FALSE(HasFailure());

    tovane::Win32ProductControl control(program_, [] { return false; });
    ASSERT_TRUE(control.IsRunning()) << "every copy holds the mutex";
    std::string exe;
    const bool found = control.OpenProduct(&exe);
    for (const StandIn* copy : copies) {
        EXPECT_TRUE(copy->Running()) << "finding the product must not stop anything";
    }
    if (c.taken == -1) {
        EXPECT_FALSE(found) << "taken: " << exe;
        EXPECT_EQ(exe, "");
        return;
    }
    ASSERT_TRUE(found);
    std::size_t taken = copies.size();
    for (std::size_t i = 0; i < copies.size(); ++i) {
        std::string path;
        if (ui::AnsiFromWide(paths[i], &path) && tovane::SameFile(exe, path)) {
            taken = i;
        }
    }
    ASSERT_LT(taken, copies.size()) << "the path is none of the copies': " << exe;
    if (c.taken >= 0) {
        EXPECT_EQ(taken, static_cast<std::size_t>(c.taken)) << exe;
    }
    // The window asked to close is the one of the process whose path came
    // back, and no other.
    control.RequestClose();
    EXPECT_TRUE(control.WaitForExit(10000));
    EXPECT_TRUE(copies[taken]->WaitExit(0));
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (i != taken) {
            EXPECT_TRUE(copies[i]->Running()) << "copy " << i << " was closed too";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ProductIdentityTest,
    ::testing::Values(
        IdentityCase{"OnlyAForeignProgram", {{'a', L"Foreign.exe"}}, -1},
        IdentityCase{"TheProductElsewhere", {{'a', L"Kelvo.exe"}}, 0},
        IdentityCase{"ItsNameInCapitals", {{'a', L"KELVO.EXE"}}, 0},
        IdentityCase{"ANameThatOnlyEndsLikeIt", {{'a', L"NotKelvo.exe"}}, -1},
        IdentityCase{"ANameThatOnlyStartsLikeIt", {{'a', L"Kelvo.exe.exe"}}, -1},
        IdentityCase{"AKelvinSignForTheK", {{'a', L"\u212Aelvo.exe"}}, -1},
        IdentityCase{
            "AForeignProgramOnTopOfTheProduct", {{'a', L"Kelvo.exe"}, {'b', L"Foreign.exe"}}, 0},
        IdentityCase{
            "TheProgramFoldersCopyUnderAnother", {{'P', L"Kelvo.exe"}, {'a', L"Kelvo.exe"}}, 0},
        IdentityCase{"TheProgramFoldersCopyOnTop", {{'a', L"Kelvo.exe"}, {'P', L"Kelvo.exe"}}, 1},
        IdentityCase{"TwoCopiesElsewhere", {{'a', L"Kelvo.exe"}, {'b', L"Kelvo.exe"}}, -2},
        IdentityCase{"TheProgramFolderRunsAForeignProgramOnTop",
                     {{'a', L"Kelvo.exe"}, {'P', L"Foreign.exe"}},
                     0}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(ProductIdentityTest, AProductInAFolderTheAnsiCallsCannotNameIsNotTaken) {
    const std::wstring folder = Wide(base_) + L"\\kelvo-" + kThaiKoKai + L"\\";
    std::string unused;
    ASSERT_FALSE(ui::AnsiFromWide(folder, &unused))
        << "the ANSI code page " << ::GetACP() << " has the character: no test";
    std::wstring path;
    const StandIn* product = Start(folder, L"Kelvo.exe", &path);
    ASSERT_FALSE(HasFailure());
    tovane::Win32ProductControl control(program_, [] { return false; });
    std::string exe;
    EXPECT_FALSE(control.OpenProduct(&exe)) << "taken: " << exe;
    EXPECT_TRUE(product->Running());
}

class NoProgress : public tovane::InstallProgress {
public:
    void Status(const std::string&) override {}
    void Range(int) override {}
    void Position(int) override {}
};

// The mutex is there, a window titled "Kelvo" too, but no Kelvo.exe behind
// it: nothing is closed and the files go to the program folder, as when the
// product runs without a window.
TEST_F(ProductIdentityTest, WithOnlyAForeignWindowTheUpdateGoesToTheProgramFolder) {
    std::wstring path;
    const StandIn* foreign = Start(Wide(base_) + L"\\foreign\\", L"Foreign.exe", &path);
    ASSERT_FALSE(HasFailure());
    const std::string downloads = base_ + "\\downloads\\";
    ASSERT_TRUE(::CreateDirectoryA(downloads.c_str(), nullptr));
    ASSERT_TRUE(WriteFile(downloads + "a.dll", "new a"));

    tovane::InstallRequest request;
    request.programFolder = program_;
    request.sourceFolder = downloads;
    request.names = {"a.dll"};
    request.versionFileName = "Version.ini";
    request.version = {2, 0};
    request.graceMs = 2000;
    tovane::Win32ProductControl control(program_, [] { return false; });
    NoProgress progress;
    const tovane::InstallResult result = tovane::Install(request, control, progress);

    EXPECT_EQ(result.outcome, tovane::InstallResult::Outcome::kInstalled) << result.message;
    EXPECT_EQ(result.targetFolder, program_);
    EXPECT_FALSE(result.restarted);
    std::string content;
    EXPECT_TRUE(ReadFile(program_ + "a.dll", content) && content == "new a") << content;
    EXPECT_TRUE(FileExists(program_ + "Version.ini"));
    EXPECT_TRUE(foreign->Running()) << "a foreign program was closed";
    const std::string foreignFolder = base_ + "\\foreign\\";
    EXPECT_FALSE(FileExists(foreignFolder + "a.dll"));
    EXPECT_FALSE(FileExists(foreignFolder + "Version.ini"));
    EXPECT_EQ(RecordedStarts(foreignFolder).size(), 1u) << "started again";
}

}  // namespace
}  // namespace kelvo::test
