#include "IPHelper.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "ByteCursor.h"
#include "HostTables.h"
#include "Ports.h"
#include "utils.h"

namespace {

constexpr uint32_t kNoAddress = 0xffffffff;

// One part of a dotted address: decimal, 0-prefixed octal or 0x-prefixed hex.
bool ParsePart(const char*& p, uint64_t& value) {
    int base = 10;
    if (*p == '0') {
        base = 8;
        ++p;
        if (*p == 'x' || *p == 'X') {
            base = 16;
            ++p;
            if (!std::isxdigit(static_cast<unsigned char>(*p)))
                return false;
        }
        // otherwise octal; a lone "0" is a valid part
    } else if (!(*p >= '1' && *p <= '9')) {
        return false;
    }
    value = 0;
    for (;; ++p) {
        int digit;
        const char c = *p;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base)
            return false;
        value = value * base + digit;
        if (value > 0xffffffffu)
            return false;
    }
    return true;
}

void CopyField(char* field, size_t fieldSize, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

} // namespace

uint32_t AddressTextToNumber(const char* text) {
    if (text == nullptr)
        return kNoAddress;
    uint64_t parts[4];
    int count = 0;
    const char* p = text;
    for (;;) {
        if (count == 4 || !ParsePart(p, parts[count]))
            return kNoAddress;
        ++count;
        if (*p == '.') {
            ++p;
            continue;
        }
        if (*p != 0 && *p != ' ')
            return kNoAddress;
        break;
    }
    uint64_t host = 0;
    switch (count) {
    case 1:
        host = parts[0];
        break;
    case 2:
        if (parts[0] > 0xff || parts[1] > 0xffffff)
            return kNoAddress;
        host = (parts[0] << 24) | parts[1];
        break;
    case 3:
        if (parts[0] > 0xff || parts[1] > 0xff || parts[2] > 0xffff)
            return kNoAddress;
        host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
        break;
    default:
        for (int i = 0; i < 4; ++i)
            if (parts[i] > 0xff)
                return kNoAddress;
        host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
    }
    // network byte order: first octet in the lowest-addressed byte
    const uint8_t octets[4] = {uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8),
                               uint8_t(host)};
    uint32_t number;
    std::memcpy(&number, octets, 4);
    return number;
}

int BuildAdapterTable(uint8_t* buffer, size_t size) {
    std::memset(buffer, 0, size);
    std::vector<AdapterInfoRow> rows;
    if (!Ports().hostTables->ReadAdapters(rows))
        return 0;
    // Bounded by the caller's buffer: the system's list may hold more adapters
    // than the buffer has room for.
    const size_t capacity = size / sizeof(AdapterRecord);
    size_t filled = 0;
    for (const AdapterInfoRow& row : rows) {
        if (filled >= capacity)
            break;
        AdapterRecord record;
        std::memset(&record, 0, sizeof record);
        std::memcpy(record.description, row.description.data(),
                    std::min<size_t>(row.description.size(), 128));
        std::memcpy(record.mac, row.mac.data(), std::min<size_t>(row.mac.size(), 6));
        record.dhcpEnabled = row.dhcpEnabled;
        for (size_t slot = 0; slot < kAddressSlots && slot < row.addresses.size(); ++slot) {
            CopyField(record.addresses[slot], 16, row.addresses[slot].first);
            CopyField(record.masks[slot], 16, row.addresses[slot].second);
        }
        std::memcpy(buffer + filled * sizeof(AdapterRecord), &record, sizeof record);
        ++filled;
    }
    return int(filled);
}

uint32_t LookUpAccessAddress(const uint8_t mac[6]) {
    std::vector<uint8_t> table(kAdapterTableBytes);
    const int n = BuildAdapterTable(table.data(), table.size());
    for (int i = 0; i < n; ++i) {
        AdapterRecord record;
        std::memcpy(&record, table.data() + i * sizeof(AdapterRecord), sizeof record);
        if (std::memcmp(record.mac, mac, 6) != 0)
            continue;
        if (record.addresses[0][0] == 0)
            return 0; // no address text: not found yet
        return AddressTextToNumber(record.addresses[0]);
    }
    return 0;
}

AdapterCounts CountAdaptersAndAddresses() {
    std::vector<uint8_t> table(kAdapterTableBytes);
    AdapterCounts counts;
    counts.adapters = BuildAdapterTable(table.data(), table.size());
    for (int i = 0; i < counts.adapters; ++i) {
        AdapterRecord record;
        std::memcpy(&record, table.data() + i * sizeof(AdapterRecord), sizeof record);
        for (const auto& text : record.addresses)
            if (text[0] != 0)
                ++counts.addresses;
    }
    return counts;
}

int32_t CountTcpConnections() {
    std::vector<TcpRow> rows;
    if (!Ports().hostTables->ReadTcpTable(rows))
        return -1;
    int32_t count = 0;
    for (const TcpRow& row : rows)
        if (row.state != kTcpStateListen && (row.localPort & 0xffff) != 0 &&
            (row.remotePort & 0xffff) != 0)
            ++count;
    return count;
}

int32_t CountUdpEndpoints() {
    std::vector<UdpRow> rows;
    if (!Ports().hostTables->ReadUdpTable(rows))
        return -1;
    return int32_t(rows.size());
}

bool HasDhcpServerPort() {
    std::vector<UdpRow> rows;
    if (!Ports().hostTables->ReadUdpTable(rows))
        return false;
    for (const UdpRow& row : rows)
        if (SwapBytes16(uint16_t(row.localPort)) == 67)
            return true;
    return false;
}
