// A scripted internet client: a table of URLs with their responses for direct
// downloads, a table of proxies with the page each returns, and a record of every
// call with its arguments.
#pragma once

#include "InternetSession.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class FakeInternet : public InternetSession {
  public:
    // A server's answer. The hostile ones block the calling thread the way a real
    // blocked call does: closing the handle from elsewhere does not end the wait,
    // only Release() (or the drip's next byte) does.
    struct Response {
        std::string body;
        bool hasContentLength = true;
        std::string contentLength; // empty: the body's size
        uint32_t chunk = 0;        // largest read it returns; 0: no limit
        bool failRead = false;     // reads fail after the first chunk
        uint32_t status = 200;
        std::string location;    // the Location header of a redirect
        bool endless = false;    // the body repeats for ever (whatever is announced)
        uint32_t dripMs = 0;     // one byte becomes available every dripMs
        bool silent = false;     // OpenUrl waits until Release()
        int64_t stallAfter = -1; // after this many body bytes, waits until Release()
    };
    struct OpenCall {
        bool hasAgent;
        std::string agent;
        bool viaProxy;
        std::string proxy;
    };
    struct RequestCall {
        std::string host;
        uint16_t port;
        std::string user, password, verb, path, version, referrer;
        std::vector<std::string> acceptTypes;
        bool reload;
    };
    struct SendCall {
        std::string headers, body;
    };

    // Direct downloads by full URL; an unknown URL fails to open.
    std::map<std::string, Response> urls;
    // Proxy fetches by proxy text "host:port": the page the proxy returns. An
    // unknown proxy fails to connect.
    std::map<std::string, Response> proxies;
    bool failOpen = false;
    // Runs at every OpenUrl (before it answers), on the calling thread.
    std::function<void(const std::string&)> onOpenUrl;

    std::vector<OpenCall> opens;
    std::vector<RequestCall> requests;
    std::vector<SendCall> sends;
    std::vector<std::string> openedUrls;
    std::vector<uint32_t> openFlags; // per OpenUrl call
    std::vector<uint32_t> timeouts;  // connect, send, receive of each SetTimeouts
    std::vector<uint32_t> readSizes;
    uint64_t bytesServed = 0; // body bytes handed out by Read
    int openHandles = 0;
    int blockedCalls = 0; // calls waiting right now in a silent or stalled answer

    // Ends every wait of the silent and stalled answers, now and later (until Rearm).
    void Release();
    void Rearm();
    // blockedCalls, read under the lock while calls may still be waiting.
    int BlockedCalls() {
        std::lock_guard<std::recursive_mutex> hold(lock);
        return blockedCalls;
    }

    InetHandle Open(const std::string* agent, bool viaProxy, const std::string& proxy) override;
    InetHandle Connect(InetHandle session, const std::string& host, uint16_t port,
                       const std::string& userName, const std::string& password) override;
    InetHandle OpenRequest(InetHandle connection, const std::string& verb, const std::string& path,
                           const std::string& version, const std::string& referrer,
                           const std::vector<std::string>& acceptTypes, bool reload) override;
    bool SendRequest(InetHandle request, const std::string& headers,
                     const std::string& body) override;
    bool SetTimeouts(InetHandle session, uint32_t connectMs, uint32_t sendMs,
                     uint32_t receiveMs) override;
    InetHandle OpenUrl(InetHandle session, const std::string& url, uint32_t flags) override;
    bool QueryStatusCode(InetHandle request, uint32_t& status) override;
    bool QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) override;
    bool QueryLocation(InetHandle request, uint32_t bufferSize, std::string& value) override;
    bool QueryDataAvailable(InetHandle request, uint32_t& bytes) override;
    bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) override;
    void Close(InetHandle handle) override;

    std::recursive_mutex lock;

  private:
    struct State {
        std::string proxy; // session: the proxy text
        const Response* response = nullptr;
        uint64_t pos = 0;
        uint64_t available = 0; // bytes the last QueryDataAvailable promised
        int reads = 0;
        std::string host, user, password;
        uint16_t port = 0;
    };

    // Waits, without holding `lock`, until Release().
    void WaitForRelease();
    // Copies at most `n` body bytes of `s` from its position; an endless body repeats.
    size_t Take(State& s, uint8_t* buffer, size_t n);
    // Body bytes that can be read at once from `s` (0 at its end).
    uint64_t Left(const State& s) const;

    std::mutex releaseLock_;
    std::condition_variable releaseChanged_;
    bool released_ = false;

    std::map<InetHandle, State> handles_;
    InetHandle next_ = 1;
};
