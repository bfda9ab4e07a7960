#include "RasCheck.h"

#include "catalogue.h"

#include <cstring>

namespace {

constexpr int kEnumAttempts = 5;
constexpr uint32_t kNamesBuffer = 8192;
constexpr uint32_t kNamesSizeGiven = 4096; // what the driver is told the buffer holds
constexpr size_t kMaxValueBytes = 1024;
constexpr size_t kMaxDescBytes = sizeof(AdapterItem::szDesc) - 1;
constexpr size_t kExportPrefix = 8; // "\Device\"

constexpr uint32_t kOptionRemoteDefaultGateway = 0x10;
constexpr uint32_t kOptionModemLights = 0x100;
constexpr uint32_t kOptionSwCompression = 0x200;
constexpr uint32_t kNetProtocolIp = 4;
constexpr uint32_t kFramingPpp = 1;
constexpr uint32_t kTypePhone = 1;
constexpr uint32_t kTypeBroadband = 5;
constexpr uint32_t kIfTypeEthernet = 6;

// The first text of a wide value: up to its terminator or the end of the bytes
// that were really read, whichever comes first (the registry does not promise a
// terminator).
std::u16string WideText(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = char16_t(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// A fixed field of a service record as text, never past the field's end.
template <size_t N> std::string FieldText(const char (&field)[N]) {
    const void* end = std::memchr(field, 0, N);
    return std::string(field, end ? static_cast<const char*>(end) - field : N);
}

} // namespace

CRasCheck::CRasCheck(RasService& ras, CaptureAdapterNames& capture, AdapterRegistry& registry,
                     IpAdapterTable& ipTable)
    : m_ras(ras), m_capture(capture), m_registry(registry), m_ipTable(ipTable) {}

const AdapterItem* CRasCheck::Adapter(int index) const {
    if (index < 0 || index >= AdapterCount())
        return nullptr;
    return &m_adapters[size_t(index)];
}

bool CRasCheck::EnumRasDevices() {
    m_devices.clear();
    m_dwDeviceCount = 0;
    for (int attempt = 0; attempt < kEnumAttempts; ++attempt) {
        uint32_t bytes = 0, count = 0;
        m_ras.EnumDevices(nullptr, &bytes, &count);
        // A service without devices may answer 0 bytes; the first record's dwSize
        // must still have somewhere to go.
        if (bytes < sizeof(RasDevInfoRecord))
            bytes = sizeof(RasDevInfoRecord);
        // Zeroed whole records, at least the bytes the service asked for.
        m_devices.assign((bytes + sizeof(RasDevInfoRecord) - 1) / sizeof(RasDevInfoRecord),
                         RasDevInfoRecord{});
        m_devices[0].dwSize = sizeof(RasDevInfoRecord);
        const uint32_t block = bytes;
        count = 0;
        const uint32_t result = m_ras.EnumDevices(m_devices.data(), &bytes, &count);
        if (result == kRasErrorBufferTooSmall)
            continue;
        if (result != 0)
            return false;
        // Never trust a count beyond the records the block can hold.
        const uint32_t room = block / sizeof(RasDevInfoRecord);
        m_dwDeviceCount = count < room ? count : room;
        return true;
    }
    return false;
}

void CRasCheck::FindPppoeDevice() {
    EnumRasDevices();
    for (uint32_t i = 0; i < m_dwDeviceCount; ++i) {
        const RasDevInfoRecord& device = m_devices[i];
        if (std::memcmp(device.szDeviceType, "pppoe", 6) == 0) {
            m_bPppoeDevice = 1;
            m_strPppoeDevice = FieldText(device.szDeviceName);
        }
    }
}

bool CRasCheck::ReadWideValue(const std::string& subkey, const char* value, std::u16string& text) {
    std::vector<uint8_t> bytes;
    if (!m_registry.ReadValue(subkey, value, bytes, kMaxValueBytes))
        return false;
    if (bytes.size() > kMaxValueBytes)
        bytes.resize(kMaxValueBytes);
    text = WideText(bytes);
    return true;
}

bool CRasCheck::LookUpAdapterDesc(const char* adapterName, uint32_t& index,
                                  std::string& description) {
    if (!m_registry.OpenClassKey())
        return false;
    bool found = false;
    std::string subkey;
    while (m_registry.EnumSubkey(index, subkey)) {
        ++index;
        std::u16string exported;
        if (!ReadWideValue(subkey + "\\Linkage", "Export", exported))
            continue;
        // "\Device\{...}" becomes the driver's "\Device\NPF_{...}"; anything shorter
        // than the prefix cannot be a device path.
        if (exported.size() < kExportPrefix)
            continue;
        exported.insert(kExportPrefix, u"NPF_");
        if (m_registry.ToCodePage(exported) != adapterName)
            continue;

        std::u16string service;
        if (ReadWideValue(subkey + "\\Ndi", "Service", service) &&
            EqualsNoCase(m_registry.ToCodePage(service), "NdisWan")) {
            break; // a remote-access miniport, not an adapter to dial over
        }
        std::u16string desc;
        if (!ReadWideValue(subkey, "DriverDesc", desc))
            break;
        // In the same code page as the device names and the combo box, cut by whole
        // characters so that a double-byte character is never split.
        std::string text = m_registry.ToCodePage(desc);
        while (text.size() > kMaxDescBytes && !desc.empty()) {
            desc.pop_back();
            if (!desc.empty() && desc.back() >= 0xD800 && desc.back() <= 0xDBFF)
                desc.pop_back();
            text = m_registry.ToCodePage(desc);
        }
        description = text;
        found = true;
        break;
    }
    m_registry.CloseClassKey();
    return found;
}

bool CRasCheck::AppendAdapter(const char* name, const char* description) {
    if (AdapterCount() >= kMaxAdapters)
        return false; // the table is full: ignore the rest
    AdapterItem item;
    if (!CopyField(item.szName, name))
        return false; // a name we could not keep whole
    CopyField(item.szDesc, description);
    m_adapters.push_back(item);
    return true;
}

bool CRasCheck::RefreshAdapters(const AdapterCallback& callback) {
    FindPppoeDevice();
    m_adapters.clear();
    if (!m_capture.IsLegacyWindows()) {
        std::vector<char> names(kNamesBuffer, '\0');
        uint32_t size = kNamesSizeGiven;
        if (!m_capture.GetAdapterNames(names.data(), &size))
            return false;
        names[kNamesBuffer - 1] = '\0'; // the walk below always meets an end
        for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
            uint32_t index = 0;
            std::string desc;
            if (!LookUpAdapterDesc(name, index, desc))
                continue;
            if (m_bPppoeDevice) {
                if (AppendAdapter(name, desc.c_str()) && callback)
                    callback(m_adapters.back().szDesc);
                continue;
            }
            for (uint32_t i = 0; i < m_dwDeviceCount; ++i) {
                const std::string device = FieldText(m_devices[i].szDeviceName);
                if (device != desc)
                    continue;
                if (AppendAdapter(name, device.c_str()) && callback)
                    callback(m_adapters.back().szDesc);
                break;
            }
        }
    }
    MarkEthernetAdapters();
    m_iSelected = m_adapters.empty() ? -1 : 0;
    return true;
}

void CRasCheck::MarkEthernetAdapters() {
    std::vector<IpAdapterRow> rows;
    if (!m_ipTable.GetAdapters(rows))
        return;
    for (const IpAdapterRow& row : rows) {
        if (row.adapterName.empty())
            continue;
        for (AdapterItem& item : m_adapters) {
            if (std::strstr(item.szName, row.adapterName.c_str()) == nullptr)
                continue;
            if (row.type == kIfTypeEthernet) {
                item.bEthernet = 1;
                std::memcpy(item.bMac, row.address, sizeof item.bMac);
            } else {
                item.bEthernet = 0;
            }
            break;
        }
    }
}

void CRasCheck::SelectAdapter(int index) {
    if (m_adapters.empty()) {
        m_iSelected = -1;
        return;
    }
    if (index < 0 || index >= AdapterCount())
        return;
    m_iSelected = index;
}

const uint8_t* CRasCheck::GetSelectedMac() const {
    static const uint8_t kNone[6] = {};
    if (const AdapterItem* item = Adapter(m_iSelected))
        return item->bMac;
    return kNone;
}

bool CRasCheck::CreatePppoeEntry(const char* entryName, std::string& errorText) {
    const AdapterItem* item = Adapter(m_iSelected);
    if (item == nullptr) {
        errorText = ErrorText(ErrorKey::NoAdapter);
        return false;
    }
    if (!item->bEthernet) {
        errorText = ErrorText(ErrorKey::NotEthernet);
        return false;
    }
    auto entry = std::make_unique<RasEntryRecord>();
    std::memset(entry.get(), 0, sizeof *entry);
    entry->dwSize = sizeof(RasEntryRecord);
    entry->dwfOptions = kOptionRemoteDefaultGateway | kOptionModemLights | kOptionSwCompression;
    entry->dwfNetProtocols = kNetProtocolIp;
    entry->dwFramingProtocol = kFramingPpp;
    if (m_bPppoeDevice) {
        CopyField(entry->szDeviceType, "pppoe");
        CopyField(entry->szDeviceName, m_strPppoeDevice.c_str());
        entry->dwType = kTypeBroadband;
    } else {
        CopyField(entry->szDeviceType, "isdn");
        CopyField(entry->szDeviceName, item->szDesc);
        entry->dwType = kTypePhone;
    }
    const uint32_t result = m_ras.SetEntryProperties(entryName, *entry, sizeof(RasEntryRecord));
    if (result == 0)
        return true;
    // The service refused (a standard user answered 5, access denied, by a
    // phonebook it may not write, for one): the box says so with the number a help
    // desk can act on, and the service's own text when it has one.
    char text[256] = {};
    const bool known = m_ras.GetErrorString(result, text, sizeof text) == 0;
    text[sizeof text - 1] = '\0';
    errorText = "Error " + std::to_string(result);
    if (known && text[0] != '\0')
        errorText += ": " + std::string(text);
    return false;
}
