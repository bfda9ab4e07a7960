// Port: the capture driver's user library (packet.dll). The Win32 side loads the
// library at run time; without it every open fails and nothing is captured.
// Calls mirror the library's own: open, three settings, repeated receives into
// one packet record bound to the caller's buffer, close.
#pragma once

#include <cstdint>

class CaptureDriver {
  public:
    struct Adapter; // the library's ADAPTER record, opaque here
    struct Packet;  // the library's PACKET record, opaque here

    enum class WaitResult { Signalled, TimedOut, Failed, Interrupted };

    virtual ~CaptureDriver() = default;

    // The record, or null. A record whose driver handle is invalid is returned as
    // it is; HasValidHandle tells.
    virtual Adapter* OpenAdapter(const char* deviceName) = 0;
    virtual bool HasValidHandle(Adapter* adapter) = 0;
    virtual bool SetHwFilter(Adapter* adapter, uint32_t filter) = 0;
    virtual bool SetBuff(Adapter* adapter, int32_t bytes) = 0;
    virtual bool SetReadTimeout(Adapter* adapter, int32_t milliseconds) = 0;
    virtual void CloseAdapter(Adapter* adapter) = 0;

    // Waits up to timeoutMs on the adapter's read event. Interrupted: InterruptWaits
    // was called (and not yet cleared), so the waiting thread can be stopped.
    virtual WaitResult WaitReadEvent(Adapter* adapter, uint32_t timeoutMs) = 0;
    virtual void ResetReadEvent(Adapter* adapter) = 0;
    virtual void InterruptWaits() = 0;
    virtual void ClearInterrupt() = 0;

    virtual Packet* AllocatePacket() = 0;
    virtual void InitPacket(Packet* packet, uint8_t* buffer, uint32_t length) = 0;
    virtual bool ReceivePacket(Adapter* adapter, Packet* packet, bool sync) = 0;
    virtual uint32_t BytesReceived(Packet* packet) = 0; // ulBytesReceived of the last receive
    virtual void FreePacket(Packet* packet) = 0;
};
