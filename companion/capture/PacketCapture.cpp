#include "PacketCapture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "HostTables.h"
#include "MsgQueue.h"
#include "Ports.h"
#include "RxTxThread.h"
#include "packet32.h"

namespace {

const char kDevicePrefix[] = "\\Device\\NPF_";

// Copies at most size - 1 bytes and always terminates: a system text longer than
// the row's field must not run into the next row.
void CopyBounded(char* dest, size_t size, const std::string& text) {
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

// The first six bytes of an adapter's hardware address, zero-padded when the
// system reports fewer.
std::array<uint8_t, 6> Mac6(const AdapterInfoRow& row) {
    std::array<uint8_t, 6> mac{};
    if (!row.mac.empty())
        std::memcpy(mac.data(), row.mac.data(), std::min<size_t>(row.mac.size(), 6));
    return mac;
}

bool IsZeroMac(const uint8_t* mac) {
    static const uint8_t zero[6] = {};
    return std::memcmp(mac, zero, 6) == 0;
}

} // namespace

TPacketCapture::TPacketCapture(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                               CaptureDriver* driver)
    : WakeEvent(std::make_unique<TEvent>(false)), ProxyFlag(proxyFlag),
      BitTorrentFlag(bitTorrentFlag), Capture(driver != nullptr ? driver : Ports().capture) {
    std::memset(Adapters, 0, sizeof Adapters);
    for (int i = 0; i < kCaptureRows; ++i) {
        Handles[i] = nullptr;
        OpenIndex[i] = -1;
    }
}

TPacketCapture::~TPacketCapture() {
    CloseAllAdapters();
}

void TPacketCapture::EnumAdapters() {
    EntryCount = 0;
    std::memset(Adapters, 0, sizeof Adapters);
    std::memset(RowMacs, 0, sizeof RowMacs);
    std::memcpy(EnumeratedFor, AccessMac, 6);
    HostTables* tables = Ports().hostTables;
    std::vector<AdapterInfoRow> rows;
    if (tables == nullptr || !tables->ReadAdapters(rows))
        return;
    // The table has five rows, and adapters beyond them are not captured: on a
    // machine with VPN or virtual adapters listed first, the access adapter would
    // be among those left out.
    size_t access = rows.size();
    if (!IsZeroMac(AccessMac)) {
        for (size_t i = 0; i < rows.size() && access == rows.size(); ++i)
            if (std::memcmp(Mac6(rows[i]).data(), AccessMac, 6) == 0)
                access = i;
    }
    auto add = [this](const AdapterInfoRow& row) {
        AdapterEntry& entry = Adapters[EntryCount];
        CopyBounded(entry.DeviceName, sizeof entry.DeviceName, kDevicePrefix + row.adapterName);
        CopyBounded(entry.Description, sizeof entry.Description, row.description);
        std::memcpy(RowMacs[EntryCount], Mac6(row).data(), 6);
        ++EntryCount;
    };
    if (access < rows.size())
        add(rows[access]);
    for (size_t i = 0; i < rows.size() && EntryCount < kCaptureRows; ++i)
        if (i != access)
            add(rows[i]);
}

bool TPacketCapture::SetAccessMac(const uint8_t* mac) {
    uint8_t given[6] = {};
    if (mac != nullptr)
        std::memcpy(given, mac, 6);
    std::memcpy(AccessMac, given, 6);
    if (IsZeroMac(given) || std::memcmp(given, EnumeratedFor, 6) == 0)
        return false;
    for (int i = 0; i < EntryCount; ++i)
        if (std::memcmp(RowMacs[i], given, 6) == 0)
            return false;
    return true;
}

bool TPacketCapture::OpenAdapter(int index) {
    if (index < 0 || index >= kCaptureRows)
        return false;
    if (OpenIndex[index] == index)
        return true;
    if (index >= EntryCount || Capture == nullptr)
        return false;
    if (Handles[index] != nullptr) {
        Capture->CloseAdapter(Handles[index]);
        Handles[index] = nullptr;
    }
    CaptureDriver::Adapter* adapter = Capture->OpenAdapter(Adapters[index].DeviceName);
    if (adapter == nullptr)
        return false;
    if (!Capture->HasValidHandle(adapter)) {
        Capture->CloseAdapter(adapter); // the record itself is still the library's to free
        return false;
    }
    Handles[index] = adapter;
    const bool filterSet = Capture->SetHwFilter(adapter, packet32::kPromiscuous);
    const bool bufferSet = Capture->SetBuff(adapter, kDriverBufferSize);
    const bool timeoutSet = Capture->SetReadTimeout(adapter, 0);
    if (!filterSet || !bufferSet || !timeoutSet) {
        Capture->CloseAdapter(adapter);
        Handles[index] = nullptr;
        return false;
    }
    Capture->ResetReadEvent(adapter);
    if (WakeEvent)
        WakeEvent->Set();
    OpenIndex[index] = index;
    return true;
}

bool TPacketCapture::OpenAllAdapters() {
    if (EntryCount < 1)
        return false;
    bool result = false;
    for (int i = 0; i < EntryCount; ++i) {
        result = OpenAdapter(i);
        if (!result)
            break;
    }
    return result;
}

bool TPacketCapture::StartReceiver() {
    if (Receiver != nullptr)
        return true;
    if (!WakeEvent)
        RecreateWakeEvent();
    {
        TLockGuard guard(ResultLock);
        Ending = false;
    }
    if (Capture != nullptr)
        Capture->ClearInterrupt();
    Receiver = std::make_unique<MyRxTxThread>(*this);
    Receiver->Start();
    return true;
}

bool TPacketCapture::ReceiverRunning() const {
    TLockGuard guard(ResultLock);
    return Receiver != nullptr && !Ending && !Receiver->Finished();
}

void TPacketCapture::CloseAdapter(int index) {
    if (index < 0 || index >= kCaptureRows)
        return;
    if (Handles[index] != nullptr && Capture != nullptr)
        Capture->CloseAdapter(Handles[index]);
    Handles[index] = nullptr;
    OpenIndex[index] = -1;
}

void TPacketCapture::CloseAllAdapters() {
    // The receive thread may be waiting on a read event or reading: stop it first
    // so it never touches a closed adapter or a released WakeEvent.
    if (Receiver != nullptr) {
        Receiver->Stop();
        if (Capture != nullptr)
            Capture->InterruptWaits();
        if (WakeEvent)
            WakeEvent->Set();
        Receiver->WaitFor();
        Receiver.reset();
    }
    for (int i = 0; i < kCaptureRows; ++i)
        CloseAdapter(i);
    WakeEvent.reset();
}

void TPacketCapture::RecreateWakeEvent() {
    WakeEvent = std::make_unique<TEvent>(false);
}

void TPacketCapture::InstallResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                                        uint8_t kinds) {
    TLockGuard guard(ResultLock);
    ProxyFlag = proxyFlag;
    BitTorrentFlag = bitTorrentFlag;
    Wanted = kinds;
}

