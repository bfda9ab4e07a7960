#include "PacketCapture.h"

#include <algorithm>
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

} // namespace

TPacketCapture::TPacketCapture(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag,
                               CaptureDriver* driver)
    : WakeEvent(new TEvent(false)), ProxyFlag(proxyFlag), BitTorrentFlag(bitTorrentFlag),
      Capture(driver != nullptr ? driver : Ports().capture) {
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
    HostTables* tables = Ports().hostTables;
    std::vector<AdapterInfoRow> rows;
    if (tables == nullptr || !tables->ReadAdapters(rows))
        return;
    for (const AdapterInfoRow& row : rows) {
        // The table has five rows; adapters beyond them are not captured.
        if (EntryCount >= kCaptureRows)
            break;
        AdapterEntry& entry = Adapters[EntryCount];
        CopyBounded(entry.DeviceName, sizeof entry.DeviceName, kDevicePrefix + row.adapterName);
        CopyBounded(entry.Description, sizeof entry.Description, row.description);
        ++EntryCount;
    }
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
    BitTorrentFound = false;
    if (Capture != nullptr)
        Capture->ClearInterrupt();
    Receiver = new MyRxTxThread(*this);
    Receiver->Start();
    return true;
}

bool TPacketCapture::ReceiverRunning() const {
    return Receiver != nullptr && !Receiver->Finished();
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
        delete Receiver;
        Receiver = nullptr;
    }
    for (int i = 0; i < kCaptureRows; ++i)
        CloseAdapter(i);
    WakeEvent.reset();
}

void TPacketCapture::RecreateWakeEvent() {
    WakeEvent.reset(new TEvent(false));
}

void TPacketCapture::InstallResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag) {
    TLockGuard guard(ResultLock);
    ProxyFlag = proxyFlag;
    BitTorrentFlag = bitTorrentFlag;
}

bool TPacketCapture::WithdrawResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag) {
    TLockGuard guard(ResultLock);
    if (ProxyFlag != proxyFlag || BitTorrentFlag != bitTorrentFlag)
        return false;
    ProxyFlag = nullptr;
    BitTorrentFlag = nullptr;
    return true;
}

void TPacketCapture::ReportBitTorrent() {
    TLockGuard guard(ResultLock);
    BitTorrentFound = true;
    if (BitTorrentFlag != nullptr)
        BitTorrentFlag->store(1);
}

void TPacketCapture::ReportRelayed() {
    TLockGuard guard(ResultLock);
    if (ProxyFlag != nullptr)
        ProxyFlag->store(1);
}

namespace {

bool WalkBatch(TPacketCapture& capture, TMsgQueue& queue, const uint8_t* batch,
               uint32_t bytesReceived) {
    // The driver cannot deliver more than the buffer it was given.
    const size_t length = std::min(bytesReceived, kPacketBufferSize);
    if (length == 0)
        return false;
    size_t offset = 0;
    while (offset < length) {
        packet32::bpf_hdr header;
        if (length - offset < sizeof header)
            return false;
        std::memcpy(&header, batch + offset, sizeof header);
        // A header shorter than itself would never move the walk forward.
        if (header.bh_hdrlen < sizeof header || header.bh_hdrlen > length - offset)
            return false;
        const size_t frameStart = offset + header.bh_hdrlen;
        if (header.bh_caplen > length - frameStart)
            return false;
        const uint8_t* frame = batch + frameStart;
        const size_t captured = header.bh_caplen;
        const uint32_t wireLength = header.bh_datalen;
        offset = packet32::WordAlign(uint32_t(frameStart + captured));

        if (!IsIPv4TcpFrame(frame, captured))
            continue;
        if (wireLength > 72 && IsBitTorrentFrame(frame, captured)) {
            capture.ReportBitTorrent();
            queue.KeepFrames();
            return true;
        }
        if (wireLength > 80) {
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

bool ScanCaptureBatch(TPacketCapture& capture, TMsgQueue& queue, const uint8_t* batch,
                      uint32_t bytesReceived) {
    if (WalkBatch(capture, queue, batch, bytesReceived))
        return true;
    queue.KeepFrames(); // the next read overwrites the batch
    return false;
}
