// Plays the dialer's side of the host interface against the real Ostrel.dll:
// loads it from the current folder, calls initThread with a HostInterface of its
// own and checks what comes back. One check per line ("ok ..." / "FAIL ..."),
// then "RESULT ok" or "RESULT failed"; the exit code is the number of failures.
//
//   contract_driver contract [--mac=aa:bb:cc:dd:ee:ff --ip=a.b.c.d]
//   contract_driver unload
//   contract_driver renamed     (loads a copy named Renamed.dll: no signature list)
//   contract_driver window MS   (only shows a window titled like a listed program
//                                for MS milliseconds, for tests of the whole system)
#include <winsock2.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "HostInterface.h"

namespace {

using Bytes = std::vector<uint8_t>;

CRITICAL_SECTION g_lock;
std::vector<Bytes> g_replies;
int g_macCalls = 0;
uint32_t g_macLength = 0;
uint8_t g_mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
int g_failures = 0;

int32_t HOST_CALL OnSendReply(const uint8_t* message, uint32_t length) {
    EnterCriticalSection(&g_lock);
    g_replies.emplace_back(message, message + length);
    LeaveCriticalSection(&g_lock);
    return 0;
}

int32_t HOST_CALL OnGetAdapterMac(uint8_t* mac, uint32_t length) {
    EnterCriticalSection(&g_lock);
    ++g_macCalls;
    g_macLength = length;
    std::memcpy(mac, g_mac, 6);
    LeaveCriticalSection(&g_lock);
    return 0;
}

std::vector<Bytes> TakeReplies() {
    EnterCriticalSection(&g_lock);
    std::vector<Bytes> out;
    out.swap(g_replies);
    LeaveCriticalSection(&g_lock);
    return out;
}

void Check(bool ok, const char* what, ...) {
    char text[512];
    va_list args;
    va_start(args, what);
    vsnprintf(text, sizeof text, what, args);
    va_end(args);
    std::printf("%s %s\n", ok ? "ok" : "FAIL", text);
    std::fflush(stdout);
    if (!ok)
        ++g_failures;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char two[4];
    for (uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02X ", v);
        s += two;
    }
    return s;
}

std::string HexList(const std::vector<Bytes>& list) {
    std::string s = "[";
    for (const Bytes& b : list)
        s += " {" + Hex(b) + "}";
    return s + " ]";
}

// Waits while handling this thread's messages: the library's window pass asks
// our window for its title, which this thread answers.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

struct Library {
    HMODULE module = nullptr;
    InitThreadFn init = nullptr;
    HostInterface host{};
};

bool Load(Library& lib) {
    lib.module = LoadLibraryA("Ostrel.dll");
    const DWORD error = lib.module ? 0 : GetLastError();
    Check(lib.module != nullptr, "LoadLibrary Ostrel.dll (error %lu)", error);
    if (!lib.module)
        return false;
    lib.init = reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(lib.module, "initThread")));
    Check(lib.init != nullptr, "initThread is exported undecorated");
    if (!lib.init)
        return false;
    lib.host.SendReply = OnSendReply;
    lib.host.GetAdapterMac = OnGetAdapterMac;
    const int32_t answer = lib.init(&lib.host);
    Check(answer == 0, "initThread answers ready (%d)", int(answer));
    Check(lib.host.DeliverRequest && lib.host.ReadFindings && lib.host.NotifyLinkState,
          "initThread writes slots 2 to 4");
    return lib.host.DeliverRequest && lib.host.ReadFindings && lib.host.NotifyLinkState;
}

int32_t Deliver(Library& lib, const Bytes& m) {
    return lib.host.DeliverRequest(m.data(), uint32_t(m.size()));
}

DetectionFindings Findings(Library& lib, int32_t* result = nullptr, uint32_t* length = nullptr) {
    uint8_t buffer[64];
    std::memset(buffer, 0xAB, sizeof buffer);
    uint32_t n = 0;
    const int32_t r = lib.host.ReadFindings(buffer, &n);
    if (result)
        *result = r;
    if (length)
        *length = n;
    DetectionFindings f;
    std::memcpy(&f, buffer, sizeof f);
    return f;
}

