// Port: the internet client service (WinINet), reduced to the calls the HTTP
// client makes, with the same arguments, so the request details stay visible in
// the portable code and the fakes can record them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using InetHandle = uintptr_t; // 0: the call failed

// Request flags of OpenUrl, with WinINet's values (the Win32 port checks them).
constexpr uint32_t kInetFlagReload = 0x80000000;         // INTERNET_FLAG_RELOAD
constexpr uint32_t kInetFlagNoCacheWrite = 0x04000000;   // INTERNET_FLAG_NO_CACHE_WRITE
constexpr uint32_t kInetFlagNoAutoRedirect = 0x00200000; // INTERNET_FLAG_NO_AUTO_REDIRECT
constexpr uint32_t kInetFlagNoCookies = 0x00080000;      // INTERNET_FLAG_NO_COOKIES
constexpr uint32_t kInetFlagNoUi = 0x00000200;           // INTERNET_FLAG_NO_UI
constexpr uint32_t kInetFlagPragmaNoCache = 0x00000100;  // INTERNET_FLAG_PRAGMA_NOCACHE

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
    // InternetSetOptionA on a session: INTERNET_OPTION_CONNECT_TIMEOUT, _SEND_TIMEOUT
    // and _RECEIVE_TIMEOUT, in milliseconds; the requests made on it inherit them.
    virtual bool SetTimeouts(InetHandle session, uint32_t connectMs, uint32_t sendMs,
                             uint32_t receiveMs) = 0;
    // InternetOpenUrlA with no extra headers and the given kInetFlag* flags.
    virtual InetHandle OpenUrl(InetHandle session, const std::string& url, uint32_t flags) = 0;
    // HttpQueryInfoA(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER).
    virtual bool QueryStatusCode(InetHandle request, uint32_t& status) = 0;
    // HttpQueryInfoA(HTTP_QUERY_CONTENT_LENGTH) into a buffer of `bufferSize` bytes.
    virtual bool QueryContentLength(InetHandle request, uint32_t bufferSize,
                                    std::string& value) = 0;
    // HttpQueryInfoA(HTTP_QUERY_LOCATION) into a buffer of `bufferSize` bytes;
    // false when there is none or it does not fit.
    virtual bool QueryLocation(InetHandle request, uint32_t bufferSize, std::string& value) = 0;
    // InternetQueryDataAvailable: waits until some body bytes can be read without
    // waiting (or the body has ended: `bytes` 0).
    virtual bool QueryDataAvailable(InetHandle request, uint32_t& bytes) = 0;
    // InternetReadFile of at most `size` bytes; `read` 0 at the end of the body. A
    // read waits until `size` bytes have come or the body has ended.
    virtual bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) = 0;
    // InternetCloseHandle. Never called while another thread uses the handle.
    virtual void Close(InetHandle handle) = 0;
};
