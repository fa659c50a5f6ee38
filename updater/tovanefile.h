// The updater's application object: start-up, single instance, modal dialog.
#pragma once

#include "ui/application.h"

class CTovaneFileApp : public kelvo::ui::Application {
public:
    CTovaneFileApp();
    BOOL InitInstance() override;

private:
    // Tovane.exe /quiet; returns the exit code.
    int RunQuietCheck();
};

extern CTovaneFileApp theApp;
