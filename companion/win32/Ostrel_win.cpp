// The library's export and DLL entry. DllMain does nothing: the first initThread,
// on the caller's thread, creates every Win32 port (here, and nowhere else), makes
// the Library over them and pins the module.
#include <windows.h>

#include <mutex>
#include <new>

#include "CaptureDriver.h"
#include "FileStore.h"
#include "HostTables.h"
#include "InternetSession.h"
#include "Library.h"
#include "ModuleResources.h"
#include "ProgramSnapshot.h"
#include "ServiceControl.h"
#include "SystemClock.h"
#include "UpdateCrypto.h"
#include "UserNotice.h"
#include "Win32Ports.h"

extern "C" int32_t __stdcall initThread(HostInterface* host);

namespace {

// The library with the ports it runs on. The ports are made first, as declared.
struct HostedLibrary {
    std::unique_ptr<HostTables> hostTables = CreateWin32HostTables();
    std::unique_ptr<ModuleResources> resources = CreateWin32ModuleResources();
    std::unique_ptr<ProgramSnapshot> programs = CreateWin32ProgramSnapshot();
    std::unique_ptr<ServiceControl> services = CreateWin32ServiceControl();
    std::unique_ptr<CaptureDriver> capture = CreateWin32CaptureDriver();
    std::unique_ptr<InternetSession> internet = CreateWin32InternetSession();
    std::unique_ptr<FileStore> files = CreateWin32FileStore();
    std::unique_ptr<UserNotice> notice = CreateWin32UserNotice();
    std::unique_ptr<UpdateCrypto> crypto = CreateWin32UpdateCrypto();
    std::unique_ptr<SystemClock> clock = CreateWin32SystemClock();
    Library library{Table()};

    CompanionPorts Table() const {
        CompanionPorts ports;
        ports.hostTables = hostTables.get();
        ports.resources = resources.get();
        ports.programs = programs.get();
        ports.services = services.get();
        ports.capture = capture.get();
        ports.internet = internet.get();
        ports.files = files.get();
        ports.notice = notice.get();
        ports.crypto = crypto.get();
        ports.clock = clock.get();
        return ports;
    }
};

// Made in place and never destroyed: the library's threads run for as long as
// the process lives, and a destructor run at process exit would join them under
// the loader lock.
alignas(HostedLibrary) unsigned char g_storage[sizeof(HostedLibrary)];
std::once_flag g_prepared;

void PrepareLibrary() {
    new (g_storage) HostedLibrary;
    // No unload step could stop the threads safely, so the module is pinned: a
    // FreeLibrary by the host then leaves the code in place instead of pulling it
    // from under them.
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
