// Test stand-in for rasapi32.dll: a scripted access server (see README.md).
#include <windows.h>

#include "RasRecords.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kErrorInvalidSize = 632;
constexpr DWORD kErrorAuthFailure = 691;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorCannotOpenPhonebook = 615;
constexpr DWORD kErrorCannotFindEntry = 623;
constexpr UINT kDialEventMessage = 0xCCCD; // WM_RASDIALEVENT

typedef VOID(WINAPI* RasDialFunc1)(HANDLE, UINT, DWORD state, DWORD error, DWORD extended);

struct Script {
    std::vector<std::pair<std::string, std::string>> devices; // type, name
    std::vector<DWORD> states{0, 1, 2, 3, 4, 5, 14, kRasConnected};
    DWORD delayMs = 100;
    DWORD error = 0;
    std::vector<std::pair<std::string, std::string>> accepted;
    DWORD refuse = 0;
    DWORD dropMs = 0;
    std::vector<std::string> outside;
    std::map<DWORD, std::string> errorTexts{
        {678, "The remote computer did not respond."},
        {691, "The user name or password was not accepted by the access server."},
        {633, "The device is already in use or is not configured for dialing out."},
        {651, "The device reported an error."},
    };
    DWORD enumConnections = 0;
    bool late = false; // a hung-up dial reports once more, during the next dial
    DWORD lateState = 0;
    DWORD lateError = 0;
};

struct Connection {
    RasHandle handle;
    std::string entry;
    bool active = false;   // listed by RasEnumConnectionsA
    bool hungUp = false;   // the dial thread stops reporting
    DWORD connectedAt = 0; // tick count when it came up
    unsigned serial = 0;   // dials in the order RasDialA accepted them, from 1
};

HMODULE g_self = nullptr;
CRITICAL_SECTION g_lock;
std::vector<std::shared_ptr<Connection>>* g_connections = nullptr;
RasHandle g_nextHandle = 0x1000;
unsigned g_dials = 0;         // dials accepted so far
unsigned g_lastReporting = 0; // serial of the latest dial that has reported a state
bool g_outsideMade = false;
Script g_script;

std::string Folder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    std::string s(path);
    const size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

void Log(const std::string& line) {
    EnterCriticalSection(&g_lock);
    if (FILE* f = std::fopen((Folder() + "rasapi32-standin.log").c_str(), "ab")) {
        std::fprintf(f, "%s\r\n", line.c_str());
        std::fclose(f);
    }
    LeaveCriticalSection(&g_lock);
}

std::string Hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

std::string Text(const char* s) {
    return s ? std::string("\"") + s + "\"" : "null";
}

std::string RestOf(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    const size_t start = rest.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : rest.substr(start);
}

// Reads the script afresh; caller holds the lock.
void LoadScript() {
    Script script;
    std::ifstream in(Folder() + "rasapi32-standin.ini");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string directive;
        if (!(words >> directive))
            continue;
        if (directive == "device") {
            std::string type;
            words >> type;
            script.devices.push_back({type, RestOf(words)});
        } else if (directive == "states") {
            script.states.clear();
            DWORD state;
            while (words >> state)
                script.states.push_back(state);
        } else if (directive == "delay") {
            words >> script.delayMs;
        } else if (directive == "error") {
            words >> script.error;
        } else if (directive == "accept") {
            std::string user, password;
            words >> user >> password;
            script.accepted.push_back({user, password});
        } else if (directive == "refuse") {
            words >> script.refuse;
        } else if (directive == "drop") {
            words >> script.dropMs;
        } else if (directive == "connection") {
            script.outside.push_back(RestOf(words));
        } else if (directive == "errortext") {
            DWORD code = 0;
            words >> code;
            script.errorTexts[code] = RestOf(words);
        } else if (directive == "enumconnections") {
            words >> script.enumConnections;
        } else if (directive == "late") {
            script.late = true;
            words >> script.lateState >> script.lateError;
        }
    }
    g_script = script;
    if (!g_outsideMade) {
        g_outsideMade = true;
        for (const std::string& name : g_script.outside) {
            auto c = std::make_shared<Connection>();
            c->handle = g_nextHandle++;
            c->entry = name;
            c->active = true;
            c->connectedAt = GetTickCount();
            g_connections->push_back(c);
        }
    }
}

