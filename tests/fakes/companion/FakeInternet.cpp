#include "FakeInternet.h"

#include <algorithm>
#include <cstring>

using Guard = std::lock_guard<std::recursive_mutex>;

InetHandle FakeInternet::Open(const std::string* agent, bool viaProxy, const std::string& proxy) {
    Guard hold(lock);
    opens.push_back({agent != nullptr, agent ? *agent : "", viaProxy, proxy});
    if (failOpen) return 0;
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
    if (it == handles_.end()) return 0;
    auto proxy = proxies.find(it->second.proxy);
    if (proxy == proxies.end()) return 0;
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
    if (it == handles_.end()) return 0;
    const State& c = it->second;
    requests.push_back({c.host, c.port, c.user, c.password, verb, path, version, referrer,
                        acceptTypes, reload});
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

InetHandle FakeInternet::OpenUrl(InetHandle session, const std::string& url) {
    if (onOpenUrl) onOpenUrl(url);
    Guard hold(lock);
    openedUrls.push_back(url);
    auto found = urls.find(url);
    if (!handles_.count(session) || found == urls.end()) return 0;
    State s;
    s.response = &found->second;
    handles_[next_] = s;
    ++openHandles;
    return next_++;
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
    Guard hold(lock);
    readSizes.push_back(size);
    auto it = handles_.find(request);
    if (it == handles_.end() || !it->second.response) return false;
    State& s = it->second;
    const Response& r = *s.response;
    if (r.failRead && s.reads > 0) return false;
    size_t n = std::min<size_t>(size, r.body.size() - s.pos);
    if (r.chunk) n = std::min<size_t>(n, r.chunk);
    std::memcpy(buffer, r.body.data() + s.pos, n);
    s.pos += n;
    ++s.reads;
    read = static_cast<uint32_t>(n);
    return true;
}

void FakeInternet::Close(InetHandle handle) {
    Guard hold(lock);
    if (handles_.erase(handle)) --openHandles;
}