// A UDP endpoint of our own, so a pass that counts them has one to see.
bool OpenUdpEndpoint() {
    HMODULE ws = LoadLibraryA("ws2_32.dll");
    if (!ws)
        return false;
    auto startup = reinterpret_cast<int(WINAPI*)(WORD, WSADATA*)>(
        reinterpret_cast<void*>(GetProcAddress(ws, "WSAStartup")));
    auto open = reinterpret_cast<SOCKET(WINAPI*)(int, int, int)>(
        reinterpret_cast<void*>(GetProcAddress(ws, "socket")));
    auto bindTo = reinterpret_cast<int(WINAPI*)(SOCKET, const sockaddr*, int)>(
        reinterpret_cast<void*>(GetProcAddress(ws, "bind")));
    if (!startup || !open || !bindTo)
        return false;
    WSADATA data;
    if (startup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET s = open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = 0x0100007f; // 127.0.0.1, network order
    return bindTo(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

// A top-level window whose title the shipped signature list knows.
void OpenListedWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ContractDriverWindow";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("ContractDriverWindow", "CCProxy 7.2 - 3 users", WS_OVERLAPPEDWINDOW, 0,
                           0, 200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    Check(w != nullptr, "a window titled like a listed program");
    if (w)
        ShowWindow(w, SW_SHOWNOACTIVATE);
}

template <class Pred> bool PumpUntil(Pred pred, DWORD boundMs, DWORD* elapsed) {
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > boundMs)
            return false;
        Pump(50);
    }
    *elapsed = GetTickCount() - start;
    return true;
}

bool ParseMac(const char* text, uint8_t mac[6]) {
    unsigned v[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = uint8_t(v[i]);
    return true;
}

int Contract(int argc, char** argv) {
    unsigned ip[4] = {0, 0, 0, 0};
    bool haveIp = false;
    for (int i = 2; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--mac=", 6))
            ParseMac(argv[i] + 6, g_mac);
        if (!std::strncmp(argv[i], "--ip=", 5))
            haveIp = std::sscanf(argv[i] + 5, "%u.%u.%u.%u", &ip[0], &ip[1], &ip[2], &ip[3]) == 4;
    }
    Library lib;
    if (!Load(lib))
        return 1;

    int32_t r;
    uint32_t length;
    DetectionFindings f = Findings(lib, &r, &length);
    Check(r == 0 && length == 22, "ReadFindings answers 0 with length 22 (%d, %u)", int(r),
          unsigned(length));
    Bytes raw(reinterpret_cast<uint8_t*>(&f), reinterpret_cast<uint8_t*>(&f) + sizeof f);
    Check(raw == Bytes(22, 0), "findings before link up are all zero: %s", Hex(raw).c_str());

    struct Example {
        Bytes request;
        int32_t result;
        std::vector<Bytes> replies;
    };
    const Example examples[] = {
        {{1, 10, 0x15, 0, 0x1B, 0, 0x1C, 0, 0x1D, 0, 0x20, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2}, 1, {}},
        {{2, 2, 0x14, 0}, 1, {}},
        {{1, 5, 0x15, 0}, 1, {}},
        {{1, 4, 0x15, 0, 0x1B, 5}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x14, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 4, 0x15, 0, 0x14, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 4, 0x19, 2, 0, 5}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x28, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x05, 0}, 0, {{2, 14, 5, 4, 0, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0}}},
    };
    for (const Example& e : examples) {
        const int32_t got = Deliver(lib, e.request);
        const std::vector<Bytes> replies = TakeReplies();
        Check(got == e.result && replies == e.replies, "request %s-> %d, replies %s",
              Hex(e.request).c_str(), int(got), HexList(replies).c_str());
    }

    // Link up: the library asks for the access adapter's hardware address.
    Check(lib.host.NotifyLinkState(1) == 0, "NotifyLinkState(up) answers 0");
    EnterCriticalSection(&g_lock);
    const int macCalls = g_macCalls;
    const uint32_t macLength = g_macLength;
    LeaveCriticalSection(&g_lock);
    Check(macCalls == 1 && macLength == 6, "link up asked GetAdapterMac once with length 6");
    Deliver(lib, {1, 2, 0x05, 0});
    const std::vector<Bytes> address = TakeReplies();
    Bytes expected = {2, 14, 5, 4, 0, 0, 0, 0, 6, 6};
    if (haveIp)
        for (int i = 0; i < 4; ++i)
            expected[4 + i] = uint8_t(ip[3 - i]);
    expected.insert(expected.end(), g_mac, g_mac + 6);
    Check(address.size() == 1 && (!haveIp || address[0] == expected) && address[0].size() == 16 &&
              std::memcmp(address[0].data() + 10, g_mac, 6) == 0,
          "address reply %s (expected %s)", HexList(address).c_str(), Hex(expected).c_str());

    // A detection request runs a pass at the loop's next turn: every local
    // detector, the UDP count with threshold 1 sees our own endpoint.
    Check(OpenUdpEndpoint(), "a UDP endpoint of our own");
    const Bytes all = {1, 20,   0x15, 0, 0x16, 0,    0x17, 0,    0x19, 2,    0,
                       1, 0x1A, 2,    0, 1,    0x1B, 0,    0x1C, 0,    0x1F, 0};
    Check(Deliver(lib, all) == 0, "detection request accepted");
    TakeReplies();
    DWORD elapsed = 0;
    const bool passed =
        PumpUntil([&] { return int32_t(Findings(lib).udpEndpoints) >= 1; }, 30000, &elapsed);
    Check(passed && elapsed <= 15000, "a pass ran %lu ms after the request", elapsed);
    f = Findings(lib);
    Check(f.programFeatures == 0, "no listed program before our window exists");
    std::printf("findings after the pass: tcp %d udp %d adapters %u addresses %u\n",
                int(int32_t(f.tcpConnections)), int(int32_t(f.udpEndpoints)),
                unsigned(f.adapterCount), unsigned(f.addressCount));

    OpenListedWindow();
    Deliver(lib, all);
    TakeReplies();
    const bool found =
        PumpUntil([&] { return Findings(lib).programFeatures == 1; }, 30000, &elapsed);
    Check(found, "the window pass finds the listed program (%lu ms)", elapsed);
    Deliver(lib, {1, 6, 0x1C, 0, 0x1A, 2, 0, 1});
    const std::vector<Bytes> reply = TakeReplies();
    const int32_t udp = int32_t(Findings(lib).udpEndpoints);
    const Bytes expectReply = {2, 7, 0x1A, 2, uint8_t(udp >> 8), uint8_t(udp), 0x1C, 1, 1};
    Check(reply.size() == 1 && reply[0] == expectReply, "findings reply %s (expected %s)",
          HexList(reply).c_str(), Hex(expectReply).c_str());

    // Link down clears the findings.
    lib.host.NotifyLinkState(0);
    f = Findings(lib, &r, &length);
    raw.assign(reinterpret_cast<uint8_t*>(&f), reinterpret_cast<uint8_t*>(&f) + sizeof f);
    Check(r == 0 && raw == Bytes(22, 0), "findings after link down are all zero: %s",
          Hex(raw).c_str());

    // A second initThread replaces the detection thread; the library still answers.
    Check(lib.init(&lib.host) == 0, "a second initThread answers ready");
    Findings(lib, &r, &length);
    Check(r == 0 && length == 22, "ReadFindings after the second initThread");
    return g_failures;
}

