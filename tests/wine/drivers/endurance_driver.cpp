// Endurance driver: long use of the real deliverables, with the process counters
// that show a slow leak or a busy loop.
//
//   endurance_driver library [--cycles=N] [--warmup=N] [--second-init=N] [--hold-ms=N]
//                            [--settle-ms=N] [--quiet-ms=N] [--mac=aa:bb:cc:dd:ee:ff]
//                            [--replies=N]  (replies per link request; 1, 0 for a stand-in)
//                            [--init-every=N]  (a further initThread every N cycles)
//                            [--update-url=U --update-every=N]  (every N-th cycle also
//                            asks for an update from folder U)
//       Loads Ostrel.dll from the current folder and plays the dialer's side of the
//       host interface in this process: N cycles of link up, the dialer's link
//       request, a findings read and link down; a second initThread at cycle
//       --second-init; then a quiet stretch with the link down and one with the link
//       up and the capture running, with no request, timing this process's CPU.
//   endurance_driver dialer [--cycles=N] [--warmup=N] [--title=T]
//                           [--hold-every=N] [--hold-ms=M]
//       Works the running Pondo.exe's window through N connect and hang-up cycles
//       (the access server is the test stand-in) and samples Pondo's counters;
//       every N-th cycle after the warm-up stays connected M ms (timing Pondo's CPU).
//   endurance_driver adapters
//       Prints the IP helper table: "<AdapterName> <Type> <aa:bb:..> <Description>".
//
// Output: one line per fact, words "key=value", read by bench/endurance/run.py:
//   sample <phase> handles=H threads=T private=P gdi=G user=U windows=W
//   cpu <phase> ms=M cpu_ms=C
//   cycles <phase> n=N ms=M [cpu_ms=C]
//   FAIL <what>      (any check that failed; the exit code counts them)
//   RESULT ok | RESULT failed
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "HostInterface.h"
#include "resource.h" // the dialer's control ids

namespace {

int g_failures = 0;

void Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void Fail(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Line("FAIL %s", text);
    ++g_failures;
}

// --- options -----------------------------------------------------------------
const char* Option(int argc, char** argv, const char* name) {
    const size_t n = std::strlen(name);
    for (int i = 2; i < argc; ++i)
        if (std::strncmp(argv[i], name, n) == 0 && argv[i][n] == '=')
            return argv[i] + n + 1;
    return nullptr;
}

long NumberOption(int argc, char** argv, const char* name, long fallback) {
    const char* v = Option(argc, argv, name);
    return v ? std::strtol(v, nullptr, 10) : fallback;
}

// --- process counters --------------------------------------------------------
struct Counters {
    DWORD handles = 0;
    DWORD threads = 0;
    unsigned long long privateBytes = 0;
    DWORD gdi = 0;
    DWORD user = 0;
    DWORD windows = 0; // top-level and child windows of the process
};

DWORD CountThreads(DWORD pid) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD count = 0;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == pid)
            ++count;
    CloseHandle(snap);
    return count;
}

struct WindowCount {
    DWORD pid;
    DWORD count;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM param) {
    auto* wc = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == wc->pid) {
        ++wc->count;
        EnumChildWindows(hwnd, CountChild, param);
    }
    return TRUE;
}

// --- what Wine does not count ------------------------------------------------
// Wine answers GetProcessHandleCount and GetGuiResources with 0 and leaves
// PrivateUsage 0. Under Wine the counts come from what it does keep: the system
// handle table (one row per open handle, with its owner), the process's GDI handle
// table that the PEB points at, and PagefileUsage (its anonymous resident memory).
typedef LONG(NTAPI* QuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI* QueryInformationProcessFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

DWORD CountSystemHandles(DWORD pid) {
    struct Row { // SYSTEM_HANDLE_ENTRY
        ULONG ownerPid;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Row rows[1];
    };
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = LONG(0xC0000004);
    static auto query = reinterpret_cast<QuerySystemInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    ULONG size = 1 << 16;
    for (int attempt = 0; attempt < 8; ++attempt, size *= 2) {
        void* buffer = std::malloc(size);
        if (!buffer)
            return 0;
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer, size, &needed);
        if (status == kInfoLengthMismatch) {
            std::free(buffer);
            continue;
        }
        DWORD count = 0;
        if (status == 0) {
            const auto* table = static_cast<const Table*>(buffer);
            for (ULONG i = 0; i < table->count; ++i)
                if (table->rows[i].ownerPid == pid)
                    ++count;
        }
        std::free(buffer);
        return count;
    }
    return 0;
}

