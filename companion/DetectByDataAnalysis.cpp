#include "DetectByDataAnalysis.h"

#include <mutex>

#include "PacketCapture.h"

namespace {

// Detection threads may overlap for a while (a new one starts before the old one
// has ended), so starts and stops are taken one at a time.
std::mutex g_controlLock;
TPacketCapture* g_capture = nullptr; // the library's one capture

} // namespace

bool StartDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag) {
    std::lock_guard<std::mutex> guard(g_controlLock);
    if (g_capture == nullptr)
        g_capture = new TPacketCapture(relayedFlag, bitTorrentFlag);
    else
        g_capture->InstallResultFlags(relayedFlag, bitTorrentFlag);
    // A receive thread still sweeping carries on and now reports to the caller.
    if (g_capture->ReceiverRunning())
        return true;
    // Otherwise (first start, a stop before, or a receive thread that ended after
    // a finding for an earlier caller) start afresh: rows reopened, new thread.
    g_capture->CloseAllAdapters();
    g_capture->RecreateWakeEvent();
    g_capture->EnumAdapters();
    g_capture->OpenAllAdapters();
    g_capture->StartReceiver();
    return true;
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
