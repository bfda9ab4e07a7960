// A scripted internet client: a table of URLs with their responses for direct
// downloads, a table of proxies with the page each returns, and a record of every
// call with its arguments.
#pragma once

#include "InternetSession.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class FakeInternet : public InternetSession {
public:
    struct Response {
        std::string body;
        bool hasContentLength = true;
        std::string contentLength;  // empty: the body's size
        uint32_t chunk = 0;          // largest read it returns; 0: no limit
        bool failRead = false;       // reads fail after the first chunk
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
    std::vector<uint32_t> readSizes;
    int openHandles = 0;

    InetHandle Open(const std::string* agent, bool viaProxy, const std::string& proxy) override;
    InetHandle Connect(InetHandle session, const std::string& host, uint16_t port,
                       const std::string& userName, const std::string& password) override;
    InetHandle OpenRequest(InetHandle connection, const std::string& verb, const std::string& path,
                           const std::string& version, const std::string& referrer,
                           const std::vector<std::string>& acceptTypes, bool reload) override;
    bool SendRequest(InetHandle request, const std::string& headers, const std::string& body) override;
    InetHandle OpenUrl(InetHandle session, const std::string& url) override;
    bool QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) override;
    bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) override;
    void Close(InetHandle handle) override;

    std::recursive_mutex lock;

private:
    struct State {
        std::string proxy;  // session: the proxy text
        const Response* response = nullptr;
        size_t pos = 0;
        int reads = 0;
        std::string host, user, password;
        uint16_t port = 0;
    };
    std::map<InetHandle, State> handles_;
    InetHandle next_ = 1;
};