// Wine's GDI handle table: 65536 entries of 24 bytes in both word sizes; an entry
// in use has a non-zero type. The table is the process's own.
DWORD CountWineGdiObjects(HANDLE process) {
    struct Entry {
        uint64_t object;
        uint32_t owner;
        uint16_t unique;
        uint8_t type;
        uint8_t flags;
        uint64_t user;
    };
    static_assert(sizeof(Entry) == 24, "Wine's GDI handle entry");
    constexpr size_t kEntries = 0x10000;
    constexpr size_t kPebGdiTable = sizeof(void*) == 8 ? 0xF8 : 0x94;
    static auto query = reinterpret_cast<QueryInformationProcessFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    static Entry* entries = static_cast<Entry*>(std::malloc(kEntries * sizeof(Entry)));
    if (!query || !entries)
        return 0;
    PROCESS_BASIC_INFORMATION basic;
    std::memset(&basic, 0, sizeof basic);
    ULONG got = 0;
    if (query(process, 0 /* ProcessBasicInformation */, &basic, sizeof basic, &got) != 0)
        return 0;
    void* table = nullptr;
    SIZE_T read = 0;
    if (!ReadProcessMemory(
            process, static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + kPebGdiTable,
            &table, sizeof table, &read) ||
        table == nullptr)
        return 0;
    if (!ReadProcessMemory(process, table, entries, kEntries * sizeof(Entry), &read))
        return 0;
    DWORD count = 0;
    for (size_t i = 0; i < read / sizeof(Entry); ++i)
        if (entries[i].type != 0)
            ++count;
    return count;
}

Counters Sample(HANDLE process, DWORD pid) {
    static const bool wine = UnderWine();
    Counters c;
    if (!GetProcessHandleCount(process, &c.handles) || (wine && c.handles == 0))
        c.handles = CountSystemHandles(pid);
    c.threads = CountThreads(pid);
    PROCESS_MEMORY_COUNTERS_EX memory;
    std::memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory))
        c.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    c.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    if (wine && c.gdi == 0)
        c.gdi = CountWineGdiObjects(process);
    c.user = GetGuiResources(process, GR_USEROBJECTS);
    WindowCount wc{pid, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&wc));
    c.windows = wc.count;
    return c;
}

void Report(const char* phase, const Counters& c) {
    Line("sample %s handles=%lu threads=%lu private=%llu gdi=%lu user=%lu windows=%lu", phase,
         (unsigned long)c.handles, (unsigned long)c.threads, c.privateBytes, (unsigned long)c.gdi,
         (unsigned long)c.user, (unsigned long)c.windows);
}

unsigned long long CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& f) {
        return (unsigned long long)f.dwHighDateTime << 32 | f.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000; // 100 ns units to ms
}

// --- the dialer's side of the host interface ---------------------------------
// Counters only: the driver itself must not grow per cycle, or it would hide or
// fake the library's figures (they share this process).
volatile LONG g_replies = 0;
volatile LONG g_macCalls = 0;
uint8_t g_mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

int32_t HOST_CALL OnSendReply(const uint8_t* message, uint32_t length) {
    if (message != nullptr && length >= 2 && message[0] == kReplyMessage)
        InterlockedIncrement(&g_replies);
    return 0;
}

int32_t HOST_CALL OnGetAdapterMac(uint8_t* mac, uint32_t length) {
    InterlockedIncrement(&g_macCalls);
    if (mac == nullptr || length < 6)
        return 1;
    std::memcpy(mac, g_mac, 6);
    return 0;
}

