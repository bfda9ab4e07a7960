#include "RxTxThread.h"

namespace {
// The driver copies each batch here. One receive thread runs at a time (a new one
// starts only after the previous one has been joined), so one buffer serves.
uint8_t PacketBuffer[kPacketBufferSize];
} // namespace

MyRxTxThread::MyRxTxThread(TPacketCapture& capture)
    : Capture(capture), Queue(new TMsgQueue(kQueueSlots)) {}

MyRxTxThread::~MyRxTxThread() {
    Stop();
    WaitFor();
}

void MyRxTxThread::Stop() {
    StopEvent.Set();
}

void MyRxTxThread::Execute() {
    CaptureDriver* driver = Capture.Driver();
    if (driver == nullptr)
        return;
    CaptureDriver::Packet* packet = driver->AllocatePacket();
    if (packet == nullptr)
        return;
    driver->InitPacket(packet, PacketBuffer, kPacketBufferSize);

    bool stopMark = false;
    while (!Stopping()) {
        if (stopMark) {
            // A BitTorrent finding has been reported by the walk already; a full
            // queue is analysed here.
            stopMark = false;
            if (Queue->IsFull() && Queue->Analyse())
                Capture.ReportRelayed();
        }
        // Running on until every kind that is switched on has been found: one
        // finding must not end the search for the other.
        if (Capture.FinishIfAllFound())
            break;

        const int32_t count = Capture.EntryCount;
        if (count < 1) {
            // Nothing to sweep: idle on WakeEvent rather than turn straight round.
            Capture.WakeEvent->WaitFor(kWaitMs);
            Capture.WakeEvent->Reset();
            continue;
        }

        for (int32_t i = 0; i < count && !Stopping(); ++i) {
            CaptureDriver::Adapter* adapter = Capture.Handles[i];
            if (adapter == nullptr) {
                Capture.WakeEvent->WaitFor(kWaitMs);
                Capture.WakeEvent->Reset();
                continue;
            }
            const CaptureDriver::WaitResult waited = driver->WaitReadEvent(adapter, kWaitMs);
            if (waited == CaptureDriver::WaitResult::Failed) {
                StopEvent.WaitFor(kFailurePauseMs);
                continue;
            }
            if (waited != CaptureDriver::WaitResult::Signalled)
                continue;
            if (!driver->ReceivePacket(adapter, packet, true)) {
                // The read event stays signalled: without a pause a lasting failure
                // would spin.
                StopEvent.WaitFor(kFailurePauseMs);
                break;
            }
            stopMark = ScanCaptureBatch(Capture, *Queue, PacketBuffer,
                                        driver->BytesReceived(packet), Capture.PendingKinds());
            driver->ResetReadEvent(adapter);
            if (stopMark)
                break;
        }
    }
    driver->FreePacket(packet);
}
