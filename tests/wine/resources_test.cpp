// The resources of Tovane.exe as the loader sees them: dialog template 102,
// icon 128, string 103, and the application manifest as the activation
// context the loader makes of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "support/driver.h"

namespace kelvo::test {
namespace {

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryExA(WinPath(Env("KELVO_TOVANE_EXE")).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "cannot load Tovane.exe as data";
    }
    void TearDown() override {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }
    const BYTE* Resource(LPCSTR type, LPCSTR name, DWORD* size) {
        HRSRC found = ::FindResourceA(module_, name, type);
        if (found == nullptr) {
            return nullptr;
        }
        *size = ::SizeofResource(module_, found);
        return static_cast<const BYTE*>(::LockResource(::LoadResource(module_, found)));
    }
    HMODULE module_ = nullptr;
};

// Reads the variable parts of an extended dialog template.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* p) : p_(p) {}
    template <typename T>
    T Get() {
        T value;
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    // A string, or an ordinal written as 0xFFFF + id ("#id").
    std::wstring SzOrOrdinal() {
        WORD first = Get<WORD>();
        if (first == 0xFFFF) {
            return L"#" + std::to_wstring(Get<WORD>());
        }
        std::wstring s;
        for (WORD c = first; c != 0; c = Get<WORD>()) {
            s += static_cast<wchar_t>(c);
        }
        return s;
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4 != 0) {
            ++p_;
        }
    }
    const BYTE* Where() const { return p_; }
    void Skip(std::size_t n) { p_ += n; }

private:
    const BYTE* p_;
};

struct ControlExpect {
    DWORD id;
    const wchar_t* cls;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

TEST_F(ResourceTest, DialogTemplateAsDesigned) {
    DWORD size = 0;
    const BYTE* base = Resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(102), &size);
    ASSERT_NE(base, nullptr);
    TemplateReader r(base);
    EXPECT_EQ(r.Get<WORD>(), 1);       // dlgVer
    EXPECT_EQ(r.Get<WORD>(), 0xFFFF);  // extended template
    EXPECT_EQ(r.Get<DWORD>(), 0u);     // help id
    EXPECT_EQ(r.Get<DWORD>(), 0x00040000u) << "WS_EX_APPWINDOW";
    EXPECT_EQ(r.Get<DWORD>(), 0x90CA1AC8u);
    WORD count = r.Get<WORD>();
    EXPECT_EQ(count, 4);
    EXPECT_EQ(r.Get<short>(), 0);
    EXPECT_EQ(r.Get<short>(), 0);
    EXPECT_EQ(r.Get<short>(), 207);
    EXPECT_EQ(r.Get<short>(), 127);
    EXPECT_EQ(r.SzOrOrdinal(), L"") << "no menu";
    EXPECT_EQ(r.SzOrOrdinal(), L"") << "the platform's dialog class";
    EXPECT_EQ(r.SzOrOrdinal(), L"Update");
    EXPECT_EQ(r.Get<WORD>(), 9) << "point size";
    EXPECT_EQ(r.Get<WORD>(), 0) << "weight";
    EXPECT_EQ(r.Get<BYTE>(), 0) << "italic";
    EXPECT_EQ(r.Get<BYTE>(), 1) << "DEFAULT_CHARSET";
    EXPECT_EQ(r.SzOrOrdinal(), L"MS Shell Dlg");

    const ControlExpect expected[] = {
        {1001, L"Button", L"Update", 86, 106, 50, 14, 0x58010001, 0},
        {2, L"Button", L"Close", 150, 106, 50, 14, 0x50010000, 0},
        {1002, L"msctls_progress32", L"", 7, 84, 192, 14, 0x40800000, 0x20},
        {1003, L"Edit", L"", 7, 7, 189, 66, 0x500118C4, 0},
    };
    for (const ControlExpect& e : expected) {
        if (count-- == 0) {
            break;
        }
        r.AlignDword(base);
        SCOPED_TRACE("control " + std::to_string(e.id));
        EXPECT_EQ(r.Get<DWORD>(), 0u);  // help id
        EXPECT_EQ(r.Get<DWORD>(), e.exStyle);
        EXPECT_EQ(r.Get<DWORD>(), e.style);
        EXPECT_EQ(r.Get<short>(), e.x);
        EXPECT_EQ(r.Get<short>(), e.y);
        EXPECT_EQ(r.Get<short>(), e.cx);
        EXPECT_EQ(r.Get<short>(), e.cy);
        EXPECT_EQ(r.Get<DWORD>(), e.id);
        // Resource compilers store the predefined classes either as their
        // ordinals or by name; both create the same control.
        std::wstring cls = r.SzOrOrdinal();
        if (cls == L"#128") {
            cls = L"Button";
        } else if (cls == L"#129") {
            cls = L"Edit";
        }
        EXPECT_EQ(_wcsicmp(cls.c_str(), e.cls), 0) << "class";
        EXPECT_EQ(r.SzOrOrdinal(), e.text);
        WORD extra = r.Get<WORD>();
        r.Skip(extra);
    }
}

