// The library as one object: its ports, its settings, the current detection
// thread, the capture, the probe and the update clients, with the entry points
// that the dialer reaches through the host interface. The Win32 export
// (win32/Ostrel_win.cpp) makes one at the first initThread and never ends it, as
// the module is pinned; tests make one per case and end it, which stops and joins
// every thread it started.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "DetectByDataAnalysis.h"
#include "DetectByPortScan.h"
#include "DetectThread.h"
#include "HostInterface.h"
#include "Ports.h"
#include "UpdateClnt.h"

struct LibrarySettings {
    DetectTiming timing;
    Detectors detectors;
};

class Library {
  public:
    // Installs `ports` as the library-wide ports (Ports()) and, when no other
    // library is current, becomes the one the exported entry points serve.
    // Detectors left empty in `settings` are this library's own capture, probe
    // and update clients.
    explicit Library(const CompanionPorts& ports, LibrarySettings settings = {});
    // Stops and joins the detection thread, the probe, the update clients and the
    // capture, in that order, and puts back the ports it replaced.
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The library the exported entry points serve; null before one is made.
    static Library* Current();

    // initThread's steps: 0 = ready, 0xffff = refuses. Slots 2 to 4 are written
    // whatever the answer. A detection thread already running is stopped and
    // joined before the new one starts. Never raises.
    int32_t InitThread(HostInterface* host);
    int32_t DeliverRequest(const uint8_t* message, uint32_t length);
    int32_t ReadFindings(uint8_t* buffer, uint32_t* length);
    int32_t NotifyLinkState(uint32_t up);

    // Read by initThread when it creates a detection thread, and by the entry
    // points at each call. Tests change it between calls.
    LibrarySettings& Settings() { return settings_; }

    // For tests: the current detection thread, valid until the next initThread
    // or the library's end; null before the first initThread.
    TDetectThread* DetectThreadForTests();

  private:
    int32_t InitThreadSteps(HostInterface* host);
    void Send(const std::vector<uint8_t>& message);
    // The probe found a proxy: told to whichever detection thread is current.
    void ReportProxyFound();

    CompanionPorts replacedPorts_;
    LibrarySettings settings_;

    std::atomic<SendReplyFn> sendReply_{nullptr};
    std::atomic<GetAdapterMacFn> getAdapterMac_{nullptr};

    std::mutex randomLock_;
    std::mt19937 random_;

    // initThread calls run one at a time, so a detection thread is never
    // replaced while another call is joining it.
    std::mutex initLock_;
    // Guards thread_: the entry points use the thread only under it.
    std::mutex threadLock_;
    std::unique_ptr<TDetectThread> thread_;

    DataAnalysis capture_;
    PortProbe probe_;
    UpdateClients updates_;
};

// initThread's steps on the current library; 0xffff when there is none.
int32_t InitThreadEntry(HostInterface* host);

// The entry points written into slots 2 to 4: the current library's.
extern "C" {
int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length);
int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length);
int32_t HOST_CALL NotifyLinkState(uint32_t up);
}
