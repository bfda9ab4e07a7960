// Drives the real Ostrel.dll's local proxy probe: loads the library, calls
// initThread, reports link up, switches LocalProxy on and asks for passes until
// findings byte 15 is set or the time is up.
//
//   probe_driver.exe WAIT-MS
// Prints "found" (exit 0) or "not found" (exit 1).
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "HostInterface.h"

namespace {
int32_t HOST_CALL SendReply(const uint8_t*, uint32_t) {
    return 0;
}
int32_t HOST_CALL GetAdapterMac(uint8_t* mac, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        mac[i] = 0;
    return 1;
}
} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const DWORD waitMs = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 60000;
    HMODULE library = LoadLibraryA("Ostrel.dll");
    auto init = library ? reinterpret_cast<InitThreadFn>(
                              reinterpret_cast<void*>(GetProcAddress(library, "initThread")))
                        : nullptr;
    if (!init) {
        std::printf("no library\n");
        return 2;
    }
    static HostInterface host = {SendReply, GetAdapterMac, nullptr, nullptr, nullptr};
    init(&host);
    host.NotifyLinkState(1);
    // Only LocalProxy on: 01 02 1D 00.
    const uint8_t request[] = {kRequestMessage, 2, LocalProxy, 0};
    const DWORD start = GetTickCount();
    DWORD lastRequest = 0;
    bool first = true;
    while (GetTickCount() - start < waitMs) {
        // A request brings a pass forward to the loop's next turn: the first pass
        // starts the probe, the later ones report what it found.
        if (first || GetTickCount() - lastRequest >= 5000) {
            host.DeliverRequest(request, sizeof(request));
            lastRequest = GetTickCount();
            first = false;
        }
        uint8_t findings[kFindingsSize] = {};
        uint32_t length = 0;
        if (host.ReadFindings(findings, &length) == 0 && length == kFindingsSize &&
            findings[offsetof(DetectionFindings, localProxy)] == 1) {
            std::printf("found\n");
            return 0;
        }
        Sleep(500);
    }
    std::printf("not found\n");
    return 1;
}
