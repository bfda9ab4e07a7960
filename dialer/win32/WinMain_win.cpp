// Process entry: builds the application object and runs start-up; the process
// ends when start-up returns.
#include "AppShell_win.h"
#include "CompanionModule_win.h"
#include "Pondo.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        PondoApp app;
        Win32AppShell shell;
        Win32CompanionModule module;
        app.InitInstance(shell, module);
    } catch (...) {
        // Nothing may escape into the system's entry code.
    }
    return 0;
}
