// What the library knows about the machine's own networking: the adapter table,
// the access address look-up, the counts and the TCP/UDP endpoint tables. Plain
// functions; each reads the system afresh through Ports().hostTables and reports
// failure as a value.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct AdapterRecord {
    char description[132]; // first 128 bytes of the system's text, rest zero
    uint8_t mac[6];        // first 6 bytes of the hardware address
    uint32_t dhcpEnabled;  // as the system reports it
    char addresses[5][16]; // dotted texts, zero-terminated; unused slots all zero
    char masks[5][16];     // paired with the address slots
};
#pragma pack(pop)
static_assert(sizeof(AdapterRecord) == 302, "the record as the library lays it out");

// The buffer the library's callers use: room for 8 records.
constexpr size_t kAdapterTableBytes = 2416;
constexpr size_t kAddressSlots = 5;

// The system's dotted-decimal conversion (as inet_addr: one to four parts, each
// decimal, octal with a leading 0 or hexadecimal with 0x). Returns the address in
// network byte order, or 0xffffffff for an unusable text.
uint32_t AddressTextToNumber(const char* text);

// Fills buffer (zeroed first) with AdapterRecords and returns how many. Never
// writes more records than fit in `size` bytes, however many adapters exist.
int BuildAdapterTable(uint8_t* buffer, size_t size);

// The IPv4 address (network byte order) of the first adapter whose hardware
// address is `mac`; 0 when none has it.
uint32_t LookUpAccessAddress(const uint8_t mac[6]);

struct AdapterCounts {
    int adapters = 0;  // records in the table (at most 8)
    int addresses = 0; // address slots with a non-empty text over those records
};
AdapterCounts CountAdaptersAndAddresses();

// Rows that are not listening and have both ports set; -1 when unreadable.
int32_t CountTcpConnections();
// Rows of the UDP table; -1 when unreadable.
int32_t CountUdpEndpoints();
// True when a local UDP endpoint is bound to port 67 (a DHCP server).
bool HasDhcpServerPort();