TEST_F(ResourceTest, IconIsOneImage48By48With32Bits) {
    DWORD size = 0;
    const BYTE* group =
        Resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEA(128), &size);
    ASSERT_NE(group, nullptr);
    ASSERT_GE(size, 6u + 14u);
    WORD count;
    std::memcpy(&count, group + 4, 2);
    EXPECT_EQ(count, 1);
    const BYTE* entry = group + 6;
    EXPECT_EQ(entry[0], 48);
    EXPECT_EQ(entry[1], 48);
    WORD bits;
    std::memcpy(&bits, entry + 6, 2);
    EXPECT_EQ(bits, 32);
}

// The activation context of the manifest resource, made as the loader makes
// the process's own: a manifest it refuses, or a dependency it cannot find,
// fails here as it would fail the start of the program.
class ManifestContext {
public:
    explicit ManifestContext(const std::string& exe) {
        std::wstring path(exe.begin(), exe.end());
        ACTCTXW request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = path.c_str();
        request.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
        handle_ = ::CreateActCtxW(&request);
        error_ = handle_ == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    }
    ~ManifestContext() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::ReleaseActCtx(handle_);
        }
    }
    ManifestContext(const ManifestContext&) = delete;
    ManifestContext& operator=(const ManifestContext&) = delete;

    HANDLE Get() const { return handle_; }
    DWORD Error() const { return error_; }
    std::wstring Setting(const wchar_t* space, const wchar_t* name) const {
        wchar_t value[128] = {};
        SIZE_T written = 0;
        if (!::QueryActCtxSettingsW(0, handle_, space, name, value, 128, &written)) {
            return L"<none>";
        }
        return value;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
};

std::string GuidText(const GUID& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0],
                  id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    return text;
}

// Common Controls 6 registers its controls under versioned class names: a
// control made with the context active has another class atom than the
// system's class of the same name.
ATOM ButtonAtom() {
    HWND button =
        ::CreateWindowA("Button", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ATOM atom = static_cast<ATOM>(::GetClassWord(button, GCW_ATOM));
    ::DestroyWindow(button);
    return atom;
}

TEST_F(ResourceTest, ManifestMakesTheContextItDeclares) {
    DWORD size = 0;
    ASSERT_NE(Resource(MAKEINTRESOURCEA(24) /* RT_MANIFEST */, MAKEINTRESOURCEA(1), &size),
              nullptr);
    ManifestContext context(WinPath(Env("KELVO_TOVANE_EXE")));
    ASSERT_NE(context.Get(), INVALID_HANDLE_VALUE) << "refused, error " << context.Error();

    EXPECT_EQ(
        context.Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(
        context.Setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true/pm");

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    ASSERT_TRUE(::QueryActCtxW(0, context.Get(), nullptr, RunlevelInformationInActivationContext,
                               &level, sizeof level, nullptr))
        << ::GetLastError();
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);

    // Laid out as the Windows 10 SDK has it, with MaxVersionTested, as Wine
    // fills it in (this MinGW's header has the older, shorter element); room
    // for more than the four, so that a fifth would show.
    struct Element {
        GUID id;
        ACTCTX_COMPATIBILITY_ELEMENT_TYPE type;
        ULONGLONG maxVersionTested;
    };
    struct {
        DWORD count;
        Element elements[8];
    } compatibility = {};
    ASSERT_TRUE(::QueryActCtxW(0, context.Get(), nullptr,
                               CompatibilityInformationInActivationContext, &compatibility,
                               sizeof compatibility, nullptr))
        << ::GetLastError();
    std::set<std::string> systems;
    for (DWORD i = 0; i < compatibility.count && i < 8; ++i) {
        EXPECT_EQ(compatibility.elements[i].type, ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS);
        systems.insert(GuidText(compatibility.elements[i].id));
    }
    EXPECT_EQ(compatibility.count, 4u);
    EXPECT_EQ(systems, (std::set<std::string>{"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                                              "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}));

    const ATOM system = ButtonAtom();
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(context.Get(), &cookie)) << ::GetLastError();
    const ATOM inContext = ButtonAtom();
    ::DeactivateActCtx(0, cookie);
    EXPECT_NE(system, 0);
    EXPECT_NE(inContext, 0);
    EXPECT_NE(inContext, system) << "the context does not bring Common Controls 6";
}

TEST_F(ResourceTest, SocketFailureTextIsTheChineseString) {
    wchar_t text[128] = {};
    ASSERT_GT(::LoadStringW(module_, 103, text, 128), 0);
    // "Windows 套接字初始化失败。"
    EXPECT_EQ(std::wstring(text),
              L"Windows \x5957\x63A5\x5B57\x521D\x59CB\x5316\x5931\x8D25\x3002");
    // The same text in GBK, as the program's ANSI calls see it under code page 936.
    char gbk[128] = {};
    ::WideCharToMultiByte(936, 0, text, -1, gbk, sizeof gbk, nullptr, nullptr);
    EXPECT_STREQ(
        gbk, "Windows \xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3");
}

}  // namespace
}  // namespace kelvo::test
