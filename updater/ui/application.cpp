#include "application.h"

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
    char text[1024] = {};
    ::LoadStringA(Instance(), stringId, text, sizeof text);
    return ::MessageBoxA(MainWindow(), text, Name().c_str(), type);
}

}  // namespace kelvo::ui
