// Port: the internet client service (WinINet), reduced to the calls the HTTP
// client makes, with the same arguments, so the request details stay visible in
// the portable code and the fakes can record them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using InetHandle = uintptr_t;  // 0: the call failed

class InternetSession {
public:
    virtual ~InternetSession() = default;
    // InternetOpenA. With `viaProxy` the access type is INTERNET_OPEN_TYPE_PROXY with
    // `proxy` as the proxy text and no bypass list, otherwise the system's configured
    // access. `agent` null means no user-agent text.
    virtual InetHandle Open(const std::string* agent, bool viaProxy, const std::string& proxy) = 0;
    // InternetConnectA for the HTTP service.
    virtual InetHandle Connect(InetHandle session, const std::string& host, uint16_t port,
                               const std::string& userName, const std::string& password) = 0;
    // HttpOpenRequestA; `reload` is INTERNET_FLAG_RELOAD.
    virtual InetHandle OpenRequest(InetHandle connection, const std::string& verb,
                                   const std::string& path, const std::string& version,
                                   const std::string& referrer,
                                   const std::vector<std::string>& acceptTypes, bool reload) = 0;
    // HttpSendRequestA with the given extra headers and body (both may be empty).
    virtual bool SendRequest(InetHandle request, const std::string& headers,
                             const std::string& body) = 0;
    // InternetOpenUrlA with no extra headers and no flags.
    virtual InetHandle OpenUrl(InetHandle session, const std::string& url) = 0;
    // HttpQueryInfoA(HTTP_QUERY_CONTENT_LENGTH) into a buffer of `bufferSize` bytes.
    virtual bool QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) = 0;
    // InternetReadFile of at most `size` bytes; `read` 0 at the end of the body.
    virtual bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) = 0;
    // InternetCloseHandle.
    virtual void Close(InetHandle handle) = 0;
};
