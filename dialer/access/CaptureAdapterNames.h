// Port: the capture driver's list of adapter names (PacketGetAdapterNames).
#pragma once

#include <cstdint>

class CaptureAdapterNames {
  public:
    virtual ~CaptureAdapterNames() = default;
    // Fills `buffer` with zero-terminated names ended by an empty one; `size` is
    // what the caller tells the driver the buffer holds. False when the driver (or
    // its library) cannot answer.
    virtual bool GetAdapterNames(char* buffer, uint32_t* size) = 0;
    // True on the Windows 9x family, where the driver's names are not listed.
    virtual bool IsLegacyWindows() = 0;
};
