// Test stand-in for the capture driver's user library packet.dll. It lists the
// adapters named in packet-standin.ini (beside this DLL) and, per open adapter,
// replays a pcap file into a driver-like kernel buffer as bpf records, signalling
// the adapter's read event as the real driver does. Every call is appended to
// packet-standin.log beside the DLL. See README.md for the file formats.
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "packet32.h"

using packet32::ADAPTER;
using packet32::bpf_hdr;
using packet32::PACKET;

namespace {

const char kDevicePrefix[] = "\\Device\\NPF_";

struct AdapterConfig {
    std::string name;
    std::string pcapPath; // empty: the adapter is listed but sees no traffic
    std::set<std::string> failures;
    bool hasMac = false;
    uint8_t mac[6] = {};
};

// "replay MAC FILE": the adapter with that hardware address replays FILE.
struct Replay {
    std::array<uint8_t, 6> mac;
    std::string pcapPath;
};

struct Config {
    std::vector<AdapterConfig> adapters;
    std::vector<Replay> replays;
    bool namesFail = false;
    int framesPerBatch = 16;
    int intervalMs = 20;
    int startDelayMs = 0;
    bool loop = false;
};

HMODULE g_self = nullptr;
CRITICAL_SECTION g_logLock;

std::string FolderOfSelf() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    std::string s(path);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

void Log(const std::string& line) {
    EnterCriticalSection(&g_logLock);
    FILE* f = fopen((FolderOfSelf() + "packet-standin.log").c_str(), "ab");
    if (f) {
        fprintf(f, "%s\r\n", line.c_str());
        fclose(f);
    }
    LeaveCriticalSection(&g_logLock);
}

bool ParseMac(const std::string& text, uint8_t out[6]) {
    unsigned v[6];
    if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = uint8_t(v[i]);
    return true;
}

std::string FromSelfFolder(const std::string& path) {
    const bool absolute = path.size() > 1 && (path[1] == ':' || path[0] == '\\' || path[0] == '/');
    return absolute ? path : FolderOfSelf() + path;
}

// The hardware address the IP helper service reports for the adapter of that name,
// as the driver knows the address of the adapter it is bound to.
bool MacOfAdapter(const std::string& adapterName, std::array<uint8_t, 6>& mac) {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(list, &size) != NO_ERROR)
        return false;
    for (const IP_ADAPTER_INFO* a = list; a != nullptr; a = a->Next) {
        if (adapterName == a->AdapterName && a->AddressLength >= 6) {
            std::copy(a->Address, a->Address + 6, mac.begin());
            return true;
        }
    }
    return false;
}

// Read afresh at every call so a test can rewrite the file between runs.
Config ReadConfig() {
    Config config;
    std::ifstream in(FolderOfSelf() + "packet-standin.ini");
    std::string line;
    auto find = [&config](const std::string& name) -> AdapterConfig* {
        for (auto& a : config.adapters)
            if (a.name == name)
                return &a;
        return nullptr;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string key, a, b;
        if (!(words >> key))
            continue;
        words >> a;
        std::getline(words, b);
        b.erase(0, std::min(b.size(), b.find_first_not_of(" \t")));
        while (!b.empty() && (b.back() == ' ' || b.back() == '\t'))
            b.pop_back();
        if (key == "adapter" && !a.empty()) {
            AdapterConfig adapter;
            adapter.name = a;
            if (!b.empty())
                adapter.pcapPath = FromSelfFolder(b);
            config.adapters.push_back(adapter);
        } else if (key == "replay" && !b.empty()) {
            Replay replay;
            if (ParseMac(a, replay.mac.data())) {
                replay.pcapPath = FromSelfFolder(b);
                config.replays.push_back(replay);
            }
        } else if (key == "fail" && find(a)) {
            find(a)->failures.insert(b);
        } else if (key == "mac" && find(a)) {
            find(a)->hasMac = ParseMac(b, find(a)->mac);
        } else if (key == "names" && a == "fail") {
            config.namesFail = true;
        } else if (key == "batch") {
            config.framesPerBatch = std::max(1, atoi(a.c_str()));
        } else if (key == "interval") {
            config.intervalMs = std::max(1, atoi(a.c_str()));
        } else if (key == "start") {
            config.startDelayMs = std::max(0, atoi(a.c_str()));
        } else if (key == "loop") {
            config.loop = true;
        }
    }
    return config;
}

