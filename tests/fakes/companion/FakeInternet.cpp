#include "FakeInternet.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using Guard = std::lock_guard<std::recursive_mutex>;

InetHandle FakeInternet::Open(const std::string* agent, bool viaProxy, const std::string& proxy) {
    Guard hold(lock);
    opens.push_back({agent != nullptr, agent ? *agent : "", viaProxy, proxy});
    if (failOpen)
        return 0;
    State s;
    s.proxy = viaProxy ? proxy : "";
    handles_[next_] = s;
    ++openHandles;
    return next_++;
}

InetHandle FakeInternet::Connect(InetHandle session, const std::string& host, uint16_t port,
                                 const std::string& userName, const std::string& password) {
    Guard hold(lock);
    auto it = handles_.find(session);
    if (it == handles_.end())
        return 0;
    auto proxy = proxies.find(it->second.proxy);
    if (proxy == proxies.end())
        return 0;
    State s;
    s.response = &proxy->second;
    s.host = host;
    s.port = port;
    s.user = userName;
    s.password = password;
    handles_[next_] = s;
    ++openHandles;
    return next_++;
}

InetHandle FakeInternet::OpenRequest(InetHandle connection, const std::string& verb,
                                     const std::string& path, const std::string& version,
                                     const std::string& referrer,
                                     const std::vector<std::string>& acceptTypes, bool reload) {
    Guard hold(lock);
    auto it = handles_.find(connection);
    if (it == handles_.end())
        return 0;
    const State& c = it->second;
    requests.push_back(
        {c.host, c.port, c.user, c.password, verb, path, version, referrer, acceptTypes, reload});
    State s;
    s.response = c.response;
    handles_[next_] = s;
    ++openHandles;
    return next_++;
}

bool FakeInternet::SendRequest(InetHandle request, const std::string& headers,
                               const std::string& body) {
    Guard hold(lock);
    sends.push_back({headers, body});
    return handles_.count(request) > 0;
}

void FakeInternet::Release() {
    std::lock_guard<std::mutex> hold(releaseLock_);
    released_ = true;
    releaseChanged_.notify_all();
}

void FakeInternet::Rearm() {
    std::lock_guard<std::mutex> hold(releaseLock_);
    released_ = false;
}

void FakeInternet::WaitForRelease() {
    {
        Guard hold(lock);
        ++blockedCalls;
    }
    {
        std::unique_lock<std::mutex> hold(releaseLock_);
        releaseChanged_.wait(hold, [this] { return released_; });
    }
    Guard hold(lock);
    --blockedCalls;
}

bool FakeInternet::SetTimeouts(InetHandle session, uint32_t connectMs, uint32_t sendMs,
                               uint32_t receiveMs) {
    Guard hold(lock);
    timeouts.insert(timeouts.end(), {connectMs, sendMs, receiveMs});
    return handles_.count(session) > 0;
}

InetHandle FakeInternet::OpenUrl(InetHandle session, const std::string& url, uint32_t flags) {
    if (onOpenUrl)
        onOpenUrl(url);
    bool silent = false;
    {
        Guard hold(lock);
        openedUrls.push_back(url);
        openFlags.push_back(flags);
        auto found = urls.find(url);
        silent = found != urls.end() && found->second.silent;
    }
    // A server that accepts and says nothing: the call waits, whatever happens to
    // its handles meanwhile.
    if (silent)
        WaitForRelease();
    Guard hold(lock);
    auto found = urls.find(url);
    if (!handles_.count(session) || found == urls.end() || found->second.silent)
        return 0;
    State s;
    s.response = &found->second;
    handles_[next_] = s;
    ++openHandles;
    return next_++;
}

bool FakeInternet::QueryStatusCode(InetHandle request, uint32_t& status) {
    Guard hold(lock);
    auto it = handles_.find(request);
    if (it == handles_.end() || !it->second.response)
        return false;
    status = it->second.response->status;
    return true;
}

