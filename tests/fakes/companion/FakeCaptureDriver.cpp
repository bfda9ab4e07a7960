#include "companion/FakeCaptureDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

FakeCaptureDriver::FakeCaptureDriver() = default;
FakeCaptureDriver::~FakeCaptureDriver() = default;

void FakeCaptureDriver::SetScript(const std::string& deviceName, const Script& script) {
    std::lock_guard<std::mutex> guard(mutex_);
    scripts_.emplace_back(deviceName, script);
}

const FakeCaptureDriver::Script* FakeCaptureDriver::ScriptFor(const std::string& name) const {
    for (auto it = scripts_.rbegin(); it != scripts_.rend(); ++it)
        if (it->first == name)
            return &it->second;
    return nullptr;
}

std::deque<FakeCaptureDriver::Batch>& FakeCaptureDriver::PendingFor(const std::string& name) {
    for (auto& p : pending_)
        if (p.first == name)
            return p.second;
    pending_.emplace_back(name, std::deque<Batch>());
    return pending_.back().second;
}

void FakeCaptureDriver::AddBatch(const std::string& deviceName, std::vector<uint8_t> batch,
                                 uint32_t reportedLength) {
    std::lock_guard<std::mutex> guard(mutex_);
    PendingFor(deviceName).push_back(Batch{std::move(batch), reportedLength});
    for (auto& a : adapters_)
        if (a->name == deviceName && !a->closed)
            a->signalled = true;
    changed_.notify_all();
}

void FakeCaptureDriver::Record(const std::string& call) {
    calls_.push_back(call);
    changed_.notify_all();
}

std::vector<std::string> FakeCaptureDriver::Calls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

int FakeCaptureDriver::CountCalls(const std::string& prefix) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return int(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
        return c.compare(0, prefix.size(), prefix) == 0;
    }));
}

bool FakeCaptureDriver::WaitForCalls(const std::string& prefix, int n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
                   return c.compare(0, prefix.size(), prefix) == 0;
               }) >= n;
    });
}

int FakeCaptureDriver::OpenAdapters() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return int(std::count_if(adapters_.begin(), adapters_.end(),
                             [](const std::unique_ptr<FakeAdapter>& a) { return !a->closed; }));
}

bool FakeCaptureDriver::MisusedClosed() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return misused_;
}

FakeCaptureDriver::FakeAdapter* FakeCaptureDriver::Checked(Adapter* adapter) {
    auto* a = reinterpret_cast<FakeAdapter*>(adapter);
    if (a == nullptr || a->closed)
        misused_ = true;
    return a;
}

CaptureDriver::Adapter* FakeCaptureDriver::OpenAdapter(const char* deviceName) {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string name = deviceName;
    Record("open " + name);
    const Script* script = ScriptFor(name);
    Script s = script ? *script : Script();
    if (s.open == OpenOutcome::Null)
        return nullptr;
    adapters_.emplace_back(new FakeAdapter{name, s, false, !PendingFor(name).empty()});
    return reinterpret_cast<Adapter*>(adapters_.back().get());
}

bool FakeCaptureDriver::HasValidHandle(Adapter* adapter) {
    std::lock_guard<std::mutex> guard(mutex_);
    return Checked(adapter)->script.open != OpenOutcome::InvalidHandle;
}

bool FakeCaptureDriver::SetHwFilter(Adapter* adapter, uint32_t filter) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("filter " + a->name + " " + std::to_string(filter));
    return !a->script.failFilter;
}

bool FakeCaptureDriver::SetBuff(Adapter* adapter, int32_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("buffer " + a->name + " " + std::to_string(bytes));
    return !a->script.failBuffer;
}

bool FakeCaptureDriver::SetReadTimeout(Adapter* adapter, int32_t milliseconds) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("timeout " + a->name + " " + std::to_string(milliseconds));
    return !a->script.failTimeout;
}

void FakeCaptureDriver::CloseAdapter(Adapter* adapter) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("close " + a->name);
    a->closed = true;
}

CaptureDriver::WaitResult FakeCaptureDriver::WaitReadEvent(Adapter* adapter, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("wait " + a->name);
    if (a->script.failWait)
        return WaitResult::Failed;
    const bool woken = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return a->signalled || interrupted_; });
    if (interrupted_)
        return WaitResult::Interrupted;
    return woken ? WaitResult::Signalled : WaitResult::TimedOut;
}

void FakeCaptureDriver::ResetReadEvent(Adapter* adapter) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("reset " + a->name);
    // As the driver does: the event comes back while unread data waits.
    a->signalled = !PendingFor(a->name).empty();
}

void FakeCaptureDriver::InterruptWaits() {
    std::lock_guard<std::mutex> guard(mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

void FakeCaptureDriver::ClearInterrupt() {
    std::lock_guard<std::mutex> guard(mutex_);
    interrupted_ = false;
}

CaptureDriver::Packet* FakeCaptureDriver::AllocatePacket() {
    std::lock_guard<std::mutex> guard(mutex_);
    Record("allocate");
    packets_.emplace_back(new FakePacket());
    return reinterpret_cast<Packet*>(packets_.back().get());
}

void FakeCaptureDriver::InitPacket(Packet* packet, uint8_t* buffer, uint32_t length) {
    std::lock_guard<std::mutex> guard(mutex_);
    Record("init " + std::to_string(length));
    auto* p = reinterpret_cast<FakePacket*>(packet);
    p->buffer = buffer;
    p->length = length;
}

bool FakeCaptureDriver::ReceivePacket(Adapter* adapter, Packet* packet, bool) {
    std::lock_guard<std::mutex> guard(mutex_);
    FakeAdapter* a = Checked(adapter);
    Record("receive " + a->name);
    if (a->script.failReceive)
        return false;
    auto* p = reinterpret_cast<FakePacket*>(packet);
    std::deque<Batch>& pending = PendingFor(a->name);
    p->received = 0;
    if (pending.empty())
        return true;
    Batch batch = std::move(pending.front());
    pending.pop_front();
    const uint32_t n = std::min<uint32_t>(uint32_t(batch.bytes.size()), p->length);
    if (n)
        std::memcpy(p->buffer, batch.bytes.data(), n);
    p->received = batch.reported ? batch.reported : n;
    return true;
}

uint32_t FakeCaptureDriver::BytesReceived(Packet* packet) {
    std::lock_guard<std::mutex> guard(mutex_);
    return reinterpret_cast<FakePacket*>(packet)->received;
}

void FakeCaptureDriver::HoldFree(bool hold) {
    std::lock_guard<std::mutex> guard(mutex_);
    holdFree_ = hold;
    changed_.notify_all();
}

bool FakeCaptureDriver::FreeHeld() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return freeBlocked_;
}

void FakeCaptureDriver::FreePacket(Packet*) {
    std::unique_lock<std::mutex> lock(mutex_);
    freeBlocked_ = holdFree_;
    changed_.wait(lock, [this] { return !holdFree_; });
    freeBlocked_ = false;
    Record("free");
}
