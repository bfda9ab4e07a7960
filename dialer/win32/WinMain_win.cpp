// Process entry: builds the application object and runs start-up; the process
// ends when start-up returns.
#include "AppShell_win.h"
#include "CodePage_win.h"
#include "CompanionModule_win.h"
#include "ConnectionLog.h"
#include "DialerFiles.h"
#include "LocalClock_win.h"
#include "Pondo.h"
#include "UserDataFolder.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        PondoApp app;
        Win32AppShell shell;
        Win32CompanionModule module;
        Win32LocalClock clock;
        Win32CodePage codePage;
        ConnectionLog log(Files(), clock, codePage, UserDataFolder());
        app.InitInstance(shell, module, log);
    } catch (...) {
        // Nothing may escape into the system's entry code.
    }
    return 0;
}
