// Scriptable, recording fakes of the main dialog's ports: its window, the
// remote-access service and the three adapter sources.
#pragma once

#include "AdapterRegistry.h"
#include "CaptureAdapterNames.h"
#include "DialogWindow.h"
#include "IpAdapterTable.h"
#include "RasService.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakeDialogWindow : public DialogWindow {
  public:
    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::map<int, bool> enabled;
    std::vector<std::string> combo;
    int comboSelected = -1;
    std::string title;
    std::vector<std::string> aboutItems;
    bool systemMenu = true;
    bool idleWindowIcon = false;
    std::map<unsigned, unsigned> timers; // running timers: id -> period
    std::vector<unsigned> killed;
    bool visible = true;
    int raised = 0;
    bool trayAdded = false, trayRemoved = false;
    TrayIcon tray = TrayIcon::Idle;
    std::string trayTip;
    struct Box {
        std::string text, caption;
        MessageKind kind;
    };
    std::vector<Box> boxes;
    int aboutRuns = 0;
    int endResult = 0; // 0: still running
    std::vector<unsigned> pauses;
    std::vector<std::string> statusHistory;
    std::vector<std::string> events; // order of the notable calls

    void SetItemText(int id, const std::string& text) override {
        texts[id] = text;
        if (id == IDC_STATUS)
            statusHistory.push_back(text);
    }
    std::string GetItemText(int id) override { return texts[id]; }
    void SetCheck(int id, bool checked) override { checks[id] = checked; }
    bool GetCheck(int id) override { return checks[id]; }
    void EnableItem(int id, bool enable) override { enabled[id] = enable; }
    bool IsEnabled(int id) { return enabled.count(id) == 0 || enabled[id]; }
    bool InputsEnabled() {
        return IsEnabled(IDC_USERNAME) && IsEnabled(IDC_PASSWORD) && IsEnabled(IDC_SAVEPW) &&
               IsEnabled(IDC_ADAPTERS);
    }
    bool InputsDisabled() {
        return !IsEnabled(IDC_USERNAME) && !IsEnabled(IDC_PASSWORD) && !IsEnabled(IDC_SAVEPW) &&
               !IsEnabled(IDC_ADAPTERS);
    }
    void ComboReset(int) override { combo.clear(), comboSelected = -1; }
    void ComboAdd(int, const std::string& text) override { combo.push_back(text); }
    int ComboCount(int) override { return int(combo.size()); }
    void ComboSelect(int, int index) override { comboSelected = index; }
    void SetTitle(const std::string& t) override { title = t; }
    void SetIdleWindowIcon() override { idleWindowIcon = true; }
    bool HasSystemMenu() override { return systemMenu; }
    void AppendAboutItem(const std::string& text) override { aboutItems.push_back(text); }
    unsigned SetTimer(unsigned id, unsigned period) override {
        timers[id] = period;
        events.push_back("SetTimer " + std::to_string(id));
        return id;
    }
    void KillTimer(unsigned id) override {
        timers.erase(id);
        killed.push_back(id);
        events.push_back("KillTimer " + std::to_string(id));
    }
    void Hide() override { visible = false; }
    void ShowAndRaise() override { visible = true, ++raised; }
    bool IsVisible() override { return visible; }
    void AddTrayIcon(TrayIcon icon, const std::string& tip) override {
        trayAdded = true, tray = icon, trayTip = tip;
    }
    void SetTrayIcon(TrayIcon icon, const std::string& tip) override { tray = icon, trayTip = tip; }
    void RemoveTrayIcon() override {
        trayRemoved = true;
        events.push_back("RemoveTrayIcon");
    }
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageKind kind) override {
        boxes.push_back({text, caption, kind});
        events.push_back("MessageBox");
    }
    void RunAboutBox() override { ++aboutRuns; }
    void EndDialog(int result) override {
        endResult = result;
        events.push_back("EndDialog " + std::to_string(result));
    }
    void Pause(unsigned ms) override {
        pauses.push_back(ms);
        events.push_back("Pause " + std::to_string(ms));
    }
};

class FakeRasService : public RasService {
  public:
    // Devices the service lists.
    std::vector<RasDevInfoRecord> devices;
    bool sizeQueryAnswersZero = false; // some services answer 0 bytes without devices
    int tooSmallAnswers = 0;           // answer 603 this many times first
    uint32_t countOverride = 0;        // a count beyond the block, when set
    std::vector<uint32_t> enumBlockSizes;

