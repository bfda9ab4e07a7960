// Capture on every adapter of the machine through the capture driver, and the walk
// over one batch of captured frames.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ByteCursor.h"
#include "CaptureDriver.h"
#include "DetectByDataAnalysis.h"
#include "ThreadBase.h"

class MyRxTxThread;
class TMsgQueue;

constexpr int kCaptureRows = 5;
constexpr uint32_t kPacketBufferSize = 256000; // one batch read
constexpr int32_t kDriverBufferSize = 512000;  // kept by the driver between reads
constexpr size_t kDeviceNameSize = 1024;
constexpr size_t kDescriptionSize = 128;

struct AdapterEntry {
    char DeviceName[kDeviceNameSize]; // "\Device\NPF_" + the system's adapter name
    char Description[kDescriptionSize];
};

class TPacketCapture {
  public:
    // The driver and the adapter list come from the library's ports unless given.
    TPacketCapture(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                   CaptureDriver* driver = nullptr);
    ~TPacketCapture();
    TPacketCapture(const TPacketCapture&) = delete;
    TPacketCapture& operator=(const TPacketCapture&) = delete;

    // Fills the rows: the access adapter (see SetAccessMac) first, so that it is
    // captured however many adapters the system lists before it, then the others
    // in the system's order.
    void EnumAdapters();
    bool OpenAdapter(int index);
    bool OpenAllAdapters();
    bool StartReceiver();
    void CloseAdapter(int index);
    // Stops and joins the receive thread, closes every row (they may be opened
    // again), and releases WakeEvent last.
    void CloseAllAdapters();
    // A fresh WakeEvent after CloseAllAdapters released it.
    void RecreateWakeEvent();

    // The hardware address of the adapter that carries the access link (all zero:
    // not known), for the next EnumAdapters. True when the rows were enumerated
    // for another address and do not hold this one: enumerate again to capture it.
    bool SetAccessMac(const uint8_t* mac);

    // The receive thread exists and has not ended, nor decided to end after its
    // findings.
    bool ReceiverRunning() const;

    // Result hand-over, all under one lock. The installed bytes are the owner's
    // (the detection thread that started the capture last) and `kinds` the
    // findings it has switched on; a kind counts as found while its byte is 1.
    // Installing replaces owner and kinds. Adopting installs only if the receive
    // thread runs and has not decided to end (true then): a receiver that is
    // ending never takes a new owner. Withdrawing clears the bytes only if they
    // are the given ones (true then); after it nothing is written to them.
    void InstallResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag, uint8_t kinds);
    bool AdoptRunningReceiver(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag, uint8_t kinds);
    bool WithdrawResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag);
    // The owner's new switches; false (and nothing changed) for another caller.
    bool SetWantedKinds(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag, uint8_t kinds);
    // Kinds switched on and not yet found.
    uint8_t PendingKinds() const;
    // For the receive thread: true, and from then on the receiver counts as ended,
    // when kinds are switched on and every one of them has been found.
    bool FinishIfAllFound();
    // Each writes 1 into the owner's byte, but only while its kind is switched on.
    void ReportBitTorrent();
    void ReportRelayed();

    CaptureDriver* Driver() const { return Capture; }

    std::unique_ptr<MyRxTxThread> Receiver;
    std::unique_ptr<TEvent> WakeEvent;
    ResultFlag* ProxyFlag;
    ResultFlag* BitTorrentFlag;
    int32_t EntryCount = 0;
    AdapterEntry Adapters[kCaptureRows];
    CaptureDriver::Adapter* Handles[kCaptureRows];
    int32_t OpenIndex[kCaptureRows];

  private:
    uint8_t PendingLocked() const;

    CaptureDriver* Capture;
    mutable TLock ResultLock;
    uint8_t Wanted = kAllTrafficKinds; // guarded by ResultLock
    bool Ending = false;               // guarded by ResultLock

    // Only the detection threads' start and update calls touch these (one at a time).
    uint8_t AccessMac[6] = {};
    uint8_t EnumeratedFor[6] = {}; // the access address of the last enumeration
    uint8_t RowMacs[kCaptureRows][6] = {};
};

// Link framing of captured frames. On a PPPoE link the driver bound to the Ethernet
// adapter delivers PPPoE session frames; a host on a tagged segment sees one 802.1Q
// tag. Both are looked through to the IPv4 frame inside.
constexpr uint16_t kEtherTypeIPv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypePppoeSession = 0x8864;
constexpr uint8_t kPppoeVersionType = 0x11; // version 1, type 1
constexpr uint8_t kPppoeSessionData = 0x00; // the code of every session-stage frame
constexpr uint16_t kPppIPv4 = 0x0021;
constexpr uint8_t kIpProtocolTcp = 6;

// The encapsulated case of IPv4TcpEncapsulation, from the cursor just past the
// frame's own EtherType.
int EncapsulatedIPv4Tcp(ByteCursor cursor, uint16_t etherType, uint32_t wireLength);

// For a frame that carries IPv4 TCP: how many bytes of encapsulation (one tag: 4, a
// PPPoE session: 8, both: 12, none: 0) lie between its source address and the IPv4
// header, beyond the plain frame's EtherType. -1 for anything else: other
// EtherTypes, PPPoE discovery, other PPP protocols, two tags, a PPPoE length that
// overruns the frame on the wire, or too few captured bytes to tell. Reads only
// within the captured bytes; the plain IPv4 frame (the common case) is decided
// inline.
inline int IPv4TcpEncapsulation(const uint8_t* frame, size_t captured, uint32_t wireLength) {
    ByteCursor cursor(frame, captured);
    uint16_t etherType;
    if (!cursor.Skip(12) || !cursor.ReadU16BigEndian(etherType))
        return -1;
    if (etherType != kEtherTypeIPv4)
        return EncapsulatedIPv4Tcp(cursor, etherType, wireLength);
    const uint8_t* ip; // up to the protocol, the IPv4 header's tenth byte
    if (!cursor.ReadBytes(10, ip))
        return -1;
    return ip[9] == kIpProtocolTcp ? 0 : -1;
}

// Walks one batch of bpf records (at most kPacketBufferSize bytes are taken from
// it, whatever bytesReceived says), testing for BitTorrent and queueing for the
// relay analysis only as `kinds` asks. True when the receive thread should stop
// and look at the results: a BitTorrent signature was reported, or the queue is
// full. Reads stay within the batch and within each frame's captured bytes. An
// encapsulated frame is analysed as the plain IPv4 frame inside: its sizes are
// taken without the encapsulation, and a frame that is queued has its hardware
// addresses moved up to the IPv4 header in place (so the batch is written to).
// A full queue still refers to frames in the batch: analyse or reset it before the
// batch's bytes change.
bool ScanCaptureBatch(TPacketCapture& capture, TMsgQueue& queue, uint8_t* batch,
                      uint32_t bytesReceived, uint8_t kinds);
