#include "Library.h"

#include <cstring>

#include "DetectByFeature.h"
#include "SystemClock.h"

namespace {

std::atomic<Library*> g_current{nullptr};

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

} // namespace

Library::Library(const CompanionPorts& ports, LibrarySettings settings)
    : replacedPorts_(Ports()), settings_(std::move(settings)) {
    Ports() = ports;
    Detectors& d = settings_.detectors;
    if (!d.startProbe)
        d.startProbe = [this](std::function<void()> found) { probe_.StartOnce(std::move(found)); };
    if (!d.startCapture)
        d.startCapture = [this](ResultFlag* a, ResultFlag* b, uint8_t kinds, const uint8_t* mac) {
            return capture_.Start(a, b, kinds, mac);
        };
    if (!d.updateCapture)
        d.updateCapture = [this](ResultFlag* a, ResultFlag* b, uint8_t kinds, const uint8_t* mac) {
            capture_.Update(a, b, kinds, mac);
        };
    if (!d.stopCapture)
        d.stopCapture = [this](ResultFlag* a, ResultFlag* b) { capture_.Stop(a, b); };
    if (!d.startUpdateClient)
        d.startUpdateClient = [this](const std::string& urls, int length) {
            return updates_.StartIfNone(urls, length);
        };
    if (!d.forgetUpdateClient)
        d.forgetUpdateClient = [this] { updates_.Forget(); };
    Library* none = nullptr;
    g_current.compare_exchange_strong(none, this);
}

Library::~Library() {
    Library* self = this;
    g_current.compare_exchange_strong(self, nullptr);
    std::unique_ptr<TDetectThread> thread;
    {
        std::lock_guard<std::mutex> init(initLock_);
        std::lock_guard<std::mutex> guard(threadLock_);
        thread = std::move(thread_);
    }
    thread.reset(); // stops and joins; its end withdraws from the capture
    probe_.Join();
    updates_.WaitForAll();
    capture_.Shutdown();
    Ports() = replacedPorts_;
}

Library* Library::Current() {
    return g_current.load();
}

TDetectThread* Library::DetectThreadForTests() {
    std::lock_guard<std::mutex> guard(threadLock_);
    return thread_.get();
}

void Library::Send(const std::vector<uint8_t>& message) {
    const SendReplyFn send = sendReply_.load();
    if (send != nullptr)
        send(message.data(), uint32_t(message.size()));
}

void Library::ReportProxyFound() {
    std::lock_guard<std::mutex> guard(threadLock_);
    if (thread_)
        thread_->SetProbeFound();
}

int32_t Library::InitThread(HostInterface* host) {
    try {
        return InitThreadSteps(host);
    } catch (...) {
        return kLibraryRefuses;
    }
}

int32_t Library::InitThreadSteps(HostInterface* host) {
    std::lock_guard<std::mutex> init(initLock_);
    {
        std::lock_guard<std::mutex> guard(randomLock_);
        random_.seed(static_cast<std::mt19937::result_type>(Ports().clock->HighResolution()));
    }

    // A thread from an earlier call is stopped and joined: its loop ends within
    // a turn (or at the end of the pass it is in) and releases what is its own.
    // The entry points find no thread meanwhile, as they would once it had ended.
    std::unique_ptr<TDetectThread> old;
    {
        std::lock_guard<std::mutex> guard(threadLock_);
        old = std::move(thread_);
    }
    old.reset();

    if (host != nullptr) {
        sendReply_ = host->SendReply;
        getAdapterMac_ = host->GetAdapterMac;
        host->DeliverRequest = ::DeliverRequest;
        host->ReadFindings = ::ReadFindings;
        host->NotifyLinkState = ::NotifyLinkState;
    }

    auto thread = std::make_unique<TDetectThread>(settings_.timing, settings_.detectors,
                                                  [this] { ReportProxyFound(); });
    {
        std::lock_guard<std::mutex> guard(threadLock_);
        thread_ = std::move(thread);
        thread_->Begin();
    }

    int r;
    {
        std::lock_guard<std::mutex> guard(randomLock_);
        r = int(random_() & 1);
    }
    const size_t n = LoadSignatureList();
    if (host == nullptr)
        return kLibraryRefuses;
    return n < size_t(r) + 1 ? kLibraryRefuses : kLibraryReady;
}

int32_t Library::DeliverRequest(const uint8_t* message, uint32_t length) {
    try {
        if (message == nullptr || length < 3)
            return kRequestRejected;
        {
            std::lock_guard<std::mutex> guard(threadLock_);
            if (thread_ == nullptr)
                return kRequestRejected;
        }
        const Detectors detectors = settings_.detectors;
        StartUpdateAtItem updates(detectors);
        ParsedRequest parsed;
        if (!ParseRequest(message, length, parsed, &updates))
            return kRequestRejected;

        TDetectThread::DeliverCopy copy;
        {
            std::lock_guard<std::mutex> guard(threadLock_);
            if (thread_ == nullptr)
                return kRequestRejected;
            thread_->ApplyRequest(parsed.request, copy);
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

int32_t Library::ReadFindings(uint8_t* buffer, uint32_t* length) {
    try {
        DetectionFindings findings;
        {
            std::lock_guard<std::mutex> guard(threadLock_);
            if (thread_ == nullptr)
                return 1;
            findings = thread_->Findings();
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

int32_t Library::NotifyLinkState(uint32_t up) {
    try {
        const Detectors& detectors = settings_.detectors;
        if ((up & 0xff) != 0) {
            uint8_t mac[6] = {};
            bool haveMac = false;
            const GetAdapterMacFn getMac = getAdapterMac_.load();
            if (getMac != nullptr)
                haveMac = getMac(mac, 6) == 0;
            bool exists;
            {
                std::lock_guard<std::mutex> guard(threadLock_);
                exists = thread_ != nullptr;
            }
            // The look-up reads the system's tables: done before any lock is taken.
            const uint32_t ip = haveMac && exists ? detectors.lookUpAccessAddress(mac) : 0;
            std::lock_guard<std::mutex> guard(threadLock_);
            if (thread_)
                thread_->LinkUp(haveMac ? mac : nullptr, ip, Ports().clock->TickCount());
        } else {
            std::lock_guard<std::mutex> guard(threadLock_);
            if (thread_) {
                if (detectors.forgetUpdateClient)
                    detectors.forgetUpdateClient();
                thread_->LinkDown();
            }
        }
    } catch (...) {
    }
    return 0;
}

int32_t InitThreadEntry(HostInterface* host) {
    Library* library = Library::Current();
    return library != nullptr ? library->InitThread(host) : kLibraryRefuses;
}

extern "C" int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length) {
    Library* library = Library::Current();
    return library != nullptr ? library->DeliverRequest(message, length) : kRequestRejected;
}

extern "C" int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length) {
    Library* library = Library::Current();
    return library != nullptr ? library->ReadFindings(buffer, length) : 1;
}

extern "C" int32_t HOST_CALL NotifyLinkState(uint32_t up) {
    Library* library = Library::Current();
    return library != nullptr ? library->NotifyLinkState(up) : 0;
}