    uint32_t setEntryResult = 0;
    std::map<std::string, RasEntryRecord> entries;
    std::vector<RasEntryRecord> entryWrites;
    std::vector<uint32_t> entrySizes;

    uint32_t dialResult = 0;
    // The handle the next dial gets (written also when the dial is refused); like the
    // service, every dial gets a handle of its own.
    RasHandle dialHandle = 0x1234;
    bool writeHandle = true;
    std::vector<RasDialParamsRecord> dials;

    std::map<uint32_t, std::string> errorTexts;

    struct Connection {
        std::string entry;
        RasHandle handle;
    };
    std::vector<Connection> connections;
    uint32_t enumConnectionsResult = 0;

    std::vector<RasHandle> hangUps;
    std::vector<std::string> deleted;
    std::vector<std::string>* events = nullptr;

    void AddDevice(const char* type, const char* name) {
        RasDevInfoRecord d;
        std::memset(&d, 0, sizeof d);
        d.dwSize = sizeof d;
        std::strncpy(d.szDeviceType, type, sizeof d.szDeviceType - 1);
        std::strncpy(d.szDeviceName, name, sizeof d.szDeviceName - 1);
        devices.push_back(d);
    }

    uint32_t EnumDevices(RasDevInfoRecord* block, uint32_t* bytes, uint32_t* count) override {
        const uint32_t need = uint32_t(devices.size() * sizeof(RasDevInfoRecord));
        if (block == nullptr) {
            *bytes = sizeqa(need);
            *count = uint32_t(devices.size());
            return need == 0 ? 0 : kRasErrorBufferTooSmall;
        }
        enumBlockSizes.push_back(*bytes);
        if (tooSmallAnswers > 0) {
            --tooSmallAnswers;
            return kRasErrorBufferTooSmall;
        }
        if (block[0].dwSize != sizeof(RasDevInfoRecord))
            return 632; // ERROR_INVALID_SIZE
        if (*bytes < need) {
            *bytes = need;
            return kRasErrorBufferTooSmall;
        }
        if (need)
            std::memcpy(block, devices.data(), need);
        *count = countOverride ? countOverride : uint32_t(devices.size());
        return 0;
    }
    uint32_t sizeqa(uint32_t need) { return sizeQueryAnswersZero ? 0 : need; }

    uint32_t SetEntryProperties(const char* entry, const RasEntryRecord& record,
                                uint32_t size) override {
        entryWrites.push_back(record);
        entrySizes.push_back(size);
        if (setEntryResult == 0)
            entries[entry] = record;
        return setEntryResult;
    }
    uint32_t Dial(const RasDialParamsRecord& params, RasHandle* handle) override {
        dials.push_back(params);
        if (events)
            events->push_back("Dial");
        const RasHandle given = dialHandle++;
        if (writeHandle)
            *handle = given;
        if (dialResult == 0)
            connectingHandle = given;
        return dialResult;
    }
    uint32_t GetErrorString(uint32_t code, char* buffer, uint32_t size) override {
        auto it = errorTexts.find(code);
        if (it == errorTexts.end())
            return 87; // ERROR_INVALID_PARAMETER
        std::strncpy(buffer, it->second.c_str(), size - 1);
        return 0;
    }
    uint32_t EnumConnections(RasConnRecord* block, uint32_t* bytes, uint32_t* count) override {
        if (enumConnectionsResult != 0)
            return enumConnectionsResult;
        if (block[0].dwSize != sizeof(RasConnRecord))
            return 632;
        const uint32_t need = uint32_t(connections.size() * sizeof(RasConnRecord));
        if (*bytes < need) {
            *bytes = need;
            return kRasErrorBufferTooSmall;
        }
        for (size_t i = 0; i < connections.size(); ++i) {
            RasConnRecord& r = block[i];
            std::memset(&r, 0, sizeof r);
            r.dwSize = sizeof r;
            r.hrasconn = connections[i].handle;
            std::strncpy(r.szEntryName, connections[i].entry.c_str(), sizeof r.szEntryName - 1);
        }
        *count = uint32_t(connections.size());
        return 0;
    }
    uint32_t HangUp(RasHandle handle) override {
        hangUps.push_back(handle);
        if (events)
            events->push_back("HangUp " + std::to_string(handle));
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (it->handle == handle) {
                connections.erase(it);
                break;
            }
        }
        return 0;
    }
    uint32_t DeleteEntry(const char* entry) override {
        deleted.push_back(entry);
        if (events)
            events->push_back("DeleteEntry");
        entries.erase(entry);
        return 0;
    }
    // The dial's connection appears in the active list (as at kRasConnected).
    void Connect(const char* entry = "PPPOE Connection") {
        connections.push_back({entry, connectingHandle});
    }
    RasHandle connectingHandle = 0; // the handle of the last dial the service accepted
};

