// Process entry: builds the application object and runs start-up; the process
// ends when start-up returns.
#include "AppShell_win.h"
#include "CodePage_win.h"
#include "CompanionModule_win.h"
#include "ConnectionLog.h"
#include "DialerFiles.h"
#include "LocalClock_win.h"
#include "Pondo.h"

#include <windows.h>
#include <commctrl.h>

namespace {

// The current folder leaves the library search: a packet.dll or Ostrel.dll planted
// where the dialer happens to be started is never loaded. The program's own folder
// and the system folder stay. SetDefaultDllDirectories (Windows 8, or 7 with
// KB2533623) also drops PATH; without it, an empty SetDllDirectory takes the
// current folder out.
void KeepCurrentFolderOutOfTheLibrarySearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        SetDllDirectoryA("");
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    KeepCurrentFolderOutOfTheLibrarySearch();
    // The manifest asks for Common Controls 6; registering its classes before the
    // first dialog gives the controls the system's visual styles.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        PondoApp app;
        Win32AppShell shell;
        Win32CompanionModule module;
        Win32LocalClock clock;
        Win32CodePage codePage;
        // The log sits beside the user's credentials in the dialer's per-user folder.
        const std::string folder = shell.UserDataFolder();
        ConnectionLog log(Files(), clock, codePage, folder.empty() ? folder : folder + "\\");
        app.InitInstance(shell, module, log);
    } catch (...) {
        // Nothing may escape into the system's entry code.
    }
    return 0;
}
