// The records and entry points of the capture driver's user library packet.dll,
// in the layout the driver publishes them (32-bit Windows). Shared by the library's
// Win32 capture port and by the test stand-in that replaces packet.dll, so both
// read and write the same bytes. Portable: handles and pointers are plain void*.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packet32 {

constexpr int kMaxLinkNameLength = 64;       // MAX_LINK_NAME_LENGTH
constexpr int kAdapterNameLength = 256 + 12; // ADAPTER_NAME_LENGTH

// One open adapter. The library reads only hFile and ReadEvent; the rest belongs
// to packet.dll and is declared so the record has the published size.
struct ADAPTER {
    void* hFile; // driver handle; INVALID_HANDLE_VALUE (all bits set) means a failed open
    char SymbolicLink[kMaxLinkNameLength];
    int32_t NumWrites;
    void* ReadEvent; // signalled by the driver while captured data is waiting
    uint32_t ReadTimeOut;
    char Name[kAdapterNameLength];
    void* pWanAdapter;
    uint32_t Flags;
};

// OVERLAPPED, by size only: packet.dll keeps it for compatibility.
struct OVERLAPPED_BYTES {
    uintptr_t Internal;
    uintptr_t InternalHigh;
    uint32_t Offset;
    uint32_t OffsetHigh;
    void* hEvent;
};

// One read: the caller's buffer and, after a receive, the bytes of the batch in it.
struct PACKET {
    void* hEvent;
    OVERLAPPED_BYTES OverLapped;
    void* Buffer;
    uint32_t Length;
    uint32_t ulBytesReceived;
    uint8_t bIoComplete;
};

// Header before each captured frame in a batch. bh_tstamp is a Windows timeval
// (two 32-bit longs). The driver fills bh_hdrlen with the header's padded size (20).
struct bpf_hdr {
    int32_t tv_sec;
    int32_t tv_usec;
    uint32_t bh_caplen;  // bytes of the frame present in the batch
    uint32_t bh_datalen; // the frame's length on the wire
    uint16_t bh_hdrlen;  // this header's length; the frame starts that far in
};
static_assert(offsetof(bpf_hdr, bh_caplen) == 8, "bpf_hdr layout");
static_assert(offsetof(bpf_hdr, bh_datalen) == 12, "bpf_hdr layout");
static_assert(offsetof(bpf_hdr, bh_hdrlen) == 16, "bpf_hdr layout");
static_assert(sizeof(bpf_hdr) == 20, "bpf_hdr is 18 bytes padded to 20");

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(ADAPTER, ReadEvent) == 72, "ADAPTER layout of the 32-bit driver");
static_assert(sizeof(ADAPTER) == 356, "ADAPTER layout of the 32-bit driver");
static_assert(offsetof(PACKET, Buffer) == 24, "PACKET layout of the 32-bit driver");
static_assert(offsetof(PACKET, ulBytesReceived) == 32, "PACKET layout of the 32-bit driver");
static_assert(sizeof(PACKET) == 40, "PACKET layout of the 32-bit driver");
#endif

// Records in a batch start on 4-byte boundaries (Packet_WORDALIGN).
constexpr uint32_t kWordAlignment = 4;
constexpr uint32_t WordAlign(uint32_t n) {
    return (n + kWordAlignment - 1) & ~(kWordAlignment - 1);
}

// Hardware filter value: every frame on the wire (NDIS_PACKET_TYPE_PROMISCUOUS).
constexpr uint32_t kPromiscuous = 0x20;

// The entry points. packet.dll exports them undecorated with the C calling
// convention (it declares no other).
extern "C" {
typedef uint8_t (*PacketGetAdapterNamesFn)(char* buffer, uint32_t* bufferSize);
typedef ADAPTER* (*PacketOpenAdapterFn)(const char* adapterName);
typedef uint8_t (*PacketSetHwFilterFn)(ADAPTER* adapter, uint32_t filter);
typedef uint8_t (*PacketSetBuffFn)(ADAPTER* adapter, int32_t bytes);
typedef uint8_t (*PacketSetReadTimeoutFn)(ADAPTER* adapter, int32_t milliseconds);
typedef PACKET* (*PacketAllocatePacketFn)(void);
typedef void (*PacketInitPacketFn)(PACKET* packet, void* buffer, uint32_t length);
typedef uint8_t (*PacketReceivePacketFn)(ADAPTER* adapter, PACKET* packet, uint8_t sync);
typedef void (*PacketFreePacketFn)(PACKET* packet);
typedef void (*PacketCloseAdapterFn)(ADAPTER* adapter);
}

} // namespace packet32