bool ParseMac(const char* text, uint8_t out[6]) {
    unsigned v[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = uint8_t(v[i]);
    return true;
}

// The request the dialer delivers at every link up.
const uint8_t kLinkRequest[] = {0x01, 0x0A, 0x15, 0x00, 0x1B, 0x00,
                                0x1C, 0x00, 0x1D, 0x00, 0x20, 0x00};

HostInterface g_host{};
// Replies to one link request: the real library answers with one FindingsReply;
// the scriptable stand-in answers nothing.
LONG g_expectedReplies = 1;

bool InitLibrary(InitThreadFn initThread, const char* which) {
    g_host = HostInterface{};
    g_host.SendReply = OnSendReply;
    g_host.GetAdapterMac = OnGetAdapterMac;
    const int32_t rc = initThread(&g_host);
    if (rc != kLibraryReady)
        Fail("%s initThread answered %ld", which, long(rc));
    if (!g_host.DeliverRequest || !g_host.ReadFindings || !g_host.NotifyLinkState) {
        Fail("%s initThread left a library slot empty", which);
        return false;
    }
    return true;
}

// One cycle as the dialer runs it: link up, the link request, a findings read,
// link down. Returns false on the first broken answer.
// An UpdateUrl request (item 3) for this cycle, or empty: each starts an update
// client, which link down then forgets while it runs to its end.
std::string g_updateUrl;
long g_updateEvery = 0;

bool DeliverUpdateRequest(long cycle) {
    const size_t n = g_updateUrl.size();
    uint8_t message[kMaxMessage] = {kRequestMessage, uint8_t(n + 2), UpdateUrl, uint8_t(n)};
    std::memcpy(message + 4, g_updateUrl.data(), n);
    if (g_host.DeliverRequest(message, uint32_t(n + 4)) != kRequestAccepted) {
        Fail("cycle %ld: the update request was rejected", cycle);
        return false;
    }
    return true;
}

bool LibraryCycle(long cycle, DWORD holdMs) {
    const LONG macBefore = g_macCalls, repliesBefore = g_replies;
    g_host.NotifyLinkState(1);
    if (g_macCalls != macBefore + 1) {
        Fail("cycle %ld: link up did not ask for the adapter address", cycle);
        return false;
    }
    if (g_host.DeliverRequest(kLinkRequest, sizeof kLinkRequest) != kRequestAccepted) {
        Fail("cycle %ld: the link request was rejected", cycle);
        return false;
    }
    if (g_replies != repliesBefore + g_expectedReplies) {
        Fail("cycle %ld: the link request got %ld replies, not one", cycle,
             long(g_replies - repliesBefore));
        return false;
    }
    if (g_updateEvery > 0 && cycle % g_updateEvery == 0 && !DeliverUpdateRequest(cycle))
        return false;
    if (holdMs)
        Sleep(holdMs);
    uint8_t findings[64];
    std::memset(findings, 0xEE, sizeof findings);
    uint32_t length = 0;
    if (g_host.ReadFindings(findings, &length) != 0 || length != kFindingsSize ||
        findings[0] != 0 || findings[kFindingsSize] != 0xEE) {
        Fail("cycle %ld: findings read broken (length %lu, byte 0 %u, byte 22 %02X)", cycle,
             (unsigned long)length, findings[0], findings[kFindingsSize]);
        return false;
    }
    g_host.NotifyLinkState(0);
    return true;
}

DWORD WINAPI EndAtOnce(LPVOID) {
    return 0;
}

int RunLibrary(int argc, char** argv) {
    const long cycles = NumberOption(argc, argv, "--cycles", 1000);
    const long warmup = NumberOption(argc, argv, "--warmup", 50);
    const long secondInit = NumberOption(argc, argv, "--second-init", cycles / 2);
    // A further initThread every N cycles after the second: shows whether what a
    // replaced detection thread leaves behind adds up.
    const long initEvery = NumberOption(argc, argv, "--init-every", 0);
    const DWORD holdMs = DWORD(NumberOption(argc, argv, "--hold-ms", 0));
    const DWORD settleMs = DWORD(NumberOption(argc, argv, "--settle-ms", 15000));
    const DWORD quietMs = DWORD(NumberOption(argc, argv, "--quiet-ms", 60000));
    g_expectedReplies = LONG(NumberOption(argc, argv, "--replies", 1));
    if (const char* url = Option(argc, argv, "--update-url")) {
        g_updateUrl.assign(url, std::min<size_t>(std::strlen(url), 253));
        g_updateEvery = NumberOption(argc, argv, "--update-every", 10);
    }
    if (const char* mac = Option(argc, argv, "--mac"))
        if (!ParseMac(mac, g_mac))
            Fail("unreadable --mac %s", mac);

    HMODULE library = LoadLibraryA("Ostrel.dll");
    if (!library) {
        Fail("Ostrel.dll not loaded (error %lu)", GetLastError());
        return 1;
    }
    auto initThread = reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "initThread")));
    if (!initThread) {
        Fail("Ostrel.dll has no initThread");
        return 1;
    }
    HANDLE self = GetCurrentProcess();
    const DWORD pid = GetCurrentProcessId();
    // Wine keeps about 1 MiB of the last ended thread (its stack and thread
    // records) until the next one ends. A thread of our own that ends before the
    // warm-up puts that one-time cost before the figures, so the detection thread
    // that the second initThread replaces is measured for what it leaves itself.
    if (HANDLE primer = CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, nullptr)) {
        WaitForSingleObject(primer, INFINITE);
        CloseHandle(primer);
    }
    if (!InitLibrary(initThread, "first"))
        return 1;

    // Warm-up: the first cycles, then the link held up until the detection thread
    // has run its first passes, which start the long-lived threads (the local port
    // probe and the capture's receive thread) that a lifetime has once.
    long done = 0;
    for (; done < warmup; ++done)
        if (!LibraryCycle(done, holdMs))
            return 1;
    g_host.NotifyLinkState(1);
    g_host.DeliverRequest(kLinkRequest, sizeof kLinkRequest);
    Sleep(settleMs);
    g_host.NotifyLinkState(0);
    // The first sample itself loads and touches what sampling needs (the window
    // system, the table buffers): a throw-away one keeps that out of the figures.
    Sample(self, pid);
    Report("warmup", Sample(self, pid));

    const DWORD start = GetTickCount();
    const unsigned long long cpuStart = CpuMs(self);
    for (; done < cycles; ++done) {
        if (done == secondInit ||
            (initEvery > 0 && done > secondInit && (done - secondInit) % initEvery == 0)) {
            if (!InitLibrary(initThread, "second"))
                return 1;
            Line("init at=%ld", done);
        }
        if (!LibraryCycle(done, holdMs))
            return 1;
        if ((done + 1) % 100 == 0) {
            char phase[32];
            std::snprintf(phase, sizeof phase, "cycle%ld", done + 1);
            Report(phase, Sample(self, pid));
        }
    }
    Line("cycles library n=%ld ms=%lu cpu_ms=%llu", cycles - warmup,
         (unsigned long)(GetTickCount() - start), CpuMs(self) - cpuStart);

    // Let the replaced detection thread end and the last passes finish, as the
    // warm-up did, before the end figures.
    g_host.NotifyLinkState(1);
    g_host.DeliverRequest(kLinkRequest, sizeof kLinkRequest);
    Sleep(settleMs);
    g_host.NotifyLinkState(0);
    Sleep(1000);
    Report("end", Sample(self, pid));

    if (quietMs) {
        // Quiet with the link down: the detection thread only turns.
        unsigned long long cpu0 = CpuMs(self);
        DWORD t0 = GetTickCount();
        Sleep(quietMs);
        Line("cpu quiet-down ms=%lu cpu_ms=%llu", (unsigned long)(GetTickCount() - t0),
             CpuMs(self) - cpu0);
        // Quiet with the link up: one request switches the capture and the other
        // detectors on, their first passes run, then nothing more is asked.
        g_host.NotifyLinkState(1);
        g_host.DeliverRequest(kLinkRequest, sizeof kLinkRequest);
        Sleep(settleMs);
        cpu0 = CpuMs(self);
        t0 = GetTickCount();
        Sleep(quietMs);
        Line("cpu quiet-up ms=%lu cpu_ms=%llu", (unsigned long)(GetTickCount() - t0),
             CpuMs(self) - cpu0);
        Report("quiet", Sample(self, pid));
        g_host.NotifyLinkState(0);
    }
    // The library stays loaded: its threads live as long as the process.
    return 0;
}

