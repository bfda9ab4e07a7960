#pragma once

#include "AdapterRegistry.h"
#include "CaptureAdapterNames.h"
#include "IpAdapterTable.h"

#include <windows.h>

// packet.dll is looked up at run time: without the capture driver the dialer
// still starts, it only lists no adapter.
class Win32CaptureAdapterNames : public CaptureAdapterNames {
public:
    ~Win32CaptureAdapterNames() override;
    bool GetAdapterNames(char* buffer, uint32_t* size) override;
    bool IsLegacyWindows() override;

private:
    HMODULE m_hPacket = nullptr;
};

class Win32AdapterRegistry : public AdapterRegistry {
public:
    ~Win32AdapterRegistry() override { CloseClassKey(); }
    bool OpenClassKey() override;
    void CloseClassKey() override;
    bool EnumSubkey(uint32_t index, std::string& name) override;
    bool ReadValue(const std::string& subkey, const char* value, std::vector<uint8_t>& bytes,
                   size_t maxBytes) override;
    std::string ToCodePage(const std::u16string& text) override;

private:
    HKEY m_hClass = nullptr;
};

class Win32IpAdapterTable : public IpAdapterTable {
public:
    bool GetAdapters(std::vector<IpAdapterRow>& rows) override;
};
