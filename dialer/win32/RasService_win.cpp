#include "RasService_win.h"

#include "DialReports_win.h"

#include <ras.h>
#include <raserror.h>
#include <shlobj.h>

#include <cstddef>

// Our records are the system's, byte for byte.
static_assert(sizeof(RASDEVINFOA) == sizeof(RasDevInfoRecord), "RASDEVINFOA");
static_assert(offsetof(RASENTRYA, dwfNetProtocols) == offsetof(RasEntryRecord, dwfNetProtocols),
              "RASENTRYA");
static_assert(offsetof(RASENTRYA, szDeviceType) == offsetof(RasEntryRecord, szDeviceType),
              "RASENTRYA");
static_assert(offsetof(RASENTRYA, szDeviceName) == offsetof(RasEntryRecord, szDeviceName),
              "RASENTRYA");
static_assert(offsetof(RASENTRYA, dwType) == offsetof(RasEntryRecord, dwType), "RASENTRYA");
static_assert(offsetof(RASENTRYA, dwVpnStrategy) == offsetof(RasEntryRecord, dwVpnStrategy),
              "RASENTRYA");
static_assert(offsetof(RASDIALPARAMSA, szPassword) == offsetof(RasDialParamsRecord, szPassword),
              "RASDIALPARAMSA");
static_assert(offsetof(RASDIALPARAMSA, dwCallbackId) == offsetof(RasDialParamsRecord, dwCallbackId),
              "RASDIALPARAMSA");
// Newer headers append dwIfIndex; the service takes the shorter layout by its dwSize.
static_assert(offsetof(RASCONNA, guidEntry) == offsetof(RasConnRecord, guidEntry), "RASCONNA");
static_assert(sizeof(HRASCONN) == sizeof(RasHandle), "connection handle");

namespace {

// Runs on a thread of the remote-access service. It touches nothing of the
// dialog: the report, with the connection it belongs to, goes to the dialog's own
// thread.
VOID WINAPI DialNotifier(HRASCONN connection, UINT, RASCONNSTATE state, DWORD error, DWORD) {
    QueueDialReport(
        {RasHandle(reinterpret_cast<uintptr_t>(connection)), uint32_t(state), uint32_t(error)});
}

} // namespace

Win32RasService::Win32RasService() {
    char appData[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                         appData) != S_OK)
        return;
    // The service writes the file but does not make its folder, which a fresh
    // profile may lack.
    const std::string folder = std::string(appData) + "\\Microsoft\\Network\\Connections\\Pbk";
    const int made = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return;
    m_strPhonebook = folder + "\\rasphone.pbk";
}

uint32_t Win32RasService::EnumDevices(RasDevInfoRecord* block, uint32_t* bytes, uint32_t* count) {
    DWORD cb = *bytes, n = 0;
    const DWORD result = RasEnumDevicesA(reinterpret_cast<LPRASDEVINFOA>(block), &cb, &n);
    *bytes = cb;
    *count = n;
    return result;
}

uint32_t Win32RasService::SetEntryProperties(const char* entry, const RasEntryRecord& record,
                                             uint32_t size) {
    return RasSetEntryPropertiesA(
        PhonebookArg(), entry, reinterpret_cast<LPRASENTRYA>(const_cast<RasEntryRecord*>(&record)),
        size, nullptr, 0);
}

uint32_t Win32RasService::Dial(const RasDialParamsRecord& params, RasHandle* handle) {
    HRASCONN connection = nullptr;
    const DWORD result =
        RasDialA(nullptr, PhonebookArg(),
                 reinterpret_cast<LPRASDIALPARAMSA>(const_cast<RasDialParamsRecord*>(&params)), 1,
                 reinterpret_cast<LPVOID>(&DialNotifier), &connection);
    *handle = RasHandle(reinterpret_cast<uintptr_t>(connection));
    return result;
}

uint32_t Win32RasService::GetErrorString(uint32_t code, char* buffer, uint32_t size) {
    return RasGetErrorStringA(code, buffer, size);
}

uint32_t Win32RasService::EnumConnections(RasConnRecord* block, uint32_t* bytes, uint32_t* count) {
    DWORD cb = *bytes, n = 0;
    const DWORD result = RasEnumConnectionsA(reinterpret_cast<LPRASCONNA>(block), &cb, &n);
    *bytes = cb;
    *count = n;
    return result;
}

uint32_t Win32RasService::HangUp(RasHandle handle) {
    return RasHangUpA(reinterpret_cast<HRASCONN>(uintptr_t(handle)));
}

uint32_t Win32RasService::DeleteEntry(const char* entry) {
    return RasDeleteEntryA(PhonebookArg(), entry);
}
