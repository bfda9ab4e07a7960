#include "DetectThread.h"

#include <chrono>
#include <cstring>

#include "BasicInfo.h"
#include "DetectByFeature.h"
#include "Ports.h"
#include "SystemClock.h"

namespace {

uint32_t Now() {
    return Ports().clock->TickCount();
}

} // namespace

Detectors::Detectors()
    : serviceRunning([] { return IsWatchedServiceRunning(); }),
      programFeatures([] { return DetectByProgramFeatures(); }) {}

TDetectThread::TDetectThread(const DetectTiming& timing, const Detectors& detectors,
                             std::function<void()> reportProxy)
    : timing_(timing), detectors_(detectors), reportProxy_(std::move(reportProxy)) {}

TDetectThread::~TDetectThread() {
    StopAndJoin();
}

void TDetectThread::Begin() {
    Start();
}

void TDetectThread::StopAndJoin() {
    Stop();
    WaitFor();
}

uint64_t TDetectThread::TurnsFinished() {
    std::lock_guard<std::mutex> guard(signalMutex_);
    return turnsFinished_;
}

bool TDetectThread::WaitForTurnsAfter(uint64_t after, uint32_t boundMs) {
    std::unique_lock<std::mutex> lock(signalMutex_);
    return signalChanged_.wait_for(lock, std::chrono::milliseconds(boundMs),
                                   [&] { return turnsFinished_ > after; });
}

void TDetectThread::FinishTurn() {
    std::lock_guard<std::mutex> guard(signalMutex_);
    ++turnsFinished_;
    signalChanged_.notify_all();
}

void TDetectThread::Stop() {
    std::lock_guard<std::mutex> guard(signalMutex_);
    stopSignal_ = true;
    signalChanged_.notify_all();
}

bool TDetectThread::SleepUnlessStopped(uint32_t ms) {
    std::unique_lock<std::mutex> lock(signalMutex_);
    return signalChanged_.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return stopSignal_; });
}

bool TDetectThread::WaitLinkUp(uint32_t ms) {
    std::unique_lock<std::mutex> lock(signalMutex_);
    signalChanged_.wait_for(lock, std::chrono::milliseconds(ms),
                            [this] { return linkUpSignal_ || stopSignal_; });
    return linkUpSignal_ && !stopSignal_;
}

void TDetectThread::ApplyRequest(const DetectionRequest& request, DeliverCopy& out) {
    TLockGuard guard(lock_);
    std::memcpy(out.mac, mac_, 6);
    out.accessIp = accessIp_;
    if (request.kind == kDetectOffRequest || request.kind == kDetectionRequest) {
        request_ = request;
        runNow_ = true;
        out.findings = findings_;
    }
}

DetectionFindings TDetectThread::Findings() {
    TLockGuard guard(lock_);
    return findings_;
}

DetectionRequest TDetectThread::Request() {
    TLockGuard guard(lock_);
    return request_;
}

uint32_t TDetectThread::AccessIp() {
    TLockGuard guard(lock_);
    return accessIp_;
}

void TDetectThread::LinkUp(const uint8_t* macOrNull, uint32_t accessIp, uint32_t tickNow) {
    {
        TLockGuard guard(lock_);
        if (macOrNull != nullptr) {
            std::memcpy(mac_, macOrNull, 6);
            accessIp_ = accessIp;
        }
        linkUpTime_ = tickNow;
    }
    std::lock_guard<std::mutex> guard(signalMutex_);
    linkUpSignal_ = true;
    signalChanged_.notify_all();
}

void TDetectThread::LinkDown() {
    {
        std::lock_guard<std::mutex> guard(signalMutex_);
        linkUpSignal_ = false;
    }
    TLockGuard guard(lock_);
    accessIp_ = 0;
    std::memset(&findings_, 0, sizeof findings_);
    ++linkDowns_;
}

void TDetectThread::Execute() {
    lastPassTime_ = Now();
    {
        TLockGuard guard(lock_);
        std::memset(&findings_, 0, sizeof findings_);
    }
    for (;;) {
        if (SleepUnlessStopped(1))
            break;
        Turn();
        FinishTurn();
    }

    // End: release only what is this thread's own.
    if (captureStarted_ && detectors_.stopCapture)
        detectors_.stopCapture(&captureRelayed_, &captureBitTorrent_);
}