// The three sources of the adapter list.
class FakeAdapterSources : public CaptureAdapterNames,
                           public AdapterRegistry,
                           public IpAdapterTable {
  public:
    // capture driver
    std::vector<std::string> names;
    bool namesOk = true;
    bool legacy = false;
    uint32_t sizeGiven = 0;
    // registry: subkey names and values by "subkey|value"
    std::vector<std::string> subkeys;
    std::map<std::string, std::vector<uint8_t>> values;
    bool classKeyOpens = true;
    int openKeys = 0;
    // IP helper
    std::vector<IpAdapterRow> rows;
    bool rowsOk = true;

    bool GetAdapterNames(char* buffer, uint32_t* size) override {
        sizeGiven = *size;
        if (!namesOk)
            return false;
        size_t at = 0;
        for (const std::string& n : names) {
            std::memcpy(buffer + at, n.c_str(), n.size() + 1);
            at += n.size() + 1;
        }
        buffer[at] = '\0';
        return true;
    }
    bool IsLegacyWindows() override { return legacy; }

    bool OpenClassKey() override {
        if (classKeyOpens)
            ++openKeys;
        return classKeyOpens;
    }
    void CloseClassKey() override { --openKeys; }
    bool EnumSubkey(uint32_t index, std::string& name) override {
        if (index >= subkeys.size())
            return false;
        name = subkeys[index];
        return true;
    }
    bool ReadValue(const std::string& subkey, const char* value, std::vector<uint8_t>& bytes,
                   size_t maxBytes) override {
        auto it = values.find(subkey + "|" + value);
        if (it == values.end() || it->second.size() > maxBytes)
            return false;
        bytes = it->second;
        return true;
    }
    // A double-byte code page: ASCII stays one byte, every other character becomes a
    // lead byte 0x81..0xFE and a trail byte.
    std::string ToCodePage(const std::u16string& text) override {
        std::string out;
        for (char16_t c : text) {
            if (c < 0x80) {
                out.push_back(char(c));
            } else {
                out.push_back(char(0x81 + (c >> 8) % 0x7E));
                out.push_back(char(0x40 + (c & 0x3F)));
            }
        }
        return out;
    }
    bool GetAdapters(std::vector<IpAdapterRow>& out) override {
        if (!rowsOk)
            return false;
        out = rows;
        return true;
    }

    // Helpers for the tests.
    static std::vector<uint8_t> Wide(const std::u16string& text, bool terminate = true) {
        std::vector<uint8_t> bytes;
        for (char16_t c : text) {
            bytes.push_back(uint8_t(c & 0xFF));
            bytes.push_back(uint8_t(c >> 8));
        }
        if (terminate)
            bytes.insert(bytes.end(), {0, 0});
        return bytes;
    }
    static std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
    // One adapter known to the registry: subkey, Export "\Device\{guid}", DriverDesc.
    void AddRegistryAdapter(const std::string& guid, const std::u16string& desc,
                            const char* service = nullptr) {
        const std::string subkey = "00" + std::to_string(10 + subkeys.size());
        subkeys.push_back(subkey);
        values[subkey + "\\Linkage|Export"] = Wide(Ascii("\\Device\\" + guid));
        values[subkey + "|DriverDesc"] = Wide(desc);
        if (service)
            values[subkey + "\\Ndi|Service"] = Wide(Ascii(service));
    }
    static std::string DriverName(const std::string& guid) { return "\\Device\\NPF_" + guid; }
    void AddIpRow(const std::string& guid, uint32_t type, std::vector<uint8_t> mac) {
        IpAdapterRow row;
        row.adapterName = guid;
        row.type = type;
        std::memcpy(row.address, mac.data(), mac.size() < 8 ? mac.size() : 8);
        row.addressLength = uint32_t(mac.size());
        rows.push_back(row);
    }
};
