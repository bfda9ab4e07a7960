// Process entry: builds the application object and runs start-up; the process
// ends when start-up returns.
#include "AppShell_win.h"
#include "CompanionModule_win.h"
#include "Pondo.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The current folder leaves the library search: a packet.dll or Ostrel.dll
    // planted where the dialer happens to be started is never loaded. The
    // program's own folder and the system folders stay.
    SetDllDirectoryA("");
    // The manifest asks for Common Controls 6; registering its classes before the
    // first dialog gives the controls the system's visual styles.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
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
