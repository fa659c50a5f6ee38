#include "application.h"

#include "text.h"

namespace kelvo::ui {

namespace {
Application* g_current = nullptr;
}

Application::Application() { g_current = this; }

Application::~Application() {
    if (g_current == this) {
        g_current = nullptr;
    }
}

Application* Application::Current() noexcept { return g_current; }

HINSTANCE Application::Instance() const noexcept { return ::GetModuleHandleA(nullptr); }

HICON Application::LoadIconResource(UINT id) const {
    return ::LoadIconA(Instance(), MAKEINTRESOURCEA(id));
}

std::string Application::Name() const {
    char path[MAX_PATH] = {};
    DWORD len = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, len);
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

int Application::MessageBoxFromResource(UINT stringId, UINT type) const {
    // The string table is UTF-16 in the file (windres converts it from the
    // .rc's code page 936): read as it is, not through the ANSI code page.
    wchar_t text[1024] = {};
    ::LoadStringW(Instance(), stringId, text, static_cast<int>(sizeof text / sizeof text[0]));
    // The name came from an ANSI call, so it is in the ANSI code page.
    return ::MessageBoxW(MainWindow(), text, WideFromCodePage(Name(), CP_ACP).c_str(), type);
}

}  // namespace kelvo::ui