struct Frame {
    int32_t sec = 0, usec = 0;
    uint32_t wireLength = 0;
    std::vector<uint8_t> bytes; // the captured bytes (may be fewer than wireLength)
};

uint32_t Read32(const uint8_t* p, bool swap) {
    uint32_t v;
    memcpy(&v, p, 4);
    return swap ? ((v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24)) : v;
}

// Classic pcap with Ethernet link type; anything else yields no frames.
std::vector<Frame> ReadPcap(const std::string& path, std::string& note) {
    std::vector<Frame> frames;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (data.size() < 24) {
        note = "unreadable pcap";
        return frames;
    }
    uint32_t magic;
    memcpy(&magic, data.data(), 4);
    bool swap = false, nanos = false;
    if (magic == 0xa1b2c3d4 || magic == 0xa1b23c4d) {
        nanos = magic == 0xa1b23c4d;
    } else if (magic == 0xd4c3b2a1 || magic == 0x4d3cb2a1) {
        swap = true;
        nanos = magic == 0x4d3cb2a1;
    } else {
        note = "not a pcap file";
        return frames;
    }
    if (Read32(&data[20], swap) != 1) {
        note = "not an Ethernet capture";
        return frames;
    }
    size_t at = 24;
    while (data.size() - at >= 16) {
        Frame f;
        f.sec = int32_t(Read32(&data[at], swap));
        f.usec = int32_t(Read32(&data[at + 4], swap));
        if (nanos)
            f.usec /= 1000;
        uint32_t incl = Read32(&data[at + 8], swap);
        f.wireLength = Read32(&data[at + 12], swap);
        at += 16;
        if (incl > 262144 || incl > data.size() - at)
            break;
        f.bytes.assign(data.begin() + at, data.begin() + at + incl);
        at += incl;
        frames.push_back(std::move(f));
    }
    note = std::to_string(frames.size()) + " frames";
    return frames;
}

// The private state behind one ADAPTER record handed out; the record comes first
// so the caller's pointer is the record's.
struct OpenAdapter {
    ADAPTER record;
    AdapterConfig config;
    std::vector<Frame> frames;
    int framesPerBatch = 16, intervalMs = 20, startDelayMs = 0;
    bool loop = false;

    CRITICAL_SECTION lock;
    std::vector<uint8_t> kernelBuffer;      // bpf records waiting to be read
    uint32_t kernelCapacity = 1000000;      // until PacketSetBuff says otherwise
    uint32_t hwFilter = 0x01 | 0x02 | 0x08; // directed, multicast, broadcast: a NIC's default
    int32_t readTimeout = 0;
    size_t nextFrame = 0;
    bool replayEnded = false;
    uint32_t delivered = 0, dropped = 0, filtered = 0;

    HANDLE feeder = nullptr;
    HANDLE stop = nullptr;      // set when the adapter closes
    HANDLE dataEvent = nullptr; // internal: data arrived (for blocking receives)
};

bool PassesFilter(const OpenAdapter& a, const Frame& f) {
    if (a.hwFilter & packet32::kPromiscuous)
        return true;
    if (f.bytes.size() < 6)
        return false;
    const uint8_t* dst = f.bytes.data();
    static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    if (memcmp(dst, broadcast, 6) == 0)
        return (a.hwFilter & 0x08) != 0;
    if (dst[0] & 1)
        return (a.hwFilter & (0x02 | 0x04)) != 0;
    return (a.hwFilter & 0x01) && a.config.hasMac && memcmp(dst, a.config.mac, 6) == 0;
}

