// COM self-registration of Qorinhid.dll: the registry after registering and
// unregistering (directly and through regsvr32), the type library it carries,
// and the class-object entry points.
#include "qorinhid_dll.h"
#include "self_registration.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hidtest {
namespace {

const GUID kLibId = {0xB4ABD8DC, 0xE28B, 0x4805, {0xAB, 0xC2, 0xD3, 0x19, 0x4D, 0xEF, 0x99, 0xBF}};
const wchar_t kLibKey[] = L"TypeLib\\{B4ABD8DC-E28B-4805-ABC2-D3194DEF99BF}";
#if defined(_WIN64)
const wchar_t kPlatformKey[] = L"TypeLib\\{B4ABD8DC-E28B-4805-ABC2-D3194DEF99BF}\\1.0\\0\\win64";
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
const wchar_t kPlatformKey[] = L"TypeLib\\{B4ABD8DC-E28B-4805-ABC2-D3194DEF99BF}\\1.0\\0\\win32";
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

bool KeyExists(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring DefaultValue(const wchar_t* path) {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path, nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return L"<none>";
    }
    return value;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Runs regsvr32 on the library as a child process; its exit code, or -1.
int RunRegsvr32(const std::wstring& options) {
    std::wstring commandLine = L"regsvr32.exe " + options + L" \"" + Qorinhid().path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "CreateProcess error " << GetLastError();
        return -1;
    }
    CloseHandle(process.hThread);
    int result = -1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        ADD_FAILURE() << "regsvr32 " << Narrow(options) << " did not finish";
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
    return result;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Qorinhid().module, nullptr);
        Qorinhid().dllUnregisterServer();
        ASSERT_FALSE(KeyExists(kLibKey)) << "left over from an earlier run";
    }
    void TearDown() override { Qorinhid().dllUnregisterServer(); }
};

TEST_F(RegistrationTest, RegisterWritesTheOwnPathThenUnregisterRemovesIt) {
    EXPECT_EQ(Qorinhid().dllRegisterServer(), S_OK);
    EXPECT_EQ(_wcsicmp(DefaultValue(kPlatformKey).c_str(), Qorinhid().path.c_str()), 0)
        << Narrow(DefaultValue(kPlatformKey)) << " vs " << Narrow(Qorinhid().path);

    EXPECT_EQ(Qorinhid().dllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(kPlatformKey));
    EXPECT_FALSE(KeyExists(kLibKey));
}

TEST_F(RegistrationTest, RegisteringTwiceKeepsOneEntry) {
    EXPECT_EQ(Qorinhid().dllRegisterServer(), S_OK);
    EXPECT_EQ(Qorinhid().dllRegisterServer(), S_OK);
    EXPECT_EQ(Qorinhid().dllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(kLibKey));
}

TEST_F(RegistrationTest, UnregisteringWhatIsNotRegisteredReportsTheTypeLibStep) {
    EXPECT_EQ(Qorinhid().dllUnregisterServer(), SELFREG_E_TYPELIB);
}

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregisters) {
    EXPECT_EQ(RunRegsvr32(L"/s"), 0);
    EXPECT_EQ(_wcsicmp(DefaultValue(kPlatformKey).c_str(), Qorinhid().path.c_str()), 0)
        << Narrow(DefaultValue(kPlatformKey));
    EXPECT_EQ(RunRegsvr32(L"/u /s"), 0);
    EXPECT_FALSE(KeyExists(kLibKey));
}

TEST_F(RegistrationTest, ForeignOrMissingTypeLibIsRefused) {
    const GUID otherLibId = {0x0badf00d, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_FALSE(qorinhid::RegisterModuleTypeLib(Qorinhid().module, otherLibId));
    // The test program carries no type library resource.
    EXPECT_FALSE(qorinhid::RegisterModuleTypeLib(GetModuleHandleW(nullptr), kLibId));
    EXPECT_FALSE(KeyExists(kLibKey));
    EXPECT_FALSE(KeyExists(L"TypeLib\\{0BADF00D-1111-2222-0102-030405060708}"));
}

TEST(TypeLibrary, DeclaresTheLibraryAlone) {
    ITypeLib* typeLib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(Qorinhid().path.c_str(), REGKIND_NONE, &typeLib), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(typeLib->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kLibId));
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, kSysKind);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    // FHASDISKIMAGE only says that it was loaded from a file.
    EXPECT_EQ(attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    typeLib->ReleaseTLibAttr(attributes);

    EXPECT_EQ(typeLib->GetTypeInfoCount(), 0u);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    DWORD helpContext = 1;
    BSTR helpFile = nullptr;
    ASSERT_EQ(typeLib->GetDocumentation(-1, &name, &doc, &helpContext, &helpFile), S_OK);
    EXPECT_STREQ(name, L"Qorinhid");
    EXPECT_EQ(doc, nullptr);
    EXPECT_EQ(helpFile, nullptr);
    EXPECT_EQ(helpContext, 0u);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(helpFile);
    typeLib->Release();
}

TEST(ClassObjects, NoClassIsAvailable) {
    const GUID anyClass = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID* classes[] = {&GUID_NULL, &anyClass, &kLibId};
    const IID* interfaces[] = {&IID_IClassFactory, &IID_IUnknown};
    for (const GUID* clsid : classes) {
        for (const IID* iid : interfaces) {
            void* object = reinterpret_cast<void*>(static_cast<INT_PTR>(0x1234));
            EXPECT_EQ(Qorinhid().dllGetClassObject(*clsid, *iid, &object),
                      CLASS_E_CLASSNOTAVAILABLE);
            EXPECT_EQ(object, nullptr);
        }
    }
}

TEST(ClassObjects, LibraryCanAlwaysUnload) {
    EXPECT_EQ(Qorinhid().dllCanUnloadNow(), S_OK);
    void* object = nullptr;
    Qorinhid().dllGetClassObject(GUID_NULL, IID_IClassFactory, &object);
    EXPECT_EQ(Qorinhid().dllCanUnloadNow(), S_OK);
}

struct StepCase {
    const char* name;
    bool typeLibSucceeds;
    bool classesSucceed;
    HRESULT result;
    const char* stepsRun;
};

class SelfRegistrationOrder : public ::testing::TestWithParam<StepCase> {};

TEST_P(SelfRegistrationOrder, TypeLibFirstClassesSecond) {
    const StepCase& c = GetParam();
    std::string steps;
    const HRESULT result = qorinhid::RunSelfRegistration(
        [&] {
            steps += "typelib ";
            return c.typeLibSucceeds;
        },
        [&] {
            steps += "classes ";
            return c.classesSucceed;
        });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(steps, c.stepsRun);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SelfRegistrationOrder,
    ::testing::Values(StepCase{"both_succeed", true, true, S_OK, "typelib classes "},
                      StepCase{"typelib_fails", false, true, static_cast<HRESULT>(0x80040200),
                               "typelib "},
                      StepCase{"classes_fail", true, false, static_cast<HRESULT>(0x80040201),
                               "typelib classes "}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hidtest
