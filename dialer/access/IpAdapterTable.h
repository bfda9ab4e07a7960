// Port: the IP helper service's adapter table (GetAdaptersInfo).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IpAdapterRow {
    std::string adapterName;
    uint32_t type = 0; // 6: Ethernet
    uint8_t address[8] = {};
    uint32_t addressLength = 0;
};

class IpAdapterTable {
  public:
    virtual ~IpAdapterTable() = default;
    // The adapters in the service's order; false when the table cannot be read
    // (a first call with 640 bytes, one more with the size the service asks for).
    virtual bool GetAdapters(std::vector<IpAdapterRow>& rows) = 0;
};
