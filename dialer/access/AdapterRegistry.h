// Port: the registry's network adapter class key, read-only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class AdapterRegistry {
  public:
    virtual ~AdapterRegistry() = default;
    // Opens HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E972-...} for reading.
    virtual bool OpenClassKey() = 0;
    virtual void CloseClassKey() = 0;
    // Name of the class key's subkey at `index`; false when there is none.
    virtual bool EnumSubkey(uint32_t index, std::string& name) = 0;
    // The raw bytes of a wide-character value of `subkey` (a path below the class
    // key), at most `maxBytes` of them. The bytes need not end in a terminator.
    virtual bool ReadValue(const std::string& subkey, const char* value,
                           std::vector<uint8_t>& bytes, size_t maxBytes) = 0;
    // Converts wide characters to the system's 8-bit code page (the one the combo
    // box and the remote-access device names use).
    virtual std::string ToCodePage(const std::u16string& text) = 0;
};
