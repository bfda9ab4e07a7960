// The detection thread's handle on traffic capture: one capture per library,
// reporting into the result bytes of whichever detection thread started it last.
// The Library owns it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

using ResultFlag = std::atomic<uint8_t>;

// The two traffic findings, as bits of a set.
enum TrafficKind : uint8_t { kRelayedTraffic = 1, kBitTorrentTraffic = 2 };
constexpr uint8_t kAllTrafficKinds = kRelayedTraffic | kBitTorrentTraffic;

class TPacketCapture;

// The library's one capture. Detection threads may overlap for a while (a new one
// starts before the old one has ended), so starts and stops are taken one at a
// time, and the result bytes installed last decide who owns it.
class DataAnalysis {
  public:
    DataAnalysis();
    // Shutdown.
    ~DataAnalysis();
    DataAnalysis(const DataAnalysis&) = delete;
    DataAnalysis& operator=(const DataAnalysis&) = delete;

    // Makes sure the capture runs for the caller: installs its two result bytes
    // (A: a relayed request was seen, B: BitTorrent traffic was seen) and the
    // kinds it has switched on, and restarts the capture unless a receive thread
    // is running that can take them over. accessMac (6 bytes, all zero or null:
    // not known) names the adapter that is always captured. Always true.
    bool Start(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
               const uint8_t* accessMac);

    // Each later detection pass: the owner's current switches and access address.
    // The capture restarts when a switched-on kind is still to be found but its
    // receive thread has ended after earlier findings, or when the access adapter
    // moved to one the capture does not hold. Ignored for a caller that no longer
    // owns it.
    void Update(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag, uint8_t kinds,
                const uint8_t* accessMac);

    // Withdraws the caller's result bytes and closes the capture, but only when
    // the installed bytes are still the caller's (a newer detection thread may own
    // it).
    void Stop(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag);

    // Library end: stops and joins the receive thread, closes every adapter and
    // frees the capture, whoever owns the result bytes. No capture code runs
    // afterwards.
    void Shutdown();

  private:
    void RestartCapture();

    std::mutex controlLock_;
    std::unique_ptr<TPacketCapture> capture_;
};
