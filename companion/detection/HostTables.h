// Port: the machine's adapter list and TCP/UDP endpoint tables, as the IP helper
// service reports them. Each call reads the system afresh; false means the table
// could not be read (an empty table is true with no rows).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct AdapterInfoRow {
    std::string adapterName;  // the system's adapter name (a GUID text on NT)
    std::string description;  // as reported, may be longer than any field we copy it to
    std::vector<uint8_t> mac; // hardware address bytes as reported (may be 0..8 bytes)
    uint32_t dhcpEnabled = 0;
    // The address chain: dotted address text and mask text, in order.
    std::vector<std::pair<std::string, std::string>> addresses;
};

// Addresses in network byte order; ports in network byte order in the low 16 bits,
// exactly as the system's tables hold them.
struct TcpRow {
    uint32_t state = 0; // MIB_TCP_STATE: 2 = LISTEN, 5 = ESTABLISHED
    uint32_t localAddr = 0;
    uint32_t localPort = 0;
    uint32_t remoteAddr = 0;
    uint32_t remotePort = 0;
};

struct UdpRow {
    uint32_t localAddr = 0;
    uint32_t localPort = 0;
};

constexpr uint32_t kTcpStateListen = 2;
constexpr uint32_t kTcpStateEstablished = 5;

class HostTables {
  public:
    virtual ~HostTables() = default;
    virtual bool ReadAdapters(std::vector<AdapterInfoRow>& out) = 0;
    virtual bool ReadTcpTable(std::vector<TcpRow>& out) = 0;
    virtual bool ReadUdpTable(std::vector<UdpRow>& out) = 0;
};
