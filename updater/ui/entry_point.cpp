// The program's entry point: it hands over to the one application object,
// which a translation unit of the program defines. Kept out of the library
// that tests link, which bring their own main.
#include "application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    kelvo::ui::Application* app = kelvo::ui::Application::Current();
    if (app == nullptr) {
        return 1;
    }
    app->InitInstance();
    return app->ExitCode();
}
