// HostTables over the IP helper service: GetAdaptersInfo, GetTcpTable and
// GetUdpTable, each with the size-then-fetch protocol.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "HostTables.h"
#include "Win32Ports.h"

namespace {

// The size query answers ERROR_BUFFER_OVERFLOW (adapters) or
// ERROR_INSUFFICIENT_BUFFER (endpoint tables) with the size needed.
class HostTablesWin : public HostTables {
  public:
    bool ReadAdapters(std::vector<AdapterInfoRow>& out) override {
        out.clear();
        ULONG size = 0;
        const DWORD probe = GetAdaptersInfo(nullptr, &size);
        if (probe == ERROR_NO_DATA)
            return true; // no adapters: an empty table
        if (probe != ERROR_BUFFER_OVERFLOW || size == 0)
            return false;
        std::vector<uint8_t> block(size);
        auto* head = reinterpret_cast<IP_ADAPTER_INFO*>(block.data());
        if (GetAdaptersInfo(head, &size) != ERROR_SUCCESS)
            return false;
        for (const IP_ADAPTER_INFO* a = head; a != nullptr; a = a->Next) {
            AdapterInfoRow row;
            row.adapterName.assign(a->AdapterName, strnlen(a->AdapterName, sizeof a->AdapterName));
            row.description.assign(a->Description, strnlen(a->Description, sizeof a->Description));
            const UINT macLength = a->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH
                                       ? a->AddressLength
                                       : MAX_ADAPTER_ADDRESS_LENGTH;
            row.mac.assign(a->Address, a->Address + macLength);
            row.dhcpEnabled = a->DhcpEnabled;
            for (const IP_ADDR_STRING* s = &a->IpAddressList; s != nullptr; s = s->Next) {
                row.addresses.emplace_back(
                    std::string(s->IpAddress.String, strnlen(s->IpAddress.String, 16)),
                    std::string(s->IpMask.String, strnlen(s->IpMask.String, 16)));
            }
            out.push_back(std::move(row));
        }
        return true;
    }

    bool ReadTcpTable(std::vector<TcpRow>& out) override {
        out.clear();
        std::vector<uint8_t> block;
        if (!Fetch(block, [](void* table, ULONG* size) {
                return GetTcpTable(static_cast<MIB_TCPTABLE*>(table), size, FALSE);
            }))
            return false;
        const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(block.data());
        const DWORD rows = RowsThatFit(block.size(), table->dwNumEntries,
                                       offsetof(MIB_TCPTABLE, table), sizeof(MIB_TCPROW));
        for (DWORD i = 0; i < rows; ++i) {
            const MIB_TCPROW& r = table->table[i];
            TcpRow row;
            row.state = r.dwState;
            row.localAddr = r.dwLocalAddr;
            row.localPort = r.dwLocalPort;
            row.remoteAddr = r.dwRemoteAddr;
            row.remotePort = r.dwRemotePort;
            out.push_back(row);
        }
        return true;
    }

    bool ReadUdpTable(std::vector<UdpRow>& out) override {
        out.clear();
        std::vector<uint8_t> block;
        if (!Fetch(block, [](void* table, ULONG* size) {
                return GetUdpTable(static_cast<MIB_UDPTABLE*>(table), size, FALSE);
            }))
            return false;
        const auto* table = reinterpret_cast<const MIB_UDPTABLE*>(block.data());
        const DWORD rows = RowsThatFit(block.size(), table->dwNumEntries,
                                       offsetof(MIB_UDPTABLE, table), sizeof(MIB_UDPROW));
        for (DWORD i = 0; i < rows; ++i) {
            UdpRow row;
            row.localAddr = table->table[i].dwLocalAddr;
            row.localPort = table->table[i].dwLocalPort;
            out.push_back(row);
        }
        return true;
    }

  private:
    template <class Call> static bool Fetch(std::vector<uint8_t>& block, Call call) {
        ULONG size = 0;
        const DWORD probe = call(nullptr, &size);
        if (probe != ERROR_INSUFFICIENT_BUFFER || size == 0)
            return false; // incl. NOT_SUPPORTED
        // The table may grow between the two calls; a little room avoids a failure.
        size += 16 * sizeof(MIB_TCPROW);
        block.assign(size, 0);
        if (call(block.data(), &size) != NO_ERROR)
            return false;
        return block.size() >= sizeof(DWORD);
    }

    // The row count the system wrote, but never more rows than the block holds.
    static DWORD RowsThatFit(size_t blockSize, DWORD claimed, size_t header, size_t row) {
        if (blockSize < header)
            return 0;
        const size_t room = (blockSize - header) / row;
        return claimed < room ? claimed : DWORD(room);
    }
};

} // namespace

std::unique_ptr<HostTables> CreateWin32HostTables() {
    return std::make_unique<HostTablesWin>();
}
