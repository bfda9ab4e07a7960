// Local port probing: one sweep per library lifetime, on a thread of its own.
#pragma once

#include "ThreadBase.h"

#include <atomic>
#include <cstdint>
#include <functional>

struct TcpRow;

extern const char kProbeUrl[];
extern const char kProbeWord[];

// One sweep over the TCP table: every qualifying local endpoint is asked, as an
// HTTP proxy, for the probe page; the first that returns it is a working proxy.
class PortScanThread : public TThread {
public:
    explicit PortScanThread(std::function<void()> onProxyFound);
    uint8_t FoundFlag() const { return found_.load(); }

protected:
    void Execute() override;

private:
    void Sweep();

    std::function<void()> onProxyFound_;
    std::atomic<uint8_t> found_{0};
};

// A listener or an established connection with a local port; an established one
// must also have a remote port. Only the low 16 bits of each port count.
bool IsProbeCandidate(const TcpRow& row);

// Creates and starts the library's probe thread unless one was created before.
// `onProxyFound` runs on the probe thread when a working proxy answers; it must
// stay callable for the life of the library.
void StartPortProbeOnce(std::function<void()> onProxyFound);

// The library's one probe thread, null before the first start.
PortScanThread* CurrentPortProbe();