bool FakeInternet::QueryLocation(InetHandle request, uint32_t bufferSize, std::string& value) {
    Guard hold(lock);
    auto it = handles_.find(request);
    if (it == handles_.end() || !it->second.response || it->second.response->location.empty())
        return false;
    value = it->second.response->location;
    return value.size() < bufferSize;
}

uint64_t FakeInternet::Left(const State& s) const {
    const Response& r = *s.response;
    if (r.endless)
        return r.body.empty() ? 0 : UINT64_MAX;
    return s.pos < r.body.size() ? r.body.size() - s.pos : 0;
}

size_t FakeInternet::Take(State& s, uint8_t* buffer, size_t n) {
    const Response& r = *s.response;
    size_t done = 0;
    while (done < n && Left(s) > 0) {
        const size_t at = size_t(s.pos % r.body.size());
        const size_t part = std::min(n - done, r.body.size() - at);
        std::memcpy(buffer + done, r.body.data() + at, part);
        done += part;
        s.pos += part;
    }
    return done;
}

bool FakeInternet::QueryDataAvailable(InetHandle request, uint32_t& bytes) {
    const Response* r = nullptr;
    uint64_t pos = 0;
    {
        Guard hold(lock);
        auto it = handles_.find(request);
        if (it == handles_.end() || !it->second.response)
            return false;
        r = it->second.response;
        pos = it->second.pos;
    }
    if (r->stallAfter >= 0 && pos >= uint64_t(r->stallAfter))
        WaitForRelease();
    if (r->dripMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(r->dripMs));
    Guard hold(lock);
    auto it = handles_.find(request);
    if (it == handles_.end())
        return false;
    uint64_t left = Left(it->second);
    // A stalled answer has sent what comes before the stall, no more.
    if (r->stallAfter >= 0 && it->second.pos < uint64_t(r->stallAfter))
        left = std::min<uint64_t>(left, uint64_t(r->stallAfter) - it->second.pos);
    bytes = r->dripMs ? uint32_t(std::min<uint64_t>(left, 1))
                      : uint32_t(std::min<uint64_t>(left, r->chunk ? r->chunk : 1u << 20));
    it->second.available = bytes;
    return !(r->failRead && it->second.reads > 0);
}

bool FakeInternet::QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) {
    Guard hold(lock);
    auto it = handles_.find(request);
    if (it == handles_.end() || !it->second.response || !it->second.response->hasContentLength)
        return false;
    const Response& r = *it->second.response;
    value = r.contentLength.empty() ? std::to_string(r.body.size()) : r.contentLength;
    return value.size() < bufferSize;
}

bool FakeInternet::Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) {
    // A read waits to fill its buffer: past what has arrived, a drip costs its time
    // per byte and a stalled answer waits for Release().
    uint64_t dripWaitMs = 0;
    bool stall = false;
    {
        Guard hold(lock);
        auto it = handles_.find(request);
        if (it == handles_.end() || !it->second.response)
            return false;
        const State& s = it->second;
        const Response& r = *s.response;
        const uint64_t beyond = size > s.available ? size - s.available : 0;
        dripWaitMs = r.dripMs * beyond;
        stall = beyond > 0 && r.stallAfter >= 0 && s.pos + size > uint64_t(r.stallAfter);
    }
    if (dripWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(dripWaitMs));
    if (stall)
        WaitForRelease();
    Guard hold(lock);
    readSizes.push_back(size);
    auto it = handles_.find(request);
    if (it == handles_.end() || !it->second.response)
        return false;
    State& s = it->second;
    const Response& r = *s.response;
    if (r.failRead && s.reads > 0)
        return false;
    size_t n = size;
    if (r.chunk)
        n = std::min<size_t>(n, r.chunk);
    n = Take(s, buffer, n);
    s.available = s.available > n ? s.available - n : 0;
    ++s.reads;
    bytesServed += n;
    read = static_cast<uint32_t>(n);
    return true;
}

void FakeInternet::Close(InetHandle handle) {
    Guard hold(lock);
    if (handles_.erase(handle))
        --openHandles;
}
