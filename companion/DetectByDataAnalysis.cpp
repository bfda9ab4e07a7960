#include "DetectByDataAnalysis.h"

#include <mutex>

#include "PacketCapture.h"

namespace {

// Detection threads may overlap for a while (a new one starts before the old one
// has ended), so starts and stops are taken one at a time.
std::mutex g_controlLock;
TPacketCapture* g_capture = nullptr; // the library's one capture

} // namespace

namespace {

// Everything afresh: receive thread joined, rows enumerated (the access adapter
// first) and reopened, a new receive thread.
void RestartCapture() {
    g_capture->CloseAllAdapters();
    g_capture->RecreateWakeEvent();
    g_capture->EnumAdapters();
    g_capture->OpenAllAdapters();
    g_capture->StartReceiver();
}

} // namespace

bool StartDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
                       const uint8_t* accessMac) {
    std::lock_guard<std::mutex> guard(g_controlLock);
    if (g_capture == nullptr)
        g_capture = new TPacketCapture(relayedFlag, bitTorrentFlag);
    const bool accessMoved = g_capture->SetAccessMac(accessMac);
    // A receive thread still sweeping carries on and now reports to the caller.
    if (!accessMoved && g_capture->AdoptRunningReceiver(relayedFlag, bitTorrentFlag, kinds))
        return true;
    // Otherwise (first start, a stop before, a receive thread that has ended or is
    // ending after its findings for an earlier caller, or an access adapter the
    // rows do not hold) start afresh.
    g_capture->InstallResultFlags(relayedFlag, bitTorrentFlag, kinds);
    RestartCapture();
    return true;
}

void UpdateDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
                        const uint8_t* accessMac) {
    std::lock_guard<std::mutex> guard(g_controlLock);
    if (g_capture == nullptr || !g_capture->SetWantedKinds(relayedFlag, bitTorrentFlag, kinds))
        return;
    const bool accessMoved = g_capture->SetAccessMac(accessMac);
    if (g_capture->PendingKinds() == 0)
        return; // nothing to look for: a moved access adapter waits until there is
    if (accessMoved || !g_capture->ReceiverRunning())
        RestartCapture();
}

void StopDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag) {
    std::lock_guard<std::mutex> guard(g_controlLock);
    if (g_capture == nullptr)
        return;
    // A newer detection thread's bytes are installed: the capture is now its own.
    if (!g_capture->WithdrawResultFlags(relayedFlag, bitTorrentFlag))
        return;
    g_capture->CloseAllAdapters();
}

void ShutdownDataAnalysis() {
    std::lock_guard<std::mutex> guard(g_controlLock);
    delete g_capture; // its destructor joins the receive thread and closes the rows
    g_capture = nullptr;
}
