// The internet client port on WinINet.
#include "InternetSession.h"
#include "Ports.h"

#include <windows.h>
#include <wininet.h>

namespace {

const char* TextOrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

HINTERNET AsHandle(InetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }
InetHandle FromHandle(HINTERNET handle) { return reinterpret_cast<InetHandle>(handle); }

class WinInternetSession : public InternetSession {
public:
    InetHandle Open(const std::string* agent, bool viaProxy, const std::string& proxy) override {
        return FromHandle(InternetOpenA(agent && !agent->empty() ? agent->c_str() : nullptr,
                                        viaProxy ? INTERNET_OPEN_TYPE_PROXY
                                                 : INTERNET_OPEN_TYPE_PRECONFIG,
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
        for (const std::string& type : acceptTypes) accept.push_back(type.c_str());
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

    InetHandle OpenUrl(InetHandle session, const std::string& url) override {
        return FromHandle(InternetOpenUrlA(AsHandle(session), url.c_str(), nullptr, 0, 0, 0));
    }

    bool QueryContentLength(InetHandle request, uint32_t bufferSize, std::string& value) override {
        std::vector<char> buffer(bufferSize + 1, '\0');
        DWORD length = bufferSize;
        if (!HttpQueryInfoA(AsHandle(request), HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &length,
                            nullptr))
            return false;
        value.assign(buffer.data(), length < bufferSize ? length : bufferSize);
        return true;
    }

    bool Read(InetHandle request, uint8_t* buffer, uint32_t size, uint32_t& read) override {
        DWORD got = 0;
        const BOOL ok = InternetReadFile(AsHandle(request), buffer, size, &got);
        read = ok ? got : 0;
        return ok != FALSE;
    }

    void Close(InetHandle handle) override { InternetCloseHandle(AsHandle(handle)); }
};

WinInternetSession g_internet;

// Installed when the library is loaded; only a pointer is stored, nothing runs.
const bool g_installed = (Ports().internet = &g_internet, true);

}  // namespace
