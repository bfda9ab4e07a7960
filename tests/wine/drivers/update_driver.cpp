// Drives the real Ostrel.dll's self-update: loads the library from the current
// folder, calls initThread, delivers one request with an UpdateUrl item and waits
// for the update thread that it starts to end (the update message box, if any,
// holds it until someone clicks OK).
//
//   update_driver.exe URL-LIST [WAIT-MS]
// Prints "init N", "deliver N", then "ended" (exit 0) or "still running" (exit 3).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "HostInterface.h"

namespace {

int32_t HOST_CALL SendReply(const uint8_t*, uint32_t) { return 0; }
int32_t HOST_CALL GetAdapterMac(uint8_t*, uint32_t) { return 1; }

std::set<DWORD> OwnThreads() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2 || std::strlen(argv[1]) > 253) {
        std::fprintf(stderr, "usage: update_driver URL-LIST [WAIT-MS]\n");
        return 2;
    }
    const DWORD waitMs = argc > 2 ? DWORD(std::strtoul(argv[2], nullptr, 10)) : 60000;
    HMODULE library = LoadLibraryA("Ostrel.dll");
    if (!library) {
        std::printf("no library\n");
        return 2;
    }
    auto init = reinterpret_cast<InitThreadFn>(
                    reinterpret_cast<void*>(GetProcAddress(library, "initThread")));
    if (!init) {
        std::printf("no initThread\n");
        return 2;
    }
    static HostInterface host = {SendReply, GetAdapterMac, nullptr, nullptr, nullptr};
    std::printf("init %d\n", int(init(&host)));

    const size_t n = std::strlen(argv[1]);
    std::vector<uint8_t> message = {kRequestMessage, uint8_t(n + 2), UpdateUrl, uint8_t(n)};
    message.insert(message.end(), argv[1], argv[1] + n);

    const std::set<DWORD> before = OwnThreads();
    std::printf("deliver %d\n", int(host.DeliverRequest(message.data(), uint32_t(message.size()))));
    std::vector<HANDLE> started;
    for (DWORD id : OwnThreads())
        if (!before.count(id))
            if (HANDLE h = OpenThread(SYNCHRONIZE, FALSE, id)) started.push_back(h);
    if (started.empty()) {
        std::printf("ended\n");  // nothing was started (or it ended already)
        return 0;
    }
    const DWORD result =
        WaitForMultipleObjects(DWORD(started.size()), started.data(), TRUE, waitMs);
    std::printf(result == WAIT_TIMEOUT ? "still running\n" : "ended\n");
    return result == WAIT_TIMEOUT ? 3 : 0;
}