// --- the dialer --------------------------------------------------------------
constexpr int kConnectButton = IDC_CONNECT;
constexpr int kUserName = IDC_USERNAME;
constexpr int kStatusLine = IDC_STATUS;
// The dial notifier writes the state's own text after the link-up handling.
const char kConnected[] = "Connected";
const char kDisconnected[] = "Connection is disconnected.";

struct Find {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindMain(HWND hwnd, LPARAM param) {
    auto* f = reinterpret_cast<Find*>(param);
    char title[256] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    if (std::strcmp(title, f->title) == 0 && GetDlgItem(hwnd, kConnectButton) != nullptr) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::string ControlText(HWND control) {
    char text[512] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text - 1, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    return text;
}

// Polls until the dialog shows `status`, is (in)visible as asked and, when idle
// is asked for, has its inputs enabled again. Generous bound: Wine under load.
bool WaitState(HWND dlg, const char* status, bool visible, bool idle, DWORD boundMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const bool ok = ControlText(GetDlgItem(dlg, kStatusLine)) == status &&
                        (IsWindowVisible(dlg) != FALSE) == visible &&
                        (!idle || IsWindowEnabled(GetDlgItem(dlg, kUserName)));
        if (ok)
            return true;
        if (GetTickCount() - start > boundMs)
            return false;
        Sleep(20);
    }
}

void Click(HWND dlg) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(kConnectButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, kConnectButton)));
}

