#include "DetectByDataAnalysis.h"

#include "PacketCapture.h"

DataAnalysis::DataAnalysis() = default;

DataAnalysis::~DataAnalysis() {
    Shutdown();
}

// Everything afresh: receive thread joined, rows enumerated (the access adapter
// first) and reopened, a new receive thread.
void DataAnalysis::RestartCapture() {
    capture_->CloseAllAdapters();
    capture_->RecreateWakeEvent();
    capture_->EnumAdapters();
    capture_->OpenAllAdapters();
    capture_->StartReceiver();
}

bool DataAnalysis::Start(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
                         const uint8_t* accessMac) {
    std::lock_guard<std::mutex> guard(controlLock_);
    if (capture_ == nullptr)
        capture_ = std::make_unique<TPacketCapture>(relayedFlag, bitTorrentFlag);
    const bool accessMoved = capture_->SetAccessMac(accessMac);
    // A receive thread still sweeping carries on and now reports to the caller.
    if (!accessMoved && capture_->AdoptRunningReceiver(relayedFlag, bitTorrentFlag, kinds))
        return true;
    // Otherwise (first start, a stop before, a receive thread that has ended or is
    // ending after its findings for an earlier caller, or an access adapter the
    // rows do not hold) start afresh.
    capture_->InstallResultFlags(relayedFlag, bitTorrentFlag, kinds);
    RestartCapture();
    return true;
}

void DataAnalysis::Update(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
                          const uint8_t* accessMac) {
    std::lock_guard<std::mutex> guard(controlLock_);
    if (capture_ == nullptr || !capture_->SetWantedKinds(relayedFlag, bitTorrentFlag, kinds))
        return;
    const bool accessMoved = capture_->SetAccessMac(accessMac);
    if (capture_->PendingKinds() == 0)
        return; // nothing to look for: a moved access adapter waits until there is
    if (accessMoved || !capture_->ReceiverRunning())
        RestartCapture();
}

void DataAnalysis::Stop(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag) {
    std::lock_guard<std::mutex> guard(controlLock_);
    if (capture_ == nullptr)
        return;
    // A newer detection thread's bytes are installed: the capture is now its own.
    if (!capture_->WithdrawResultFlags(relayedFlag, bitTorrentFlag))
        return;
    capture_->CloseAllAdapters();
}

void DataAnalysis::Shutdown() {
    std::lock_guard<std::mutex> guard(controlLock_);
    capture_.reset(); // its destructor joins the receive thread and closes the rows
}
