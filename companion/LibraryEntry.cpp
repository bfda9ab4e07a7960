#include "LibraryEntry.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "DetectByFeature.h"
#include "Ports.h"
#include "SystemClock.h"

namespace {

std::atomic<SendReplyFn> g_sendReply{nullptr};
std::atomic<GetAdapterMacFn> g_getAdapterMac{nullptr};

std::mutex& RandomLock() {
    static auto* m = new std::mutex;
    return *m;
}
std::mt19937& Random() {
    static auto* r = new std::mt19937;
    return *r;
}

class StartUpdateAtItem : public UpdateUrlSink {
  public:
    explicit StartUpdateAtItem(const Detectors& d) : detectors_(d) {}
    void OnUpdateUrl(const std::string& text, int length) override {
        if (detectors_.startUpdateClient)
            detectors_.startUpdateClient(text, length);
    }

  private:
    const Detectors& detectors_;
};

void Send(const std::vector<uint8_t>& message) {
    const SendReplyFn send = g_sendReply.load();
    if (send != nullptr)
        send(message.data(), uint32_t(message.size()));
}

int32_t InitThreadSteps(HostInterface* host) {
    {
        std::lock_guard<std::mutex> guard(RandomLock());
        Random().seed(static_cast<std::mt19937::result_type>(Ports().clock->HighResolution()));
    }
    const LibrarySettings settings = EntrySettings();

    bool replacing;
    {
        std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
        TDetectThread* old = CurrentDetectThread();
        replacing = old != nullptr;
        if (old)
            old->Stop();
    }
    if (replacing)
        std::this_thread::sleep_for(std::chrono::milliseconds(settings.replaceWaitMs));

    if (host != nullptr) {
        g_sendReply = host->SendReply;
        g_getAdapterMac = host->GetAdapterMac;
        host->DeliverRequest = DeliverRequest;
        host->ReadFindings = ReadFindings;
        host->NotifyLinkState = NotifyLinkState;
    }

    auto* thread = new TDetectThread(settings.timing, settings.detectors);
    {
        std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
        CurrentDetectThread() = thread;
        thread->Begin();
    }

    int r;
    {
        std::lock_guard<std::mutex> guard(RandomLock());
        r = int(Random()() & 1);
    }
    const size_t n = LoadSignatureList();
    if (host == nullptr)
        return kLibraryRefuses;
    return n < size_t(r) + 1 ? kLibraryRefuses : kLibraryReady;
}

} // namespace

LibrarySettings& EntrySettings() {
    static auto* settings = new LibrarySettings;
    return *settings;
}

int32_t InitThreadEntry(HostInterface* host) {
    try {
        return InitThreadSteps(host);
    } catch (...) {
        return kLibraryRefuses;
    }
}

extern "C" int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length) {
    try {
        if (message == nullptr || length < 3)
            return kRequestRejected;
        {
            std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
            if (CurrentDetectThread() == nullptr)
                return kRequestRejected;
        }
        const Detectors detectors = EntrySettings().detectors;
        StartUpdateAtItem updates(detectors);
        ParsedRequest parsed;
        if (!ParseRequest(message, length, parsed, &updates))
            return kRequestRejected;

        TDetectThread::DeliverCopy copy;
        {
            std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
            TDetectThread* thread = CurrentDetectThread();
            if (thread == nullptr)
                return kRequestRejected;
            thread->ApplyRequest(parsed.request, copy);
        }
        // No lock is held while the dialer handles a reply.
        if (parsed.addressRequested)
            Send(BuildAddressReply(copy.accessIp, copy.mac));
        const uint8_t kind = parsed.request.kind;
        if (kind == kDetectOffRequest || kind == kDetectionRequest)
            Send(BuildFindingsReply(parsed.request, copy.findings));
        return kRequestAccepted;
    } catch (...) {
        return kRequestRejected;
    }
}

extern "C" int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length) {
    try {
        DetectionFindings findings;
        {
            std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
            TDetectThread* thread = CurrentDetectThread();
            if (thread == nullptr)
                return 1;
            findings = thread->Findings();
        }
        if (buffer == nullptr)
            return 1;
        std::memcpy(buffer, &findings, kFindingsSize);
        if (length != nullptr)
            *length = kFindingsSize;
        return 0;
    } catch (...) {
        return 1;
    }
}

extern "C" int32_t HOST_CALL NotifyLinkState(uint32_t up) {
    try {
        const Detectors& detectors = EntrySettings().detectors;
        if ((up & 0xff) != 0) {
            uint8_t mac[6] = {};
            bool haveMac = false;
            const GetAdapterMacFn getMac = g_getAdapterMac.load();
            if (getMac != nullptr)
                haveMac = getMac(mac, 6) == 0;
            bool exists;
            {
                std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
                exists = CurrentDetectThread() != nullptr;
            }
            // The look-up reads the system's tables: done before any lock is taken.
            const uint32_t ip = haveMac && exists ? detectors.lookUpAccessAddress(mac) : 0;
            std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
            if (TDetectThread* thread = CurrentDetectThread())
                thread->LinkUp(haveMac ? mac : nullptr, ip, Ports().clock->TickCount());
        } else {
            std::lock_guard<std::recursive_mutex> guard(DetectThreadRegistryLock());
            if (TDetectThread* thread = CurrentDetectThread()) {
                if (detectors.forgetUpdateClient)
                    detectors.forgetUpdateClient();
                thread->LinkDown();
            }
        }
    } catch (...) {
    }
    return 0;
}
