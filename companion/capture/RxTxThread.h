// The capture's receive thread: sweeps the open adapters, reads each waiting batch
// and walks it, and ends when every kind of finding that is switched on has been
// found, or when stopped.
#pragma once

#include <cstdint>
#include <memory>

#include "MsgQueue.h"
#include "PacketCapture.h"
#include "ThreadBase.h"

class MyRxTxThread : public TThread {
  public:
    static constexpr uint16_t kQueueSlots = 20;
    static constexpr uint32_t kWaitMs = 3000;
    static constexpr uint32_t kFailurePauseMs = 100;

    // Created suspended; Start runs it.
    explicit MyRxTxThread(TPacketCapture& capture);
    ~MyRxTxThread() override;

    // Asks the body to end and wakes its waits; WaitFor then joins it.
    void Stop();

  protected:
    void Execute() override;

  private:
    bool Stopping() const { return StopEvent.IsSet(); }

    TPacketCapture& Capture;
    std::unique_ptr<TMsgQueue> Queue;
    TEvent StopEvent;
};