bool TPacketCapture::AdoptRunningReceiver(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                                          uint8_t kinds) {
    TLockGuard guard(ResultLock);
    // Decided under the lock the receiver takes to decide to end: a receiver that
    // has reported its last finding never takes a new owner whose results it
    // would not deliver.
    if (Receiver == nullptr || Ending || Receiver->Finished())
        return false;
    ProxyFlag = proxyFlag;
    BitTorrentFlag = bitTorrentFlag;
    Wanted = kinds;
    return true;
}

bool TPacketCapture::WithdrawResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag) {
    TLockGuard guard(ResultLock);
    if (ProxyFlag != proxyFlag || BitTorrentFlag != bitTorrentFlag)
        return false;
    ProxyFlag = nullptr;
    BitTorrentFlag = nullptr;
    return true;
}

bool TPacketCapture::SetWantedKinds(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                                    uint8_t kinds) {
    TLockGuard guard(ResultLock);
    if (ProxyFlag != proxyFlag || BitTorrentFlag != bitTorrentFlag)
        return false;
    Wanted = kinds;
    return true;
}

uint8_t TPacketCapture::PendingLocked() const {
    uint8_t pending = 0;
    // The owner's bytes say what has been found: the detection thread clears them
    // when it switches both kinds off, which makes them wanted again.
    if ((Wanted & kRelayedTraffic) && ProxyFlag != nullptr && ProxyFlag->load() == 0)
        pending |= kRelayedTraffic;
    if ((Wanted & kBitTorrentTraffic) && BitTorrentFlag != nullptr && BitTorrentFlag->load() == 0)
        pending |= kBitTorrentTraffic;
    return pending;
}

uint8_t TPacketCapture::PendingKinds() const {
    TLockGuard guard(ResultLock);
    return PendingLocked();
}

bool TPacketCapture::FinishIfAllFound() {
    TLockGuard guard(ResultLock);
    // With nothing switched on the receiver keeps sweeping, testing nothing, so a
    // kind switched on again is looked for at once.
    if (Wanted != 0 && PendingLocked() == 0)
        Ending = true;
    return Ending;
}

void TPacketCapture::ReportBitTorrent() {
    TLockGuard guard(ResultLock);
    if ((Wanted & kBitTorrentTraffic) && BitTorrentFlag != nullptr)
        BitTorrentFlag->store(1);
}

void TPacketCapture::ReportRelayed() {
    TLockGuard guard(ResultLock);
    if ((Wanted & kRelayedTraffic) && ProxyFlag != nullptr)
        ProxyFlag->store(1);
}

