// Capture on every adapter of the machine through the capture driver, and the walk
// over one batch of captured frames.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

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

    // The receive thread exists and has not ended by itself after a finding.
    bool ReceiverRunning() const;

    // Result hand-over. Installing replaces the addresses the results go to;
    // withdrawing clears them only if they are the given ones (true then). Every
    // result write takes the same lock, so after a withdrawal nothing is written
    // to the withdrawn bytes.
    void InstallResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag);
    bool WithdrawResultFlags(ResultFlag* proxyFlag, ResultFlag* bitTorrentFlag);
    void ReportBitTorrent();
    void ReportRelayed();
    bool BitTorrentSeen() const { return BitTorrentFound.load(); }

    CaptureDriver* Driver() const { return Capture; }

    MyRxTxThread* Receiver = nullptr;
    std::unique_ptr<TEvent> WakeEvent;
    ResultFlag* ProxyFlag;
    ResultFlag* BitTorrentFlag;
    int32_t EntryCount = 0;
    AdapterEntry Adapters[kCaptureRows];
    CaptureDriver::Adapter* Handles[kCaptureRows];
    int32_t OpenIndex[kCaptureRows];

  private:
    CaptureDriver* Capture;
    TLock ResultLock;
    std::atomic<bool> BitTorrentFound{false};
};

// Walks one batch of bpf records (at most kPacketBufferSize bytes are taken from
// it, whatever bytesReceived says). True when the receive thread should stop and
// look at the results: a BitTorrent signature was reported, or the queue is full.
// Reads stay within the batch and within each frame's captured bytes. A full queue
// still refers to frames in the batch: analyse or reset it before the batch's
// bytes change.
bool ScanCaptureBatch(TPacketCapture& capture, TMsgQueue& queue, const uint8_t* batch,
                      uint32_t bytesReceived);
