// Drives the real Ostrel.dll's traffic capture from outside, as the dialer would:
//   capture_driver.exe ITEMS SECONDS [REINIT [MAC]]
// loads Ostrel.dll from the current folder, calls initThread, reports the link
// up, delivers a request that switches on the detection items ITEMS (comma list;
// 30: relayed requests, 32: BitTorrent), repeats it every few seconds so passes
// come soon, and reads the findings once a second for SECONDS seconds or until
// findings byte 16 or 21 is set. With REINIT, initThread is called a second time
// REINIT seconds in (a new detection thread replaces the first) and the link is
// reported up again (0: never). MAC (aa:bb:cc:dd:ee:ff) is the access adapter's
// hardware address that GetAdapterMac answers (default 02:fc:00:00:00:01). Prints
// one line per change:
//   findings <t ms> <22 bytes in hex>
// and at the end "result <byte 16> <byte 21>", then reports the link down.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "HostInterface.h"

namespace {

// The two capture findings in the record ReadFindings copies out.
constexpr size_t kRelayedByte = offsetof(DetectionFindings, relayedRequest);
constexpr size_t kBitTorrentByte = offsetof(DetectionFindings, bitTorrent);

uint8_t g_accessMac[6] = {0x02, 0xfc, 0x00, 0x00, 0x00, 0x01};

int32_t HOST_CALL SendReply(const uint8_t*, uint32_t) {
    return 0;
}

int32_t HOST_CALL GetAdapterMac(uint8_t* mac, uint32_t) {
    memcpy(mac, g_accessMac, 6);
    return 0;
}

HostInterface g_host = {SendReply, GetAdapterMac, nullptr, nullptr, nullptr};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        printf("usage: capture_driver ITEM SECONDS\n");
        return 2;
    }
    uint8_t request[64] = {kRequestMessage, 0};
    size_t length = 2;
    for (const char* p = argv[1]; *p && length + 2 <= sizeof request;) {
        request[length++] = uint8_t(atoi(p));
        request[length++] = 0;
        const char* comma = strchr(p, ',');
        if (comma == nullptr)
            break;
        p = comma + 1;
    }
    request[1] = uint8_t(length - 2);
    const DWORD seconds = DWORD(atoi(argv[2]));
    DWORD reinitAt = argc > 3 ? DWORD(atoi(argv[3])) * 1000 : 0;
    if (argc > 4) {
        unsigned v[6];
        if (sscanf(argv[4], "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) {
            printf("bad MAC %s\n", argv[4]);
            return 2;
        }
        for (int i = 0; i < 6; ++i)
            g_accessMac[i] = uint8_t(v[i]);
    }

    HMODULE library = LoadLibraryA("Ostrel.dll");
    if (library == nullptr) {
        printf("no library\n");
        return 3;
    }
    auto init = reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "initThread")));
    if (init == nullptr || init(&g_host) != kLibraryReady) {
        printf("library not ready\n");
        return 4;
    }
    g_host.NotifyLinkState(1);

    const DWORD start = GetTickCount();
    DWORD lastRequest = 0;
    bool first = true;
    uint8_t last[kFindingsSize] = {};
    uint8_t findings[204] = {};
    for (;;) {
        const DWORD now = GetTickCount() - start;
        if (reinitAt != 0 && now >= reinitAt) {
            printf("reinit %lu -> %d\n", static_cast<unsigned long>(now), int(init(&g_host)));
            fflush(stdout);
            g_host.NotifyLinkState(1);
            g_host.DeliverRequest(request, uint32_t(length));
            lastRequest = now;
            reinitAt = 0;
        }
        if (first || now - lastRequest >= 5000) {
            g_host.DeliverRequest(request, uint32_t(length));
            lastRequest = now;
        }
        memset(findings, 0, sizeof findings);
        uint32_t findingsLength = 0;
        g_host.ReadFindings(findings, &findingsLength);
        if (first || memcmp(findings, last, kFindingsSize) != 0) {
            printf("findings %lu", static_cast<unsigned long>(now));
            for (size_t i = 0; i < kFindingsSize; ++i)
                printf(" %02x", findings[i]);
            printf("\n");
            fflush(stdout);
            memcpy(last, findings, kFindingsSize);
        }
        first = false;
        if (findings[kRelayedByte] != 0 || findings[kBitTorrentByte] != 0 || now >= seconds * 1000)
            break;
        Sleep(1000);
    }
    printf("result %d %d\n", findings[kRelayedByte], findings[kBitTorrentByte]);
    fflush(stdout);
    g_host.NotifyLinkState(0);
    return 0;
}