int EncapsulatedIPv4Tcp(ByteCursor cursor, uint16_t etherType, uint32_t wireLength) {
    int encapsulation = 0;
    if (etherType == kEtherTypeVlan) {
        // Tag control (priority and VLAN id), then the EtherType it tags.
        if (!cursor.Skip(2) || !cursor.ReadU16BigEndian(etherType))
            return -1;
        encapsulation = 4;
    }
    if (etherType == kEtherTypePppoeSession) {
        // Version and type, code, session id, length, then the PPP protocol.
        uint8_t versionType, code;
        uint16_t length, pppProtocol;
        if (!cursor.ReadU8(versionType) || !cursor.ReadU8(code) || !cursor.Skip(2) ||
            !cursor.ReadU16BigEndian(length) || !cursor.ReadU16BigEndian(pppProtocol))
            return -1;
        if (versionType != kPppoeVersionType || code != kPppoeSessionData ||
            pppProtocol != kPppIPv4)
            return -1;
        // The PPPoE length counts the PPP protocol field and the packet after it,
        // which must lie within the frame on the wire.
        const uint32_t pppStart = uint32_t(14 + encapsulation + 6);
        if (length < 2 || wireLength < pppStart || length > wireLength - pppStart)
            return -1;
        encapsulation += 8;
    } else if (etherType != kEtherTypeIPv4) {
        return -1; // PPPoE discovery, other EtherTypes, a second tag
    }
    const uint8_t* ip; // up to the protocol, the IPv4 header's tenth byte
    if (!cursor.ReadBytes(10, ip) || ip[9] != kIpProtocolTcp)
        return -1;
    return encapsulation;
}

namespace {

bool WalkBatch(TPacketCapture& capture, TMsgQueue& queue, uint8_t* batch, uint32_t bytesReceived,
               uint8_t kinds) {
    // The driver cannot deliver more than the buffer it was given.
    const size_t length = std::min(bytesReceived, kPacketBufferSize);
    if (length == 0 || kinds == 0)
        return false;
    const bool testBitTorrent = (kinds & kBitTorrentTraffic) != 0;
    const bool queueFrames = (kinds & kRelayedTraffic) != 0;
    ByteCursor records(batch, length);
    while (records.Remaining() > 0) {
        packet32::bpf_hdr header;
        const uint8_t* headerBytes;
        if (!records.ReadBytes(sizeof header, headerBytes))
            return false;
        std::memcpy(&header, headerBytes, sizeof header);
        // A header shorter than itself would never move the walk forward.
        if (header.bh_hdrlen < sizeof header || !records.Skip(header.bh_hdrlen - sizeof header))
            return false;
        const uint8_t* frameBytes;
        if (!records.ReadBytes(header.bh_caplen, frameBytes))
            return false;
        // The batch is ours to write: the frame in place, as the cursor found it.
        uint8_t* frame = batch + (frameBytes - batch);
        size_t captured = header.bh_caplen;
        uint32_t wireLength = header.bh_datalen;
        // Records start on word boundaries; padding past the batch makes this
        // record the last.
        const size_t end = length - records.Remaining();
        if (!records.Skip(packet32::WordAlign(uint32_t(end)) - end))
            records.Skip(records.Remaining());

        const int encapsulation = IPv4TcpEncapsulation(frame, captured, wireLength);
        if (encapsulation < 0)
            continue;
        // From here on the frame is looked at as it would be without its
        // encapsulation: IPv4 at offset 14, and the sizes without the extra bytes,
        // so one flow gives the same findings framed either way.
        uint8_t* const link = frame;
        frame += encapsulation;
        captured -= size_t(encapsulation);
        wireLength =
            wireLength > uint32_t(encapsulation) ? wireLength - uint32_t(encapsulation) : 0;

        if (testBitTorrent && wireLength > 72 && IsBitTorrentFrame(frame, captured)) {
            capture.ReportBitTorrent();
            queue.KeepFrames();
            return true;
        }
        if (queueFrames && wireLength > 80) {
            if (encapsulation > 0) {
                // The addresses move up against the IPv4 header, which makes the
                // frame a plain one in place, as the relay analysis reads it.
                std::memmove(frame, link, 12);
                frame[12] = uint8_t(kEtherTypeIPv4 >> 8);
                frame[13] = uint8_t(kEtherTypeIPv4);
            }
            // Only the captured bytes exist, whatever the wire length says.
            const uint32_t present = std::min<uint32_t>(wireLength, uint32_t(captured));
            const uint16_t stored = uint16_t(std::min<uint32_t>(present, 0xFFFF));
            // A full queue is analysed before the next read reuses the buffer, so
            // its frames are not copied out of the batch.
            if (!queue.PutInPlace(kQueueTag, stored, frame))
                return true;
        }
    }
    return false;
}

} // namespace

bool ScanCaptureBatch(TPacketCapture& capture, TMsgQueue& queue, uint8_t* batch,
                      uint32_t bytesReceived, uint8_t kinds) {
    if (WalkBatch(capture, queue, batch, bytesReceived, kinds))
        return true;
    queue.KeepFrames(); // the next read overwrites the batch
    return false;
}
