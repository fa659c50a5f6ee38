// Test stand-in for the Kelvo product: holds the mutex "Kelvo" and a
// top-level window titled "Kelvo", and records every start in started.log
// beside its executable (with the ANSI code page it saw), so that a restart
// can be seen from outside.
//
// Behaviour from product.mode beside the executable (so a copy restarted by
// the updater behaves the same): "close" (default) ends on WM_CLOSE,
// "ignore" ignores WM_CLOSE, "nowindow" holds the mutex without a window,
// "slowexit" closes its window at once but its process needs 3 s more to
// end, "saving" is still saving its data (saved.dat, 2.5 s) when WM_CLOSE
// comes and closes only after that. A clean end exits with code 0. With
// "product.times" beside it, it records when it starts, is asked to close and
// leaves its message loop (times.log), for the bench of the downtime.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string ExeFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\') + 1);
}

std::string ReadMode() {
    std::string mode = "close";
    if (std::FILE* f = std::fopen((ExeFolder() + "product.mode").c_str(), "rb")) {
        char buffer[64] = {};
        std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        mode.assign(buffer, n);
        while (!mode.empty() &&
               (mode.back() == '\n' || mode.back() == '\r' || mode.back() == ' ')) {
            mode.pop_back();
        }
    }
    return mode;
}

void RecordStart(const std::string& mode) {
    char exe[MAX_PATH] = {};
    char cwd[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    if (std::FILE* f = std::fopen((ExeFolder() + "started.log").c_str(), "ab")) {
        // acp: the ANSI code page it runs under, for the tests that start
        // programs under another locale.
        std::fprintf(f, "pid=%lu acp=%u mode=%s exe=%s cwd=%s\n", ::GetCurrentProcessId(),
                     ::GetACP(), mode.c_str(), exe, cwd);
        std::fclose(f);
    }
}

// For the bench of the product's downtime: with "product.times" beside the
// executable, the moments of each start, each request to close and each
// exit from the message loop (QueryPerformanceCounter, one clock for every
// process of the machine) go to times.log there.
void RecordTime(const char* what) {
    const std::string folder = ExeFolder();
    if (::GetFileAttributesA((folder + "product.times").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    if (std::FILE* f = std::fopen((folder + "times.log").c_str(), "ab")) {
        std::fprintf(f, "%s %.6f\n", what, static_cast<double>(now.QuadPart) / frequency.QuadPart);
        std::fclose(f);
    }
}

bool g_ignoreClose = false;
bool g_saveOnClose = false;

// Written in pieces with pauses, like a product flushing its state; the last
// line is there only when the save ran to its end.
void SaveData() {
    std::FILE* f = std::fopen((ExeFolder() + "saved.dat").c_str(), "wb");
    if (f == nullptr) {
        return;
    }
    for (int i = 0; i < 10; ++i) {
        std::fprintf(f, "record %d\n", i);
        std::fflush(f);
        ::Sleep(250);
    }
    std::fprintf(f, "complete\n");
    std::fclose(f);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        RecordTime("close");
        if (g_ignoreClose) {
            return 0;
        }
        if (g_saveOnClose) {
            SaveData();
        }
        ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    RecordTime("start");
    std::string mode = ReadMode();
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, "Kelvo");
    (void)mutex;
    RecordStart(mode);
    g_ignoreClose = mode == "ignore";
    g_saveOnClose = mode == "saving";
    if (mode == "nowindow") {
        ::Sleep(INFINITE);
        return 0;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "KelvoProductStandIn";
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassA(&wc);
    HWND hwnd = ::CreateWindowA("KelvoProductStandIn", "Kelvo", WS_OVERLAPPEDWINDOW, 40, 40, 320,
                                200, nullptr, nullptr, instance, nullptr);
    ::ShowWindow(hwnd, show);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    RecordTime("exit");
    if (mode == "slowexit") {
        ::Sleep(3000);  // window gone, process and executable still held
    }
    return 0;
}