// Appends one frame as the driver stores it: header, captured bytes, padding to 4.
void Append(OpenAdapter& a, const Frame& f) {
    if (!PassesFilter(a, f)) {
        ++a.filtered;
        return;
    }
    const uint32_t caplen = uint32_t(f.bytes.size());
    const uint32_t recordLength = packet32::WordAlign(uint32_t(sizeof(bpf_hdr)) + caplen);
    if (a.kernelBuffer.size() + recordLength > a.kernelCapacity) {
        ++a.dropped; // the driver drops what its buffer cannot hold
        return;
    }
    bpf_hdr h = {};
    h.tv_sec = f.sec;
    h.tv_usec = f.usec;
    h.bh_caplen = caplen;
    h.bh_datalen = f.wireLength;
    h.bh_hdrlen = uint16_t(sizeof(bpf_hdr));
    size_t at = a.kernelBuffer.size();
    a.kernelBuffer.resize(at + recordLength, 0);
    memcpy(&a.kernelBuffer[at], &h, sizeof h);
    if (caplen)
        memcpy(&a.kernelBuffer[at + sizeof h], f.bytes.data(), caplen);
    ++a.delivered;
}

DWORD WINAPI Feed(void* arg) {
    OpenAdapter& a = *static_cast<OpenAdapter*>(arg);
    if (WaitForSingleObject(a.stop, DWORD(a.startDelayMs)) == WAIT_OBJECT_0)
        return 0;
    for (;;) {
        EnterCriticalSection(&a.lock);
        for (int n = 0; n < a.framesPerBatch && !a.frames.empty(); ++n) {
            if (a.nextFrame >= a.frames.size()) {
                if (!a.loop)
                    break;
                a.nextFrame = 0;
            }
            Append(a, a.frames[a.nextFrame++]);
        }
        if (a.nextFrame >= a.frames.size() && !a.loop)
            a.replayEnded = true;
        const bool waiting = !a.kernelBuffer.empty();
        LeaveCriticalSection(&a.lock);
        // Keep signalling while data waits, as the driver does for unread data.
        if (waiting) {
            SetEvent(a.record.ReadEvent);
            SetEvent(a.dataEvent);
        }
        if (WaitForSingleObject(a.stop, DWORD(a.intervalMs)) == WAIT_OBJECT_0)
            return 0;
    }
}

const char* Bool(BOOLEAN b) {
    return b ? "1" : "0";
}

std::string NameOf(ADAPTER* adapter) {
    return adapter ? reinterpret_cast<OpenAdapter*>(adapter)->config.name : std::string("(null)");
}

bool Fails(ADAPTER* adapter, const char* what) {
    return adapter && reinterpret_cast<OpenAdapter*>(adapter)->config.failures.count(what) != 0;
}

} // namespace

