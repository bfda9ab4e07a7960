#include "AdapterSources_win.h"

#include "RasCheck.h"

#include <iphlpapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
// As packet.dll declares it (default calling convention).
typedef BOOLEAN (*PacketGetAdapterNamesFn)(char* buffer, ULONG* size);

// The capture driver's user library from the driver's own folder under the system
// folder when it is there (Npcap puts it in System32\Npcap unless its WinPcap
// compatibility mode is chosen; a 32-bit program on 64-bit Windows reads that as
// SysWOW64\Npcap), else by the usual search, which start-up has rid of the
// current folder. The companion library finds it the same way.
ScopedModule LoadCaptureLibrary() {
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string own = std::string(system, length) + "\\Npcap\\packet.dll";
        if (GetFileAttributesA(own.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // Its own dependencies from its own folder first; a plain load of the
            // full path where the system refuses that flag.
            ScopedModule module(
                LoadLibraryExA(own.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
            if (!module)
                module.Reset(LoadLibraryA(own.c_str()));
            if (module)
                return module;
        }
    }
    return ScopedModule(LoadLibraryA("packet.dll"));
}
} // namespace

bool Win32CaptureAdapterNames::GetAdapterNames(char* buffer, uint32_t* size) {
    if (!m_hPacket)
        m_hPacket = LoadCaptureLibrary();
    if (!m_hPacket)
        return false;
    auto fn = reinterpret_cast<PacketGetAdapterNamesFn>(
        reinterpret_cast<void*>(GetProcAddress(m_hPacket.Get(), "PacketGetAdapterNames")));
    if (fn == nullptr)
        return false;
    ULONG given = *size;
    const bool ok = fn(buffer, &given) != 0;
    *size = given;
    return ok;
}

bool Win32CaptureAdapterNames::IsLegacyWindows() {
    const DWORD version = GetVersion();
    return (version & 0x80000000u) != 0 && LOBYTE(LOWORD(version)) >= 4;
}

bool Win32AdapterRegistry::OpenClassKey() {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAdapterClassKey, 0, KEY_READ, m_hClass.Receive()) ==
        ERROR_SUCCESS)
        return true;
    m_hClass.Release(); // a refused open leaves nothing to close
    return false;
}

void Win32AdapterRegistry::CloseClassKey() {
    m_hClass.Reset();
}

bool Win32AdapterRegistry::EnumSubkey(uint32_t index, std::string& name) {
    if (!m_hClass)
        return false;
    wchar_t wide[257] = {};
    DWORD length = 257;
    if (RegEnumKeyExW(m_hClass.Get(), index, wide, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    // Subkey names are short ASCII ("0001"); keep them as they are for the paths.
    name.clear();
    for (DWORD i = 0; i < length && i < 256; ++i)
        name.push_back(char(wide[i] < 0x80 ? wide[i] : '?'));
    return true;
}

bool Win32AdapterRegistry::ReadValue(const std::string& subkey, const char* value,
                                     std::vector<uint8_t>& bytes, size_t maxBytes) {
    if (!m_hClass)
        return false;
    ScopedKey key;
    if (RegOpenKeyExA(m_hClass.Get(), subkey.c_str(), 0, KEY_READ, key.Receive()) !=
        ERROR_SUCCESS) {
        key.Release(); // a refused open leaves nothing to close
        return false;
    }
    std::wstring wideName(value, value + std::strlen(value));
    bytes.assign(maxBytes, 0);
    DWORD type = 0, length = DWORD(maxBytes);
    const LONG result =
        RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type, bytes.data(), &length);
    key.Reset();
    if (result != ERROR_SUCCESS)
        return false;
    // Only the bytes that were really read count; the value may lack its terminator.
    bytes.resize(length < maxBytes ? length : maxBytes);
    return true;
}

std::string Win32AdapterRegistry::ToCodePage(const std::u16string& text) {
    if (text.empty())
        return std::string();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int need =
        WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    if (need <= 0)
        return std::string();
    std::string out(size_t(need), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), &out[0], need, nullptr, nullptr);
    return out;
}

bool Win32IpAdapterTable::GetAdapters(std::vector<IpAdapterRow>& rows) {
    ULONG size = 640;
    // IP_ADAPTER_INFO records hold pointers: the block is allocated in their units,
    // so it is aligned for them.
    const auto records = [](ULONG bytes) {
        return (bytes + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO);
    };
    std::vector<IP_ADAPTER_INFO> buffer(records(size));
    size = ULONG(buffer.size() * sizeof(IP_ADAPTER_INFO));
    DWORD result = GetAdaptersInfo(buffer.data(), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.assign(records(size), IP_ADAPTER_INFO{});
        size = ULONG(buffer.size() * sizeof(IP_ADAPTER_INFO));
        result = GetAdaptersInfo(buffer.data(), &size);
    }
    if (result != NO_ERROR)
        return false;
    rows.clear();
    for (const IP_ADAPTER_INFO* info = buffer.data(); info; info = info->Next) {
        IpAdapterRow row;
        row.adapterName.assign(info->AdapterName,
                               strnlen(info->AdapterName, sizeof info->AdapterName));
        row.type = info->Type;
        std::memcpy(row.address, info->Address, sizeof row.address);
        row.addressLength = info->AddressLength;
        rows.push_back(row);
    }
    return true;
}