// holdMs > 0 keeps the connection that long, so the dialer's link watch (3 s)
// and findings check (30 s) run against the real library and access server.
bool DialerCycle(HWND dlg, HANDLE process, long cycle, DWORD holdMs) {
    Click(dlg);
    if (!WaitState(dlg, kConnected, false, false, 30000)) {
        Fail("cycle %ld: no connection (status \"%s\")", cycle,
             ControlText(GetDlgItem(dlg, kStatusLine)).c_str());
        return false;
    }
    if (holdMs) {
        const unsigned long long cpu0 = CpuMs(process);
        const DWORD t0 = GetTickCount();
        Sleep(holdMs);
        Line("cpu connected ms=%lu cpu_ms=%llu", (unsigned long)(GetTickCount() - t0),
             CpuMs(process) - cpu0);
        if (IsWindowVisible(dlg) || ControlText(GetDlgItem(dlg, kStatusLine)) != kConnected) {
            Fail("cycle %ld: the connection ended while held (status \"%s\")", cycle,
                 ControlText(GetDlgItem(dlg, kStatusLine)).c_str());
            return false;
        }
    }
    Click(dlg);
    if (!WaitState(dlg, kDisconnected, true, true, 30000)) {
        Fail("cycle %ld: no hang-up (status \"%s\")", cycle,
             ControlText(GetDlgItem(dlg, kStatusLine)).c_str());
        return false;
    }
    return true;
}

