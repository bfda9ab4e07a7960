#pragma once

#include "AdapterRegistry.h"
#include "CaptureAdapterNames.h"
#include "IpAdapterTable.h"
#include "ScopedHandles_win.h"

#include <windows.h>

// packet.dll is looked up at run time: without the capture driver the dialer
// still starts, it only lists no adapter.
class Win32CaptureAdapterNames : public CaptureAdapterNames {
  public:
    bool GetAdapterNames(char* buffer, uint32_t* size) override;
    bool IsLegacyWindows() override;

  private:
    ScopedModule m_hPacket;
};

class Win32AdapterRegistry : public AdapterRegistry {
  public:
    bool OpenClassKey() override;
    void CloseClassKey() override;
    bool EnumSubkey(uint32_t index, std::string& name) override;
    bool ReadValue(const std::string& subkey, const char* value, std::vector<uint8_t>& bytes,
                   size_t maxBytes) override;
    std::string ToCodePage(const std::u16string& text) override;

  private:
    ScopedKey m_hClass;
};

class Win32IpAdapterTable : public IpAdapterTable {
  public:
    bool GetAdapters(std::vector<IpAdapterRow>& rows) override;
};
