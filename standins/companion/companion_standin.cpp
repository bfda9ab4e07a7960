// Test stand-in for Ostrel.dll. Scripted by "companion-standin.ini" in the current
// directory, section [standin]:
//   answer   = what initThread answers (decimal; default 0)
//   findings = 22 bytes in hex that ReadFindings copies out (default all zero);
//              read again at every call so a test can change it while the dialer runs
//   leak     = 1: every link up keeps an event handle and 64 KiB of touched memory,
//              the faults the endurance run must catch
// Every call is appended to "companion-standin.log" in the current directory, one
// line each, with message bytes in hex. NotifyLinkState(1) asks GetAdapterMac
// inside the call, as the real library does, and logs the answer and the bytes.
#include "HostInterface.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HostInterface g_host{};
CRITICAL_SECTION g_logLock;
char g_dir[MAX_PATH] = {};

std::string PathOf(const char* name) {
    return std::string(g_dir) + "\\" + name;
}

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

void Log(const std::string& line) {
    EnterCriticalSection(&g_logLock);
    if (FILE* f = std::fopen(PathOf("companion-standin.log").c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
    LeaveCriticalSection(&g_logLock);
}

std::string Setting(const char* key, const char* fallback) {
    char value[256] = {};
    GetPrivateProfileStringA("standin", key, fallback, value, sizeof value,
                             PathOf("companion-standin.ini").c_str());
    return value;
}

int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length) {
    Log("DeliverRequest " + Hex(message, length));
    return 0;
}

int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length) {
    uint8_t findings[kFindingsSize] = {};
    const std::string hex = Setting("findings", "");
    for (size_t i = 0; i < kFindingsSize && 2 * i + 1 < hex.size(); ++i)
        findings[i] = uint8_t(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
    std::memcpy(buffer, findings, kFindingsSize);
    *length = kFindingsSize;
    Log("ReadFindings " + Hex(findings, kFindingsSize));
    return 0;
}

int32_t HOST_CALL NotifyLinkState(uint32_t up) {
    Log("NotifyLinkState " + std::to_string(up & 0xff));
    if (up & 0xff) {
        uint8_t mac[6] = {};
        const int32_t rc = g_host.GetAdapterMac ? g_host.GetAdapterMac(mac, 6) : -1;
        Log("GetAdapterMac " + std::to_string(rc) + " " + Hex(mac, 6));
        if (Setting("leak", "0") == "1") {
            CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (void* kept = HeapAlloc(GetProcessHeap(), 0, 64 * 1024))
                std::memset(kept, 1, 64 * 1024);
        }
    }
    return 0;
}

} // namespace

extern "C" int32_t HOST_CALL initThread(HostInterface* host) {
    GetCurrentDirectoryA(MAX_PATH, g_dir);
    g_host = *host;
    host->DeliverRequest = DeliverRequest;
    host->ReadFindings = ReadFindings;
    host->NotifyLinkState = NotifyLinkState;
    const int32_t answer = int32_t(std::strtol(Setting("answer", "0").c_str(), nullptr, 0));
    Log("initThread " + std::to_string(answer) + " slots " +
        std::string(host->SendReply ? "1" : "0") + std::string(host->GetAdapterMac ? "1" : "0"));
    return answer;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        InitializeCriticalSection(&g_logLock);
    return TRUE;
}
