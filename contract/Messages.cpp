#include "HostInterface.h"

#include <cstring>

#include "ByteCursor.h"

namespace {

// Reads a 16-bit big-endian threshold from an item's value. A value shorter than
// two bytes gives what it has: one byte is taken as the number itself, none as 0.
int32_t ReadThreshold(ByteCursor value) {
    uint16_t wide;
    if (value.ReadU16BigEndian(wide))
        return wide;
    uint8_t narrow;
    if (value.ReadU8(narrow))
        return narrow;
    return 0;
}

void AppendItem(std::vector<uint8_t>& body, uint8_t type, const uint8_t* value, uint8_t n) {
    body.push_back(type);
    body.push_back(n);
    body.insert(body.end(), value, value + n);
}

void AppendFlag(std::vector<uint8_t>& body, uint8_t type, uint8_t value) {
    AppendItem(body, type, &value, 1);
}

void AppendCount(std::vector<uint8_t>& body, uint8_t type, int32_t count) {
    const uint8_t v[2] = {uint8_t((uint32_t(count) >> 8) & 0xff), uint8_t(count & 0xff)};
    AppendItem(body, type, v, 2);
}

std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> message;
    message.reserve(body.size() + 2);
    message.push_back(kReplyMessage);
    message.push_back(uint8_t(body.size()));
    message.insert(message.end(), body.begin(), body.end());
    return message;
}

} // namespace

bool ParseRequest(const uint8_t* message, size_t length, ParsedRequest& out,
                  UpdateUrlSink* updates) {
    if (message == nullptr || length < 3)
        return false;
    ByteCursor cursor(message, length);
    uint8_t messageKind, bodyLength;
    if (!cursor.ReadU8(messageKind) || !cursor.ReadU8(bodyLength) ||
        messageKind != kRequestMessage || cursor.Remaining() != bodyLength)
        return false;

    out = ParsedRequest{};
    DetectionRequest& q = out.request;
    // Each item needs its type and length bytes; a lone trailing byte ends the parse.
    while (cursor.Remaining() >= 2) {
        uint8_t type, n;
        cursor.ReadU8(type);
        cursor.ReadU8(n);
        ByteCursor item(nullptr, 0);
        if (!cursor.ReadCursor(n, item))
            break; // an overrunning item ends the parse
        const uint8_t* value = item.Data();
        if (type >= AdapterCount)
            q.kind = kDetectionRequest;
        switch (type) {
        case UpdateUrl:
            if (n > 0 && updates != nullptr) {
                const void* zero = std::memchr(value, 0, n);
                const size_t textLength =
                    zero ? size_t(static_cast<const uint8_t*>(zero) - value) : n;
                updates->OnUpdateUrl(std::string(reinterpret_cast<const char*>(value), textLength),
                                     int(n));
            }
            break;
        case IpAddress:
        case MacAddress:
            out.addressRequested = true;
            break;
        case DetectOff:
            q.kind = kDetectOffRequest;
            break;
        case AdapterCount:
            q.adapterCount = 1;
            break;
        case AddressCount:
            q.addressCount = 1;
            break;
        case AddressChanged:
            q.addressChanged = 1;
            break;
        case Reserved24:
            q.reserved24 = 1;
            break;
        case TcpConnections:
            q.tcpConnections = ReadThreshold(item);
            break;
        case UdpEndpoints:
            q.udpEndpoints = ReadThreshold(item);
            break;
        case ServiceRunning:
            q.serviceRunning = 1;
            break;
        case ProgramFeatures:
            q.programFeatures = 1;
            break;
        case LocalProxy:
            q.localProxy = 1;
            break;
        case RelayedRequest:
            q.relayedRequest = 1;
            break;
        case DhcpServer:
            q.dhcpServer = 1;
            break;
        case BitTorrentTraffic:
            q.bitTorrent = 1;
            break;
        default:
            break;
        }
    }
    return true;
}

std::vector<uint8_t> BuildFindingsReply(const DetectionRequest& q, const DetectionFindings& f) {
    std::vector<uint8_t> body;
    if (q.kind == kDetectOffRequest) {
        AppendItem(body, DetectOff, nullptr, 0);
        return Frame(body);
    }
    if (q.adapterCount && f.adapterCount)
        AppendFlag(body, AdapterCount, f.adapterCount);
    if (q.addressCount && f.addressCount)
        AppendFlag(body, AddressCount, f.addressCount);
    if (q.addressChanged && f.addressChanged)
        AppendFlag(body, AddressChanged, 1);
    if (q.tcpConnections > 0 && f.tcpConnections >= q.tcpConnections)
        AppendCount(body, TcpConnections, f.tcpConnections);
    if (q.udpEndpoints > 0 && f.udpEndpoints >= q.udpEndpoints)
        AppendCount(body, UdpEndpoints, f.udpEndpoints);
    if (q.serviceRunning && f.serviceRunning)
        AppendFlag(body, ServiceRunning, 1);
    if (q.programFeatures && f.programFeatures)
        AppendFlag(body, ProgramFeatures, 1);
    if (q.dhcpServer && f.dhcpServer)
        AppendFlag(body, DhcpServer, 1);
    if (q.localProxy && f.localProxy)
        AppendFlag(body, LocalProxy, 1);
    if (q.relayedRequest && f.relayedRequest)
        AppendFlag(body, RelayedRequest, 1);
    if (q.bitTorrent && f.bitTorrent)
        AppendFlag(body, BitTorrentTraffic, 1);
    if (body.empty())
        AppendItem(body, DetectOff, nullptr, 0);
    return Frame(body);
}

std::vector<uint8_t> BuildAddressReply(uint32_t accessIp, const uint8_t mac[6]) {
    uint8_t octets[4];
    std::memcpy(octets, &accessIp, 4);
    // The address goes out as a number whose most significant byte is the first
    // octet, written least significant byte first: the octets reversed.
    const uint8_t ip[4] = {octets[3], octets[2], octets[1], octets[0]};
    std::vector<uint8_t> body;
    AppendItem(body, IpAddress, ip, 4);
    AppendItem(body, MacAddress, mac, 6);
    return Frame(body);
}

size_t BuildLinkRequest(uint8_t (&buffer)[kLinkRequestBuffer]) {
    std::memset(buffer, 0, sizeof buffer);
    static const uint8_t items[] = {AdapterCount, ServiceRunning, ProgramFeatures, LocalProxy,
                                    BitTorrentTraffic};
    size_t at = 2;
    for (uint8_t item : items) {
        buffer[at++] = item;
        buffer[at++] = 0;
    }
    buffer[0] = kRequestMessage;
    buffer[1] = uint8_t(at - 2);
    return at;
}
