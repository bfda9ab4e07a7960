// Drives the real Ostrel.dll's self-update: loads the library from the current
// folder, calls initThread, delivers one request with an UpdateUrl item and waits
// for the update client thread that it starts to end (the update message box, if
// any, holds it until someone clicks OK).
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

int32_t HOST_CALL SendReply(const uint8_t*, uint32_t) {
    return 0;
}
int32_t HOST_CALL GetAdapterMac(uint8_t*, uint32_t) {
    return 1;
}

std::set<DWORD> OwnThreads() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

} // namespace

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
    // The update client is the first thread the request started; the threads it
    // starts for its downloads may already run too, and one given up on may stay
    // blocked in a hostile server's answer: only the client is waited for.
    HANDLE client = nullptr;
    ULONGLONG clientCreated = ~0ULL;
    for (DWORD id : OwnThreads()) {
        if (before.count(id))
            continue;
        HANDLE h = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (!h)
            continue;
        FILETIME created, exited, kernel, user;
        ULONGLONG at = ~0ULL;
        if (GetThreadTimes(h, &created, &exited, &kernel, &user))
            at = (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        if (!client || at < clientCreated) {
            if (client)
                CloseHandle(client);
            client = h;
            clientCreated = at;
        } else {
            CloseHandle(h);
        }
    }
    if (!client) {
        std::printf("ended\n"); // nothing was started (or it ended already)
        return 0;
    }
    const DWORD result = WaitForSingleObject(client, waitMs);
    std::printf(result == WAIT_TIMEOUT ? "still running\n" : "ended\n");
    std::fflush(stdout);
    // A download thread still blocked in a hostile answer must not hold the exit.
    ExitProcess(result == WAIT_TIMEOUT ? 3 : 0);
}
