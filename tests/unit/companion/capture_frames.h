// Builders for captured frames and driver batches used by the capture's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "packet32.h"

namespace capture_test {

using Bytes = std::vector<uint8_t>;

struct Mac {
    uint8_t b[6];
};
// Stations on the captured segment, each with its own hardware address.
inline Mac Station(uint8_t n) {
    return Mac{{0x02, 0x00, 0x00, 0x00, 0x00, n}};
}

// Ethernet + IPv4 (20 bytes) + TCP (20 bytes) + payload; ethertype and protocol
// can be changed to build non-TCP frames. Padded with zeros up to minLength.
inline Bytes Frame(Mac src, Mac dst, uint16_t srcPort, uint16_t dstPort, const std::string& payload,
                   size_t minLength = 0, uint8_t protocol = 6, uint16_t etherType = 0x0800) {
    Bytes f(54, 0);
    std::memcpy(&f[0], dst.b, 6);
    std::memcpy(&f[6], src.b, 6);
    f[12] = uint8_t(etherType >> 8);
    f[13] = uint8_t(etherType);
    f[14] = 0x45;
    const size_t ipLength = 40 + payload.size();
    f[16] = uint8_t(ipLength >> 8);
    f[17] = uint8_t(ipLength);
    f[22] = 64;
    f[23] = protocol;
    const uint8_t srcIp[4] = {10, 0, 0, src.b[5]}, dstIp[4] = {10, 0, 0, dst.b[5]};
    std::memcpy(&f[26], srcIp, 4);
    std::memcpy(&f[30], dstIp, 4);
    f[34] = uint8_t(srcPort >> 8);
    f[35] = uint8_t(srcPort);
    f[36] = uint8_t(dstPort >> 8);
    f[37] = uint8_t(dstPort);
    f[46] = 0x50; // data offset 5 words
    f.insert(f.end(), payload.begin(), payload.end());
    if (f.size() < minLength)
        f.resize(minLength, 0);
    return f;
}

// A TCP frame of exactly `length` bytes whose payload starts with `payload`.
inline Bytes TcpFrameOfLength(size_t length, const std::string& payload = "",
                              uint8_t protocol = 6) {
    Bytes f = Frame(Station(1), Station(2), 40000, 80, payload, length, protocol);
    f.resize(length);
    return f;
}

// The frame as a PPPoE session frame (EtherType 0x8864) on the same stations: the
// 6-byte PPPoE header and the 2-byte PPP protocol go between the addresses and the
// IPv4 packet, as on a PPPoE link. `lengthDelta` skews the header's length field.
inline Bytes Pppoe(const Bytes& plain, uint16_t pppProtocol = 0x0021, uint8_t code = 0x00,
                   uint8_t versionType = 0x11, int lengthDelta = 0) {
    Bytes f(plain.begin(), plain.begin() + 12);
    const size_t length = plain.size() - 14 + 2 + size_t(lengthDelta);
    const uint8_t header[] = {0x88,
                              0x64,
                              versionType,
                              code,
                              0x12,
                              0x34, // session
                              uint8_t(length >> 8),
                              uint8_t(length),
                              uint8_t(pppProtocol >> 8),
                              uint8_t(pppProtocol)};
    f.insert(f.end(), std::begin(header), std::end(header));
    f.insert(f.end(), plain.begin() + 14, plain.end());
    return f;
}

// The frame with one 802.1Q tag (VLAN 7) after its addresses.
inline Bytes Vlan(const Bytes& frame, uint16_t tpid = 0x8100) {
    Bytes f(frame.begin(), frame.begin() + 12);
    const uint8_t tag[] = {uint8_t(tpid >> 8), uint8_t(tpid), 0x00, 0x07};
    f.insert(f.end(), std::begin(tag), std::end(tag));
    f.insert(f.end(), frame.begin() + 12, frame.end());
    return f;
}

// A driver batch: bpf records on 4-byte boundaries.
class Batch {
  public:
    // Appends a record; captured/wire default to the frame's size.
    Batch& Add(const Bytes& frame, long captured = -1, long wire = -1, uint16_t hdrlen = 20) {
        packet32::bpf_hdr h = {};
        h.bh_caplen = uint32_t(captured < 0 ? frame.size() : size_t(captured));
        h.bh_datalen = uint32_t(wire < 0 ? frame.size() : size_t(wire));
        h.bh_hdrlen = hdrlen;
        const size_t at = bytes.size();
        bytes.resize(at + hdrlen, 0);
        std::memcpy(&bytes[at], &h, sizeof h < hdrlen ? sizeof h : hdrlen);
        bytes.insert(bytes.end(), frame.begin(),
                     frame.begin() + std::min<size_t>(h.bh_caplen, frame.size()));
        bytes.resize(packet32::WordAlign(uint32_t(bytes.size())), 0);
        return *this;
    }
    Bytes bytes;
};

} // namespace capture_test