void SavePhonebook(const std::vector<std::string>& entries) {
    std::ofstream out(Folder() + "rasapi32-standin.phonebook", std::ios::binary | std::ios::trunc);
    for (const std::string& e : entries)
        out << e << "\r\n";
}

std::vector<std::string> LoadPhonebook() {
    std::vector<std::string> entries;
    std::ifstream in(Folder() + "rasapi32-standin.phonebook");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            entries.push_back(line);
    }
    return entries;
}

// The phonebook file a call names: its own, or without one the all-users
// phonebook, the default from Windows Vista on.
std::string PhonebookFile(const char* phonebook) {
    if (phonebook != nullptr)
        return phonebook;
    char all[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA("ALLUSERSPROFILE", all, MAX_PATH);
    const std::string base = n > 0 && n < MAX_PATH ? std::string(all, n) : "C:\\ProgramData";
    return base + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
}

// Opens the phonebook for writing as the service does: the file is made when
// missing, its folder is not (the all-users one is the system's own and exists,
// or is made here with the rights of the caller). Answers 0, 5 where this user
// may not write (a standard user and the all-users phonebook), else 615.
DWORD OpenPhonebookForWriting(const std::string& file, bool allUsers) {
    if (allUsers) {
        for (size_t at = file.find('\\', 3); at != std::string::npos; at = file.find('\\', at + 1))
            CreateDirectoryA(file.substr(0, at).c_str(), nullptr);
    }
    HANDLE h =
        CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED
                                                     : kErrorCannotOpenPhonebook;
    CloseHandle(h);
    return 0;
}

bool HasEntry(const std::string& file, const char* entry) {
    char keys[256] = {};
    return entry != nullptr &&
           GetPrivateProfileSectionA(entry, keys, sizeof keys, file.c_str()) > 0;
}

// Drops what the script or the drop file says has dropped; caller holds the lock.
void ApplyDrops() {
    const std::string dropFile = Folder() + "rasapi32-standin.drop";
    const bool pulled = GetFileAttributesA(dropFile.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (pulled)
        DeleteFileA(dropFile.c_str());
    const DWORD now = GetTickCount();
    for (auto& c : *g_connections) {
        if (!c->active)
            continue;
        if (pulled || (g_script.dropMs && now - c->connectedAt >= g_script.dropMs)) {
            c->active = false;
            c->hungUp = true;
        }
    }
}

std::shared_ptr<Connection> Find(RasHandle handle) {
    for (auto& c : *g_connections)
        if (c->handle == handle)
            return c;
    return nullptr;
}

struct DialJob {
    std::shared_ptr<Connection> connection;
    RasDialFunc1 notifier;
    Script script;
    DWORD authError; // 691 when the credentials are not accepted
};

void Notify(const DialJob& job, DWORD state, DWORD error, const char* note) {
    Log("notify handle=" + std::to_string(job.connection->handle) +
        " state=" + std::to_string(state) + " error=" + std::to_string(error) + note);
    job.notifier(reinterpret_cast<HANDLE>(uintptr_t(job.connection->handle)), kDialEventMessage,
                 state, error, 0);
}

// The service may report on a dial it was told to hang up, late: here once the
// next dial has reported its first state, so the report lands in that dial.
void ReportLate(const DialJob& job) {
    const DWORD start = GetTickCount();
    for (;;) {
        EnterCriticalSection(&g_lock);
        const bool nextReported = g_lastReporting > job.connection->serial;
        LeaveCriticalSection(&g_lock);
        if (nextReported)
            break;
        if (GetTickCount() - start > 60000)
            return; // no next dial came
        Sleep(20);
    }
    Notify(job, job.script.lateState, job.script.lateError, " late");
}

DWORD WINAPI DialThread(LPVOID param) {
    std::unique_ptr<DialJob> job(static_cast<DialJob*>(param));
    const std::vector<DWORD>& states = job->script.states;
    for (size_t i = 0; i < states.size(); ++i) {
        Sleep(job->script.delayMs);
        const DWORD state = states[i];
        DWORD error = 0;
        const bool lastBeforeUp =
            i + 1 == states.size() || (i + 2 == states.size() && states[i + 1] == kRasConnected);
        if (job->authError && state == 5)
            error = job->authError;
        else if (job->script.error && lastBeforeUp)
            error = job->script.error;
        bool stop = false;
        EnterCriticalSection(&g_lock);
        if (job->connection->hungUp)
            stop = true;
        if (!stop && state == kRasConnected && error == 0) {
            job->connection->active = true;
            job->connection->connectedAt = GetTickCount();
        }
        LeaveCriticalSection(&g_lock);
        if (stop) {
            if (job->script.late)
                ReportLate(*job);
            return 0;
        }
        Notify(*job, state, error, "");
        EnterCriticalSection(&g_lock);
        if (job->connection->serial > g_lastReporting)
            g_lastReporting = job->connection->serial;
        LeaveCriticalSection(&g_lock);
        if (error != 0 || state == kRasConnected)
            return 0;
    }
    return 0;
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI
    RasEnumDevicesA(RasDevInfoRecord* devices, DWORD* cb, DWORD* count) {
    EnterCriticalSection(&g_lock);
    LoadScript();
    const Script script = g_script;
    LeaveCriticalSection(&g_lock);
    DWORD result = 0;
    const DWORD given = cb ? *cb : 0;
    const DWORD need = DWORD(script.devices.size() * sizeof(RasDevInfoRecord));
    if (cb == nullptr || count == nullptr) {
        result = kErrorInvalidParameter;
    } else if (devices == nullptr) {
        *cb = need;
        *count = DWORD(script.devices.size());
        result = need ? kRasErrorBufferTooSmall : 0;
    } else if (devices[0].dwSize != sizeof(RasDevInfoRecord)) {
        result = kErrorInvalidSize;
    } else if (given < need) {
        *cb = need;
        result = kRasErrorBufferTooSmall;
    } else {
        for (size_t i = 0; i < script.devices.size(); ++i) {
            RasDevInfoRecord& d = devices[i];
            std::memset(&d, 0, sizeof d);
            d.dwSize = sizeof d;
            CopyField(d.szDeviceType, script.devices[i].first.c_str());
            CopyField(d.szDeviceName, script.devices[i].second.c_str());
        }
        *cb = need;
        *count = DWORD(script.devices.size());
    }
    Log("RasEnumDevicesA buffer=" + std::to_string(devices != nullptr) + " cb=" +
        std::to_string(given) + " dwSize=" + (devices ? std::to_string(devices[0].dwSize) : "-") +
        " -> " + std::to_string(result) + " count=" + (count ? std::to_string(*count) : "-"));
    return result;
}

__declspec(dllexport) DWORD WINAPI
    RasSetEntryPropertiesA(const char* phonebook, const char* entry, const RasEntryRecord* record,
                           DWORD size, const BYTE* devInfo, DWORD devInfoSize) {
    DWORD result = 0;
    std::string bytes;
    if (entry == nullptr || record == nullptr) {
        result = kErrorInvalidParameter;
    } else {
        const DWORD dwSize = record->dwSize;
        bytes = Hex(record, dwSize <= 8192 ? dwSize : 8192);
        if (dwSize != sizeof(RasEntryRecord) || size < dwSize)
            result = kErrorInvalidSize;
    }
    if (result == 0) {
        const std::string file = PhonebookFile(phonebook);
        result = OpenPhonebookForWriting(file, phonebook == nullptr);
        if (result == 0) {
            WritePrivateProfileStringA(entry, "DEVICE", record->szDeviceType, file.c_str());
            WritePrivateProfileStringA(entry, "DeviceName", record->szDeviceName, file.c_str());
        }
    }
    if (result == 0) {
        EnterCriticalSection(&g_lock);
        auto entries = LoadPhonebook();
        bool present = false;
        for (auto& e : entries)
            present = present || e == entry;
        if (!present)
            entries.push_back(entry);
        SavePhonebook(entries);
        LeaveCriticalSection(&g_lock);
    }
    Log("RasSetEntryPropertiesA phonebook=" + Text(phonebook) +
        " entry=" + (entry ? std::string(entry) : "null") + " size=" + std::to_string(size) +
        " devinfo=" + std::to_string(devInfo ? devInfoSize : 0) + " record=" + bytes + " -> " +
        std::to_string(result));
    return result;
}

__declspec(dllexport) DWORD WINAPI
    RasDialA(void* extensions, const char* phonebook, const RasDialParamsRecord* params,
             DWORD notifierType, void* notifier, HANDLE* handle) {
    EnterCriticalSection(&g_lock);
    LoadScript();
    const Script script = g_script;
    LeaveCriticalSection(&g_lock);
    DWORD result = 0;
    std::string bytes;
    RasHandle written = 0;
    if (params == nullptr || handle == nullptr) {
        result = kErrorInvalidParameter;
    } else {
        bytes = Hex(params, params->dwSize <= 4096 ? params->dwSize : 4096);
        if (params->dwSize != 1052 && params->dwSize != sizeof(RasDialParamsRecord) &&
            params->dwSize != 1064)
            result = kErrorInvalidSize;
        else if (notifierType != 1 || notifier == nullptr)
            result = kErrorInvalidParameter;
        // Only an entry of the phonebook the call names can be dialed.
        else if (!HasEntry(PhonebookFile(phonebook), params->szEntryName))
            result = kErrorCannotFindEntry;
    }
    if (result == 0) {
        auto c = std::make_shared<Connection>();
        EnterCriticalSection(&g_lock);
        c->handle = g_nextHandle++;
        c->entry = params->szEntryName;
        c->serial = ++g_dials;
        g_connections->push_back(c);
        LeaveCriticalSection(&g_lock);
        written = c->handle;
        *handle = reinterpret_cast<HANDLE>(uintptr_t(written));
        if (script.refuse) {
            result = script.refuse;
        } else {
            DWORD authError = 0;
            if (!script.accepted.empty()) {
                authError = kErrorAuthFailure;
                for (auto& pair : script.accepted)
                    if (pair.first == params->szUserName && pair.second == params->szPassword)
                        authError = 0;
            }
            auto* job = new DialJob{c, reinterpret_cast<RasDialFunc1>(notifier), script, authError};
            HANDLE thread = CreateThread(nullptr, 0, DialThread, job, 0, nullptr);
            if (thread)
                CloseHandle(thread);
        }
    }
    Log("RasDialA ext=" + std::string(extensions ? "set" : "null") +
        " phonebook=" + Text(phonebook) + " type=" + std::to_string(notifierType) +
        " notifier=" + std::to_string(notifier != nullptr) + " params=" + bytes + " -> " +
        std::to_string(result) + " handle=" + std::to_string(written));
    return result;
}

__declspec(dllexport) DWORD WINAPI RasGetErrorStringA(UINT code, char* buffer, DWORD size) {
    EnterCriticalSection(&g_lock);
    LoadScript();
    auto it = g_script.errorTexts.find(code);
    const bool known = it != g_script.errorTexts.end();
    const std::string text = known ? it->second : std::string();
    LeaveCriticalSection(&g_lock);
    DWORD result = 0;
    if (buffer == nullptr || size == 0)
        result = kErrorInvalidParameter;
    else if (!known)
        result = kErrorInvalidParameter;
    else if (text.size() + 1 > size)
        result = kRasErrorBufferTooSmall;
    else
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    Log("RasGetErrorStringA code=" + std::to_string(code) + " size=" + std::to_string(size) +
        " -> " + std::to_string(result));
    return result;
}

__declspec(dllexport) DWORD WINAPI
    RasEnumConnectionsA(RasConnRecord* connections, DWORD* cb, DWORD* count) {
    EnterCriticalSection(&g_lock);
    LoadScript();
    ApplyDrops();
    std::vector<std::shared_ptr<Connection>> active;
    for (auto& c : *g_connections)
        if (c->active)
            active.push_back(c);
    const DWORD forced = g_script.enumConnections;
    LeaveCriticalSection(&g_lock);
    DWORD result = 0;
    const DWORD given = cb ? *cb : 0;
    const DWORD need = DWORD(active.size() * sizeof(RasConnRecord));
    if (connections == nullptr || cb == nullptr || count == nullptr) {
        result = kErrorInvalidParameter;
    } else if (connections[0].dwSize != sizeof(RasConnRecord)) {
        result = kErrorInvalidSize;
    } else if (forced) {
        result = forced;
    } else if (given < need) {
        *cb = need;
        result = kRasErrorBufferTooSmall;
    } else {
        for (size_t i = 0; i < active.size(); ++i) {
            RasConnRecord& r = connections[i];
            std::memset(&r, 0, sizeof r);
            r.dwSize = sizeof r;
            r.hrasconn = active[i]->handle;
            CopyField(r.szEntryName, active[i]->entry.c_str());
            CopyField(r.szDeviceType, "pppoe");
            CopyField(r.szDeviceName, "WAN Miniport (PPPOE)");
        }
        *cb = need;
        *count = DWORD(active.size());
    }
    Log("RasEnumConnectionsA cb=" + std::to_string(given) +
        " dwSize=" + (connections ? std::to_string(connections[0].dwSize) : "-") + " -> " +
        std::to_string(result) + " count=" + (count && result == 0 ? std::to_string(*count) : "-"));
    return result;
}

__declspec(dllexport) DWORD WINAPI RasHangUpA(HANDLE handle) {
    const RasHandle h = RasHandle(reinterpret_cast<uintptr_t>(handle));
    EnterCriticalSection(&g_lock);
    auto c = Find(h);
    if (c) {
        c->hungUp = true;
        c->active = false;
    }
    LeaveCriticalSection(&g_lock);
    const DWORD result = c ? 0 : kErrorInvalidHandle;
    Log("RasHangUpA handle=" + std::to_string(h) + " -> " + std::to_string(result));
    return result;
}

__declspec(dllexport) DWORD WINAPI RasDeleteEntryA(const char* phonebook, const char* entry) {
    DWORD result = kErrorCannotFindEntry;
    const std::string file = PhonebookFile(phonebook);
    if (HasEntry(file, entry)) {
        result = OpenPhonebookForWriting(file, phonebook == nullptr);
        if (result == 0)
            WritePrivateProfileStringA(entry, nullptr, nullptr, file.c_str());
    }
    EnterCriticalSection(&g_lock);
    auto entries = LoadPhonebook();
    for (auto it = entries.begin(); result == 0 && entry && it != entries.end(); ++it) {
        if (*it == entry) {
            entries.erase(it);
            break;
        }
    }
    SavePhonebook(entries);
    LeaveCriticalSection(&g_lock);
    Log("RasDeleteEntryA phonebook=" + Text(phonebook) +
        " entry=" + (entry ? std::string(entry) : "null") + " -> " + std::to_string(result));
    return result;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        InitializeCriticalSection(&g_lock);
        // Kept to the end of the process: a dial thread may still hold a connection.
        g_connections = new std::vector<std::shared_ptr<Connection>>();
    }
    return TRUE;
}

} // extern "C"
