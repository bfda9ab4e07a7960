// The library's scheduler: while the access link is up it runs a detection pass
// once a minute, or at its next turn after a detection request, and keeps the
// findings record that the dialer reads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "DetectByDataAnalysis.h"
#include "HostInterface.h"
#include "IPHelper.h"
#include "ThreadBase.h"

// The loop's timing. The defaults are the product's; tests shorten them.
struct DetectTiming {
    uint32_t turnMs = 10000;         // link-up wait, sleep between turns, after a failure
    uint32_t passIntervalMs = 60000; // a pass at least this often while the link is up
    uint32_t addressRetryMs = 12000; // retry the access address look-up after this
};

// What a pass and the entry points call. The defaults read the host through the
// ports; the probe, the capture and the update client are the Library's, which
// fills in those left empty (a detection thread alone has none). Tests replace
// some of them.
struct Detectors {
    std::function<AdapterCounts()> countAdapters = CountAdaptersAndAddresses;
    std::function<uint32_t(const uint8_t* mac)> lookUpAccessAddress = LookUpAccessAddress;
    std::function<int32_t()> countTcp = CountTcpConnections;
    std::function<int32_t()> countUdp = CountUdpEndpoints;
    std::function<bool()> serviceRunning; // default: the watched service
    std::function<bool()> dhcpServerPort = HasDhcpServerPort;
    std::function<bool()> programFeatures; // default: DetectByProgramFeatures
    std::function<void(std::function<void()> onProxyFound)> startProbe;
    // Capture: result bytes A and B, the traffic kinds switched on, the access MAC.
    std::function<bool(ResultFlag*, ResultFlag*, uint8_t, const uint8_t*)> startCapture;
    std::function<void(ResultFlag*, ResultFlag*, uint8_t, const uint8_t*)> updateCapture;
    std::function<void(ResultFlag*, ResultFlag*)> stopCapture;
    std::function<bool(const std::string&, int)> startUpdateClient;
    std::function<void()> forgetUpdateClient;
    Detectors();
};

class TDetectThread : public TThread {
  public:
    // Created suspended; Begin starts it. `reportProxy` is what the probe calls
    // when it finds a proxy; the probe outlives any one detection thread, so its
    // owner passes one that reaches whichever thread is current then. Empty: this
    // thread's own flag (for a thread that outlives the probe it starts).
    TDetectThread(const DetectTiming& timing, const Detectors& detectors,
                  std::function<void()> reportProxy = nullptr);
    // Stops the loop and joins it.
    ~TDetectThread() override;
    void Begin();

    // Ends the loop at its next turn (sleeps and waits are cut short).
    void Stop();
    // Stop, then wait until the loop has ended and released what it started.
    void StopAndJoin();

    // Turns of the loop finished so far: one per wait for link up, per pass or
    // per sleep between passes. Waits up to boundMs until more than `after`
    // turns have finished; true when they have. For "nothing happens" checks:
    // a finished turn is a turn in which it did not happen.
    uint64_t TurnsFinished();
    bool WaitForTurnsAfter(uint64_t after, uint32_t boundMs = 10000);

    // --- the entry points' side, each under the lock ---
    struct DeliverCopy {
        uint8_t mac[6] = {};
        uint32_t accessIp = 0;
        DetectionFindings findings{};
    };
    // Copies the access addresses; for a detection request (kind 1 or 2) also
    // replaces the stored request, raises the run-now flag and copies the findings.
    void ApplyRequest(const DetectionRequest& request, DeliverCopy& out);
    DetectionFindings Findings();
    // Link up: stores the addresses when known, then the link-up time and signal.
    void LinkUp(const uint8_t* macOrNull, uint32_t accessIp, uint32_t tickNow);
    // Link down: signal reset, access address 0, findings zero.
    void LinkDown();
    // The probe found a working proxy.
    void SetProbeFound() { probeResult_ = 1; }

    // For tests: the stored request and access address.
    DetectionRequest Request();
    uint32_t AccessIp();

  protected:
    void Execute() override;

  private:
    // Waits up to ms for the stop signal; true when it is set.
    bool SleepUnlessStopped(uint32_t ms);
    // Waits up to ms for link up or stop; true when the link is up.
    bool WaitLinkUp(uint32_t ms);
    // One turn of the loop.
    void Turn();
    void FinishTurn();
    // One pass; false when it raised.
    bool RunPass();
    void DetectionPass();

    const DetectTiming timing_;
    const Detectors detectors_;
    const std::function<void()> reportProxy_;

    // Link-up and stop signals share one condition so either ends a wait.
    std::mutex signalMutex_;
    std::condition_variable signalChanged_;
    bool linkUpSignal_ = false;
    bool stopSignal_ = false;
    uint64_t turnsFinished_ = 0;

    TLock lock_; // guards everything down to linkDowns_
    DetectionRequest request_{};
    DetectionFindings findings_{};
    uint8_t mac_[6] = {};
    uint32_t accessIp_ = 0;
    uint32_t linkUpTime_ = 0;
    bool runNow_ = false;
    uint32_t linkDowns_ = 0; // a pass spanning a link down must not publish

    // Only the detection thread touches these.
    uint32_t lastPassTime_ = 0;
    bool probeStarted_ = false;
    bool captureStarted_ = false;

    // Set by the probe and capture threads, read and cleared by the pass.
    ResultFlag probeResult_{0};
    ResultFlag captureRelayed_{0};    // A
    ResultFlag captureBitTorrent_{0}; // B
};