// The host unloads the library while its detection thread runs: the process
// must live on (the library keeps its code loaded for its threads).
int Unload() {
    Library lib;
    if (!Load(lib))
        return 1;
    lib.host.NotifyLinkState(1);
    Deliver(lib, {1, 6, 0x15, 0, 0x1A, 2, 0, 1});
    TakeReplies();
    Pump(500);
    Check(FreeLibrary(lib.module) != 0, "FreeLibrary");
    Check(GetModuleHandleA("Ostrel.dll") != nullptr, "the library stays mapped for its threads");
    Pump(25000); // more than two turns of the detection loop and a pass
    Check(true, "the process survived 25 s after FreeLibrary");
    return g_failures;
}

// The library finds its signature list by its own file name: under another
// name it loads no records and refuses, though its entry points still answer.
int Renamed() {
    HMODULE module = LoadLibraryA("Renamed.dll");
    Check(module != nullptr, "LoadLibrary Renamed.dll");
    if (!module)
        return g_failures;
    auto init = reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "initThread")));
    Check(init != nullptr, "initThread exported");
    if (!init)
        return g_failures;
    HostInterface host{OnSendReply, OnGetAdapterMac, nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        const int32_t answer = init(&host);
        Check(answer == 0xffff, "initThread refuses without its list (%d)", int(answer));
    }
    uint8_t buffer[22];
    uint32_t length = 0;
    Check(host.ReadFindings && host.ReadFindings(buffer, &length) == 0 && length == 22,
          "the entry points are written and answer all the same");
    return g_failures;
}

// Keeps a window titled like a listed program up for `ms`, answering its messages.
int ShowListedWindow(DWORD ms) {
    OpenListedWindow();
    std::printf("window up\n");
    std::fflush(stdout);
    Pump(ms);
    return g_failures;
}

} // namespace

int main(int argc, char** argv) {
    InitializeCriticalSection(&g_lock);
    const char* mode = argc > 1 ? argv[1] : "contract";
    int failures;
    if (!std::strcmp(mode, "unload"))
        failures = Unload();
    else if (!std::strcmp(mode, "renamed"))
        failures = Renamed();
    else if (!std::strcmp(mode, "window"))
        failures = ShowListedWindow(argc > 2 ? DWORD(std::strtoul(argv[2], nullptr, 10)) : 60000);
    else
        failures = Contract(argc, argv);
    std::printf("RESULT %s\n", failures == 0 ? "ok" : "failed");
    std::fflush(stdout);
    return failures;
}
