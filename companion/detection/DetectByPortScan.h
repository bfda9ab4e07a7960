// Local port probing: one sweep per library lifetime, on a thread of its own.
#pragma once

#include "ThreadBase.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

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

// The library's probe: one sweep per library lifetime. The Library owns it.
class PortProbe {
  public:
    PortProbe() = default;
    // Join.
    ~PortProbe();
    PortProbe(const PortProbe&) = delete;
    PortProbe& operator=(const PortProbe&) = delete;

    // Creates and starts the probe thread unless one was created before.
    // `onProxyFound` runs on the probe thread when a working proxy answers; it
    // must stay callable for as long as this object lives.
    void StartOnce(std::function<void()> onProxyFound);

    // Waits for the sweep to end, if one was started.
    void Join();

    // The one probe thread, null before the first start.
    PortScanThread* Current();

  private:
    std::mutex lock_;
    std::unique_ptr<PortScanThread> probe_; // created at most once
};
