// Program start-up in place of an application framework: one application
// object, whose InitInstance runs once on the main thread from WinMain.
#pragma once

#include <windows.h>

#include <string>

namespace kelvo::ui {

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The return value is not used for a message loop: the program has none.
    virtual BOOL InitInstance() = 0;

    static Application* Current() noexcept;

    // What the process ends with; 0 unless InitInstance says otherwise.
    void SetExitCode(int code) noexcept { exitCode_ = code; }
    int ExitCode() const noexcept { return exitCode_; }

    HINSTANCE Instance() const noexcept;
    HICON LoadIconResource(UINT id) const;

    // The owner of the program's own message boxes while the dialog is up.
    // Set and read on the main thread only.
    void SetMainWindow(HWND hwnd) noexcept { mainWindow_ = hwnd; }
    HWND MainWindow() const noexcept { return mainWindow_; }

    // The executable's file name without extension: the caption of the
    // program's own message boxes.
    std::string Name() const;

    // A message box with a string resource as text and the program's name as
    // caption, owned by the main window when there is one.
    int MessageBoxFromResource(UINT stringId, UINT type) const;

private:
    HWND mainWindow_ = nullptr;
    int exitCode_ = 0;
};

}  // namespace kelvo::ui
