// The library's export and DLL entry. DllMain does nothing: the ports are
// installed and the module pinned by the first initThread, on the caller's thread.
#include <windows.h>

#include <mutex>

#include "CaptureDriver.h"
#include "CaptureDriver_win.h"
#include "HostTables.h"
#include "LibraryEntry.h"
#include "ModuleResources.h"
#include "Ports.h"
#include "ProgramSnapshot.h"
#include "ServiceControl.h"
#include "SystemClock.h"
#include "Win32Ports.h"

extern "C" int32_t __stdcall initThread(HostInterface* host);

namespace {

std::once_flag g_prepared;

void PrepareLibrary() {
    CompanionPorts& ports = Ports();
    ports.hostTables = CreateWin32HostTables();
    ports.resources = CreateWin32ModuleResources();
    ports.programs = CreateWin32ProgramSnapshot();
    ports.services = CreateWin32ServiceControl();
    ports.clock = CreateWin32SystemClock();
    ports.capture = CreateWin32CaptureDriver(); // loads packet.dll only when first used
    // Our threads run detached for as long as the process lives and no unload
    // step could stop them safely, so the module is pinned: a FreeLibrary by the
    // host then leaves the code in place instead of pulling it from under them.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&initThread), &self);
}

} // namespace

extern "C" int32_t __stdcall initThread(HostInterface* host) {
    try {
        std::call_once(g_prepared, PrepareLibrary);
        return InitThreadEntry(host);
    } catch (...) {
        return kLibraryRefuses;
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