int RunDialer(int argc, char** argv) {
    const long cycles = NumberOption(argc, argv, "--cycles", 200);
    const long warmup = NumberOption(argc, argv, "--warmup", 10);
    const long holdEvery = NumberOption(argc, argv, "--hold-every", 0);
    const DWORD holdMs = DWORD(NumberOption(argc, argv, "--hold-ms", 35000));
    const char* title = Option(argc, argv, "--title");
    Find find{title ? title : "TALVEN PPPOE Client", nullptr};
    const DWORD start0 = GetTickCount();
    while (!find.found && GetTickCount() - start0 < 30000) {
        EnumWindows(FindMain, reinterpret_cast<LPARAM>(&find));
        if (!find.found)
            Sleep(100);
    }
    if (!find.found) {
        Fail("no main dialog titled \"%s\"", find.title);
        return 1;
    }
    HWND dlg = find.found;
    DWORD pid = 0;
    GetWindowThreadProcessId(dlg, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        Fail("cannot open the dialer's process %lu (error %lu)", (unsigned long)pid,
             GetLastError());
        return 1;
    }
    Line("dialer pid=%lu", (unsigned long)pid);
    Sample(process, pid); // loads what sampling needs in this process
    Report("start", Sample(process, pid));

    long done = 0;
    for (; done < warmup; ++done)
        if (!DialerCycle(dlg, process, done, 0))
            return 1;
    Report("warmup", Sample(process, pid));
    const DWORD start = GetTickCount();
    for (; done < cycles; ++done) {
        const bool hold = holdEvery > 0 && (done - warmup) % holdEvery == holdEvery - 1;
        if (!DialerCycle(dlg, process, done, hold ? holdMs : 0))
            return 1;
        if ((done + 1) % 50 == 0) {
            char phase[32];
            std::snprintf(phase, sizeof phase, "cycle%ld", done + 1);
            Report(phase, Sample(process, pid));
        }
    }
    Line("cycles dialer n=%ld ms=%lu", cycles - warmup, (unsigned long)(GetTickCount() - start));
    Sleep(1000);
    Report("end", Sample(process, pid));
    // All the dialer's CPU since it started: 0 where the system does not tell
    // another process's times (Wine), which makes the connected figures void.
    Line("cpu dialer-life ms=%lu cpu_ms=%llu", (unsigned long)(GetTickCount() - start0),
         CpuMs(process));
    CloseHandle(process);
    return 0;
}

typedef DWORD(WINAPI* GetAdaptersInfoFn)(PIP_ADAPTER_INFO, PULONG);

int RunAdapters() {
    // Loaded at run time: the drivers share one link line.
    HMODULE iphlpapi = LoadLibraryA("iphlpapi.dll");
    auto getAdaptersInfo = iphlpapi ? reinterpret_cast<GetAdaptersInfoFn>(reinterpret_cast<void*>(
                                          GetProcAddress(iphlpapi, "GetAdaptersInfo")))
                                    : nullptr;
    if (!getAdaptersInfo)
        return 1;
    ULONG size = 0;
    getAdaptersInfo(nullptr, &size);
    if (size == 0)
        return 2;
    void* buffer = std::calloc(1, size);
    if (getAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(buffer), &size) != NO_ERROR) {
        std::free(buffer);
        return 2;
    }
    for (auto* a = static_cast<IP_ADAPTER_INFO*>(buffer); a; a = a->Next) {
        std::printf("%s %u ", a->AdapterName, unsigned(a->Type));
        for (UINT i = 0; i < 6; ++i)
            std::printf(i ? ":%02x" : "%02x", a->Address[i]);
        std::printf(" %s\n", a->Description);
    }
    std::free(buffer);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    int rc;
    if (mode == "library") {
        rc = RunLibrary(argc, argv);
    } else if (mode == "dialer") {
        rc = RunDialer(argc, argv);
    } else if (mode == "adapters") {
        return RunAdapters();
    } else {
        std::fprintf(stderr, "usage: endurance_driver library|dialer|adapters [options]\n");
        return 2;
    }
    if (rc != 0 && g_failures == 0)
        ++g_failures;
    Line("RESULT %s", g_failures == 0 ? "ok" : "failed");
    // The library's threads are still running: end without unloading anything.
    std::fflush(stdout);
    ExitProcess(UINT(g_failures));
}