void TDetectThread::Turn() {
    if (!WaitLinkUp(timing_.turnMs))
        return; // timed out (or stopping)

    const uint32_t t = Now();
    uint8_t mac[6];
    bool retryAddress;
    bool runNow;
    uint32_t linkDowns;
    {
        TLockGuard guard(lock_);
        linkDowns = linkDowns_;
        retryAddress = accessIp_ == 0 && uint32_t(t - linkUpTime_) > timing_.addressRetryMs;
        std::memcpy(mac, mac_, 6);
        runNow = runNow_;
    }
    if (retryAddress) {
        const uint32_t ip = detectors_.lookUpAccessAddress(mac);
        TLockGuard guard(lock_);
        // A link down or link up meanwhile decided the address; keep theirs.
        if (linkDowns_ == linkDowns && accessIp_ == 0)
            accessIp_ = ip;
    }
    if (!runNow && uint32_t(t - lastPassTime_) < timing_.passIntervalMs) {
        SleepUnlessStopped(timing_.turnMs);
        return;
    }
    lastPassTime_ = t;
    if (!RunPass())
        SleepUnlessStopped(timing_.turnMs); // no back-to-back retries
}

bool TDetectThread::RunPass() {
    try {
        DetectionPass();
        return true;
    } catch (...) {
        // Swallowed; the same request runs again at the next turn.
        TLockGuard guard(lock_);
        runNow_ = true;
        return false;
    }
}

void TDetectThread::DetectionPass() {
    DetectionRequest q;
    uint8_t mac[6];
    uint32_t storedIp;
    uint32_t linkDownsAtCopy;
    {
        TLockGuard guard(lock_);
        q = request_;
        // Cleared as the request is taken, so one that arrives while this pass
        // runs still brings the next pass forward.
        runNow_ = false;
        std::memcpy(mac, mac_, 6);
        storedIp = accessIp_;
        linkDownsAtCopy = linkDowns_;
    }
    DetectionFindings p;
    std::memset(&p, 0, sizeof p);

    if (q.adapterCount || q.addressCount || q.addressChanged) {
        const AdapterCounts c = detectors_.countAdapters();
        if (c.adapters > 1)
            p.adapterCount = uint8_t(c.adapters);
        if (c.addresses > 1)
            p.addressCount = uint8_t(c.addresses);
        if (q.addressChanged && storedIp != 0 && detectors_.lookUpAccessAddress(mac) != storedIp)
            p.addressChanged = 1;
    }
    const int32_t tcpThreshold = q.tcpConnections;
    if (tcpThreshold > 0)
        p.tcpConnections = detectors_.countTcp();
    const int32_t udpThreshold = q.udpEndpoints;
    const int32_t u = udpThreshold > 0 ? detectors_.countUdp() : 0;
    const bool s = q.serviceRunning && detectors_.serviceRunning();
    const int32_t dhcpSwitch = q.dhcpServer;
    if (dhcpSwitch != 0 && detectors_.dhcpServerPort())
        p.dhcpServer = 1;
    if (q.programFeatures && detectors_.programFeatures())
        p.programFeatures = 1;

    if (q.localProxy) {
        if (!probeStarted_) {
            probeStarted_ = true;
            if (reportProxy_)
                detectors_.startProbe(reportProxy_);
            else
                detectors_.startProbe([this] { SetProbeFound(); });
        } else if (probeResult_.load() == 1) {
            p.localProxy = 1;
        }
    } else {
        probeResult_ = 0;
    }

    const uint8_t kinds =
        uint8_t((q.relayedRequest ? kRelayedTraffic : 0) | (q.bitTorrent ? kBitTorrentTraffic : 0));
    if (kinds != 0) {
        if (!captureStarted_) {
            captureStarted_ = true;
            detectors_.startCapture(&captureRelayed_, &captureBitTorrent_, kinds, mac);
        } else {
            if (q.relayedRequest && captureRelayed_.load() == 1) {
                // Each result only under its own switch; A first when both are on.
                p.relayedRequest = 1;
            } else if (q.bitTorrent && captureBitTorrent_.load() == 1) {
                p.bitTorrent = 1;
            }
            // The capture looks only for what is switched on now, and starts
            // again if it had ended after finding everything asked of it before.
            detectors_.updateCapture(&captureRelayed_, &captureBitTorrent_, kinds, mac);
        }
    } else {
        captureRelayed_ = 0;
        captureBitTorrent_ = 0;
        if (captureStarted_)
            detectors_.updateCapture(&captureRelayed_, &captureBitTorrent_, 0, mac);
    }

    TLockGuard guard(lock_);
    // The link went down while this pass ran: its findings belong to the old link.
    if (linkDowns_ != linkDownsAtCopy)
        return;
    findings_.adapterCount = p.adapterCount;
    findings_.addressCount = p.addressCount;
    findings_.addressChanged = p.addressChanged;
    findings_.reserved24 = 0;
    findings_.tcpConnections = p.tcpConnections;
    const int32_t udpMax = findings_.udpEndpoints;
    if (u > udpMax)
        findings_.udpEndpoints = u;
    if (s)
        findings_.serviceRunning = 1;
    findings_.programFeatures = p.programFeatures;
    findings_.localProxy = p.localProxy;
    findings_.relayedRequest = p.relayedRequest;
    findings_.dhcpServer = p.dhcpServer;
    findings_.bitTorrent = p.bitTorrent;
}
