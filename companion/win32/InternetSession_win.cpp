// The internet client port on WinINet.
#include "InternetSession.h"
#include "Win32Ports.h"

#include <windows.h>
#include <wininet.h>

namespace {

static_assert(kInetFlagReload == INTERNET_FLAG_RELOAD, "flag values");
static_assert(kInetFlagNoCacheWrite == INTERNET_FLAG_NO_CACHE_WRITE, "flag values");
static_assert(kInetFlagNoAutoRedirect == INTERNET_FLAG_NO_AUTO_REDIRECT, "flag values");
static_assert(kInetFlagNoCookies == INTERNET_FLAG_NO_COOKIES, "flag values");
static_assert(kInetFlagNoUi == INTERNET_FLAG_NO_UI, "flag values");
static_assert(kInetFlagPragmaNoCache == INTERNET_FLAG_PRAGMA_NOCACHE, "flag values");

const char* TextOrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

bool QueryText(HINTERNET request, DWORD info, uint32_t bufferSize, std::string& value) {
    std::vector<char> buffer(bufferSize + 1, '\0');
    DWORD length = bufferSize;
    if (!HttpQueryInfoA(request, info, buffer.data(), &length, nullptr))
        return false;
    value.assign(buffer.data(), length < bufferSize ? length : bufferSize);
    return true;
}

HINTERNET AsHandle(InetHandle handle) {
    return reinterpret_cast<HINTERNET>(handle);
}
InetHandle FromHandle(HINTERNET handle) {
    return reinterpret_cast<InetHandle>(handle);
}

class WinInternetSession : public InternetSession {
  public:
    InetHandle Open(const std::string* agent, bool viaProxy, const std::string& proxy) override {
        return FromHandle(
            InternetOpenA(agent && !agent->empty() ? agent->c_str() : nullptr,
                          viaProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                          viaProxy ? proxy.c_str() : nullptr, nullptr, 0));
    }

    InetHandle Connect(InetHandle session, const std::string& host, uint16_t port,
                       const std::string& userName, const std::string& password) override {
        return FromHandle(InternetConnectA(AsHandle(session), host.c_str(), port,
                                           TextOrNull(userName), TextOrNull(password),
                                           INTERNET_SERVICE_HTTP, 0, 0));
    }

    InetHandle OpenRequest(InetHandle connection, const std::string& verb, const std::string& path,
                           const std::string& version, const std::string& referrer,
                           const std::vector<std::string>& acceptTypes, bool reload) override {
        std::vector<const char*> accept;
        for (const std::string& type : acceptTypes)
            accept.push_back(type.c_str());
        accept.push_back(nullptr);
        return FromHandle(HttpOpenRequestA(AsHandle(connection), verb.c_str(), path.c_str(),
                                           version.c_str(), TextOrNull(referrer), accept.data(),
                                           reload ? INTERNET_FLAG_RELOAD : 0, 0));
    }

    bool SendRequest(InetHandle request, const std::string& headers,
                     const std::string& body) override {
        return HttpSendRequestA(AsHandle(request), TextOrNull(headers), DWORD(headers.size()),
                                body.empty() ? nullptr : const_cast<char*>(body.data()),
                                DWORD(body.size())) != FALSE;
    }

    bool SetTimeouts(InetHandle session, uint32_t connectMs, uint32_t sendMs,
                     uint32_t receiveMs) override {
        DWORD connect = connectMs, send = sendMs, receive = receiveMs;
        const HINTERNET h = AsHandle(session);
        return InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect)) &&
               InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof(send)) &&
               InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
    }

    InetHandle OpenUrl(InetHandle session, const std::string& url, uint32_t flags) override {
        return FromHandle(InternetOpenUrlA(AsHandle(session), url.c_str(), nullptr, 0, flags, 0));
    }

    bool QueryStatusCode(InetHandle request, uint32_t& status) override {
        DWORD value = 0, length = sizeof(value);
        if (!HttpQueryInfoA(AsHandle(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &value, &length, nullptr))
            return false;
        status = value;
        return true;
    }

    bool QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) override {
        return QueryText(AsHandle(request), HTTP_QUERY_CONTENT_LENGTH, bufferSize, value);
    }

    bool QueryLocation(InetHandle request, uint32_t bufferSize, std::string& value) override {
        return QueryText(AsHandle(request), HTTP_QUERY_LOCATION, bufferSize, value);
    }

    bool QueryDataAvailable(InetHandle request, uint32_t& bytes) override {
        DWORD available = 0;
        const BOOL ok = InternetQueryDataAvailable(AsHandle(request), &available, 0, 0);
        bytes = ok ? available : 0;
        return ok != FALSE;
    }

    bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) override {
        DWORD got = 0;
        const BOOL ok = InternetReadFile(AsHandle(request), buffer, size, &got);
        read = ok ? got : 0;
        return ok != FALSE;
    }

    void Close(InetHandle handle) override { InternetCloseHandle(AsHandle(handle)); }
};

} // namespace

std::unique_ptr<InternetSession> CreateWin32InternetSession() {
    return std::make_unique<WinInternetSession>();
}