extern "C" {

// Names of all listed adapters, each "\Device\NPF_<name>", zero-terminated, then
// an empty text. Too small a buffer: false with the size needed in *bufferSize.
__declspec(dllexport) BOOLEAN PacketGetAdapterNames(char* buffer, ULONG* bufferSize) {
    Config config = ReadConfig();
    std::string list;
    for (const auto& a : config.adapters) {
        if (a.name == "*")
            continue; // the catch-all is opened, never listed
        list += kDevicePrefix + a.name;
        list.push_back('\0');
    }
    list.push_back('\0');
    const ULONG given = bufferSize ? *bufferSize : 0;
    BOOLEAN ok = FALSE;
    if (config.namesFail || !bufferSize || !buffer) {
        ok = FALSE;
    } else if (list.size() > given) {
        *bufferSize = ULONG(list.size());
    } else {
        memcpy(buffer, list.data(), list.size());
        ok = TRUE;
    }
    Log("PacketGetAdapterNames size=" + std::to_string(given) +
        " adapters=" + std::to_string(config.adapters.size()) + " -> " + Bool(ok));
    return ok;
}

__declspec(dllexport) ADAPTER* PacketOpenAdapter(const char* adapterName) {
    Config config = ReadConfig();
    std::string name = adapterName ? adapterName : "";
    const AdapterConfig* found = nullptr;
    if (name.compare(0, strlen(kDevicePrefix), kDevicePrefix) == 0) {
        for (const auto& a : config.adapters)
            if (name.substr(strlen(kDevicePrefix)) == a.name)
                found = &a;
        for (const auto& a : config.adapters)
            if (!found && a.name == "*")
                found = &a;
    }
    // A capture chosen for this adapter's hardware address wins over its line's
    // file, and opens an adapter that no line names.
    const Replay* replay = nullptr;
    std::array<uint8_t, 6> mac{};
    if (!config.replays.empty() && name.compare(0, strlen(kDevicePrefix), kDevicePrefix) == 0 &&
        MacOfAdapter(name.substr(strlen(kDevicePrefix)), mac)) {
        for (const auto& r : config.replays)
            if (r.mac == mac)
                replay = &r;
    }
    const AdapterConfig unlisted;
    if (!found && replay)
        found = &unlisted;
    if (!found || found->failures.count("open")) {
        Log("PacketOpenAdapter " + name + " -> null");
        return nullptr;
    }
    auto* a = new OpenAdapter();
    memset(&a->record, 0, sizeof a->record);
    a->config = *found;
    a->config.name = name.substr(strlen(kDevicePrefix));
    if (replay)
        a->config.pcapPath = replay->pcapPath;
    a->framesPerBatch = config.framesPerBatch;
    a->intervalMs = config.intervalMs;
    a->startDelayMs = config.startDelayMs;
    a->loop = config.loop;
    InitializeCriticalSection(&a->lock);
    a->record.ReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    a->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    a->dataEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Any real handle serves as the driver handle; the scripted failure hands out
    // the invalid handle value, as a failed CreateFile would.
    a->record.hFile = found->failures.count("invalid")
                          ? INVALID_HANDLE_VALUE
                          : CreateEventA(nullptr, TRUE, FALSE, nullptr);
    lstrcpynA(a->record.SymbolicLink, name.c_str(), packet32::kMaxLinkNameLength);
    lstrcpynA(a->record.Name, name.c_str(), packet32::kAdapterNameLength);
    std::string note = "no capture file";
    if (!a->config.pcapPath.empty())
        a->frames = ReadPcap(a->config.pcapPath, note);
    if (replay)
        note += ", replayed by hardware address";
    a->feeder = CreateThread(nullptr, 0, Feed, a, 0, nullptr);
    Log("PacketOpenAdapter " + name + " -> ok (" + note + ")" +
        (found->failures.count("invalid") ? " hFile=INVALID" : ""));
    return &a->record;
}

__declspec(dllexport) BOOLEAN PacketSetHwFilter(ADAPTER* adapter, ULONG filter) {
    BOOLEAN ok = adapter && !Fails(adapter, "filter");
    if (ok) {
        auto* a = reinterpret_cast<OpenAdapter*>(adapter);
        EnterCriticalSection(&a->lock);
        a->hwFilter = filter;
        LeaveCriticalSection(&a->lock);
    }
    char hex[16];
    snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(filter));
    Log("PacketSetHwFilter " + NameOf(adapter) + " " + hex + " -> " + Bool(ok));
    return ok;
}

__declspec(dllexport) BOOLEAN PacketSetBuff(ADAPTER* adapter, int bytes) {
    BOOLEAN ok = adapter && bytes > 0 && !Fails(adapter, "buffer");
    if (ok) {
        auto* a = reinterpret_cast<OpenAdapter*>(adapter);
        EnterCriticalSection(&a->lock);
        // The driver would discard what its old buffer held; keeping it makes a
        // replay independent of how soon after the open the buffer is set.
        a->kernelCapacity = uint32_t(bytes);
        LeaveCriticalSection(&a->lock);
    }
    Log("PacketSetBuff " + NameOf(adapter) + " " + std::to_string(bytes) + " -> " + Bool(ok));
    return ok;
}

__declspec(dllexport) BOOLEAN PacketSetReadTimeout(ADAPTER* adapter, int timeout) {
    BOOLEAN ok = adapter && !Fails(adapter, "timeout");
    if (ok) {
        auto* a = reinterpret_cast<OpenAdapter*>(adapter);
        EnterCriticalSection(&a->lock);
        a->readTimeout = timeout;
        a->record.ReadTimeOut = UINT(timeout);
        LeaveCriticalSection(&a->lock);
    }
    Log("PacketSetReadTimeout " + NameOf(adapter) + " " + std::to_string(timeout) + " -> " +
        Bool(ok));
    return ok;
}

