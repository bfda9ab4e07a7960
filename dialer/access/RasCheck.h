// The dialer's adapter list: adapters that the capture driver names and the
// registry describes, the Ethernet ones marked with their hardware addresses, the
// remote-access PPPoE device, the user's choice, and the phonebook entry for it.
#pragma once

#include "AdapterRegistry.h"
#include "CaptureAdapterNames.h"
#include "IpAdapterTable.h"
#include "RasService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxAdapters = 20;
constexpr const char* kAdapterClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

struct AdapterItem {
    char szName[269] = {}; // the capture driver's name of the adapter
    char szDesc[129] = {}; // what the user sees: registry description or device name
    uint8_t bMac[6] = {};
    int32_t bEthernet = 0;
};

class CRasCheck {
  public:
    using AdapterCallback = std::function<void(const char* description)>;

    CRasCheck(RasService& ras, CaptureAdapterNames& capture, AdapterRegistry& registry,
              IpAdapterTable& ipTable);
    CRasCheck(const CRasCheck&) = delete;
    CRasCheck& operator=(const CRasCheck&) = delete;

    // Rebuilds the list, calling `callback` (may be empty) with each description in
    // list order. False only when the capture driver's names cannot be had.
    bool RefreshAdapters(const AdapterCallback& callback);
    // Makes list entry `index` the chosen adapter. Without adapters nothing can be
    // chosen; an index outside the list leaves the choice as it was.
    void SelectAdapter(int index);
    // The chosen adapter's 6-byte hardware address (all zero when none is chosen).
    const uint8_t* GetSelectedMac() const;
    // Writes the phonebook entry for the chosen adapter. On a refusal `errorText`
    // gets the reason: its own (no adapter, not Ethernet), or the service's error
    // number with the service's text for it.
    bool CreatePppoeEntry(const char* entryName, std::string& errorText);

    bool EnumRasDevices();
    void FindPppoeDevice();
    // Looks for the class subkey whose exported device path is `adapterName` once
    // "NPF_" is inserted; from `index` on, which ends past the last subkey visited.
    bool LookUpAdapterDesc(const char* adapterName, uint32_t& index, std::string& description);
    void MarkEthernetAdapters();

    int AdapterCount() const { return int(m_adapters.size()); }
    const AdapterItem* Adapter(int index) const;
    int SelectedIndex() const { return m_iSelected; }
    bool HasPppoeDevice() const { return m_bPppoeDevice != 0; }
    const std::string& PppoeDeviceName() const { return m_strPppoeDevice; }
    uint32_t DeviceCount() const { return m_dwDeviceCount; }

  private:
    bool AppendAdapter(const char* name, const char* description);
    bool ReadWideValue(const std::string& subkey, const char* value, std::u16string& text);

    RasService& m_ras;
    CaptureAdapterNames& m_capture;
    AdapterRegistry& m_registry;
    IpAdapterTable& m_ipTable;

    int32_t m_iSelected = -1;
    std::vector<AdapterItem> m_adapters; // at most kMaxAdapters
    int32_t m_bPppoeDevice = 0;
    std::string m_strPppoeDevice;
    // The service's device block as it was filled; m_dwDeviceCount of its records
    // count.
    std::vector<RasDevInfoRecord> m_devices;
    uint32_t m_dwDeviceCount = 0;
};
