#include "HttpSyncGet.h"

#include "FileStore.h"
#include "InternetSession.h"
#include "MyUtils.h"
#include "Ports.h"

#include <vector>

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint32_t kProxyChunk = 1000;     // the probe reads about the first kilobyte
constexpr uint32_t kDownloadChunk = 1025;  // download streaming block
constexpr uint32_t kHeaderBuffer = 1024;
const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";
static_assert(sizeof(kFormContentType) - 1 == 47, "the header is sent with its exact length");

// Closes the handles opened so far, innermost first.
class HandleStack {
public:
    explicit HandleStack(InternetSession& session) : session_(session) {}
    ~HandleStack() {
        for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) session_.Close(*it);
    }
    InetHandle Push(InetHandle handle) {
        if (handle) handles_.push_back(handle);
        return handle;
    }

private:
    InternetSession& session_;
    std::vector<InetHandle> handles_;
};

}  // namespace

void SplitUrl(const std::string& url, std::string& host, std::string& path) {
    std::string rest = url;
    if (LowerCase(rest.substr(0, 7)) == "http://") rest = rest.substr(7);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        host = rest;
        path.clear();
    } else {
        host = rest.substr(0, slash);
        path = rest.substr(slash);
    }
}

THTTPSyncGet::THTTPSyncGet(void*) {}

std::string THTTPSyncGet::FetchViaProxy() {
    std::string result;
    std::string host, path;
    SplitUrl(URL, host, path);
    // A URL without a path cannot be requested from a proxy; nothing is sent.
    if (path.empty()) return result;

    InternetSession& inet = *Ports().internet;
    HandleStack handles(inet);
    const bool viaProxy = !Agent.empty();
    const InetHandle session =
        handles.Push(inet.Open(nullptr, viaProxy, viaProxy ? Agent + ":" + std::to_string(Port) : ""));
    if (!session) return result;
    const InetHandle connection =
        handles.Push(inet.Connect(session, host, kHttpPort, UserName, Password));
    if (!connection) return result;
    Referer.clear();
    const InetHandle request = handles.Push(
        inet.OpenRequest(connection, "GET", path, "HTTP/1.0", Referer, {"text/*"}, true));
    if (!request) return result;
    if (!inet.SendRequest(request, "", "")) return result;

    uint8_t chunk[kProxyChunk];
    uint32_t got = 0;
    while (result.size() < kProxyChunk && inet.Read(request, chunk, kProxyChunk, got) && got > 0)
        result.append(reinterpret_cast<const char*>(chunk), got > kProxyChunk ? kProxyChunk : got);
    return result;
}

bool THTTPSyncGet::SaveUrlToFile() {
    InternetSession& inet = *Ports().internet;
    HandleStack handles(inet);
    const InetHandle session = handles.Push(inet.Open(Agent.empty() ? nullptr : &Agent, false, ""));
    if (!session) return false;
    const InetHandle request = handles.Push(inet.OpenUrl(session, URL));
    if (!request) return false;
    // The outcome of this send is not examined: the Content-Length query decides.
    if (PostQuery.empty())
        inet.SendRequest(request, "", "");
    else
        inet.SendRequest(request, kFormContentType, PostQuery);

    std::string length;
    int32_t announced = 0;
    if (!inet.QueryContentLength(request, kHeaderBuffer, length) || !TryStrToInt(length, announced))
        return false;

    auto file = Ports().files->Create(FileName);
    if (!file) return false;
    uint8_t chunk[kDownloadChunk];
    uint32_t got = 0;
    bool written = true;
    while (written && inet.Read(request, chunk, kDownloadChunk, got) && got > 0)
        written = file->Write(chunk, got > kDownloadChunk ? kDownloadChunk : got);
    const bool closed = file->Close();
    return written && closed;
}

THttpDownLoad::THttpDownLoad() : http_(new THTTPSyncGet(nullptr)) {}

THttpDownLoad::~THttpDownLoad() { delete http_; }

bool THttpDownLoad::ProbeFetch(const std::string& proxyHost, uint16_t proxyPort,
                               const std::string& url) {
    http_->BinaryData = false;
    http_->UseCache = false;
    http_->Agent = proxyHost;
    http_->Port = proxyPort;
    http_->UserName.clear();
    http_->Password.clear();
    http_->URL = url;
    page_ = http_->FetchViaProxy();
    return !page_.empty();
}

bool THttpDownLoad::PageHasWord(const std::string& word) const {
    return !page_.empty() && page_.find(word) != std::string::npos;
}