__declspec(dllexport) HANDLE PacketGetReadEvent(ADAPTER* adapter) {
    return adapter ? adapter->ReadEvent : nullptr;
}

__declspec(dllexport) PACKET* PacketAllocatePacket(void) {
    auto* p = static_cast<PACKET*>(GlobalAlloc(GPTR, sizeof(PACKET)));
    Log(std::string("PacketAllocatePacket -> ") + (p ? "ok" : "null"));
    return p;
}

__declspec(dllexport) void PacketInitPacket(PACKET* packet, void* buffer, UINT length) {
    if (packet) {
        packet->Buffer = buffer;
        packet->Length = length;
        packet->ulBytesReceived = 0;
        packet->bIoComplete = FALSE;
    }
    Log("PacketInitPacket length=" + std::to_string(length));
}

// Moves the whole records that fit the caller's buffer out of the kernel buffer.
// Read time-out as the driver takes it: -1 returns at once, 0 waits for data,
// more waits at most that long.
__declspec(dllexport) BOOLEAN PacketReceivePacket(ADAPTER* adapter, PACKET* packet, BOOLEAN sync) {
    if (!adapter || !packet || Fails(adapter, "receive")) {
        Log("PacketReceivePacket " + NameOf(adapter) + " -> 0");
        return FALSE;
    }
    auto* a = reinterpret_cast<OpenAdapter*>(adapter);
    for (;;) {
        EnterCriticalSection(&a->lock);
        const bool empty = a->kernelBuffer.empty();
        const bool ended = a->replayEnded;
        const int32_t timeout = a->readTimeout;
        LeaveCriticalSection(&a->lock);
        if (!empty || ended || timeout == -1)
            break;
        HANDLE waits[2] = {a->dataEvent, a->stop};
        DWORD r = WaitForMultipleObjects(2, waits, FALSE, timeout > 0 ? DWORD(timeout) : INFINITE);
        if (r != WAIT_OBJECT_0)
            break;
    }
    EnterCriticalSection(&a->lock);
    size_t taken = 0;
    while (a->kernelBuffer.size() - taken >= sizeof(bpf_hdr)) {
        bpf_hdr h;
        memcpy(&h, &a->kernelBuffer[taken], sizeof h);
        size_t record = packet32::WordAlign(h.bh_hdrlen + h.bh_caplen);
        if (taken + record > packet->Length)
            break;
        taken += record;
    }
    if (taken)
        memcpy(packet->Buffer, a->kernelBuffer.data(), taken);
    a->kernelBuffer.erase(a->kernelBuffer.begin(), a->kernelBuffer.begin() + taken);
    packet->ulBytesReceived = DWORD(taken);
    packet->bIoComplete = TRUE;
    LeaveCriticalSection(&a->lock);
    Log("PacketReceivePacket " + a->config.name + " sync=" + Bool(sync) +
        " bytes=" + std::to_string(taken) + " -> 1");
    return TRUE;
}

__declspec(dllexport) void PacketFreePacket(PACKET* packet) {
    if (packet)
        GlobalFree(packet);
    Log("PacketFreePacket");
}

__declspec(dllexport) void PacketCloseAdapter(ADAPTER* adapter) {
    if (!adapter) {
        Log("PacketCloseAdapter (null)");
        return;
    }
    auto* a = reinterpret_cast<OpenAdapter*>(adapter);
    SetEvent(a->stop);
    WaitForSingleObject(a->feeder, INFINITE);
    CloseHandle(a->feeder);
    Log("PacketCloseAdapter " + a->config.name + " delivered=" + std::to_string(a->delivered) +
        " dropped=" + std::to_string(a->dropped) + " filtered=" + std::to_string(a->filtered));
    if (a->record.hFile != INVALID_HANDLE_VALUE)
        CloseHandle(a->record.hFile);
    CloseHandle(a->record.ReadEvent);
    CloseHandle(a->stop);
    CloseHandle(a->dataEvent);
    DeleteCriticalSection(&a->lock);
    delete a;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        InitializeCriticalSection(&g_logLock);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

} // extern "C"
