#include "HttpSyncGet.h"

#include "FileStore.h"
#include "InternetSession.h"
#include "MyUtils.h"
#include "Ports.h"
#include "ThreadBase.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint32_t kProxyChunk = 1000;    // the probe reads about the first kilobyte
constexpr uint32_t kDownloadChunk = 1025; // download streaming block
constexpr uint32_t kHeaderBuffer = 1024;
const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";
static_assert(sizeof(kFormContentType) - 1 == 47, "the header is sent with its exact length");
// Nothing a download fetches may stay in the service's cache (a refused body would
// otherwise be kept there whole), and redirects are followed here, counted.
constexpr uint32_t kDownloadFlags = kInetFlagReload | kInetFlagNoCacheWrite |
                                    kInetFlagPragmaNoCache | kInetFlagNoAutoRedirect |
                                    kInetFlagNoCookies | kInetFlagNoUi;
// Bytes a download thread may hold for the caller before it waits for the writes.
constexpr size_t kMaxQueuedBytes = 64 * 1024;

// Closes the handles opened so far, innermost first.
class HandleStack {
  public:
    explicit HandleStack(InternetSession& session) : session_(session) {}
    ~HandleStack() {
        for (auto it = handles_.rbegin(); it != handles_.rend(); ++it)
            session_.Close(*it);
    }
    InetHandle Push(InetHandle handle) {
        if (handle)
            handles_.push_back(handle);
        return handle;
    }
    void CloseLast() {
        if (handles_.empty())
            return;
        session_.Close(handles_.back());
        handles_.pop_back();
    }

  private:
    InternetSession& session_;
    std::vector<InetHandle> handles_;
};

} // namespace

void SplitUrl(const std::string& url, std::string& host, std::string& path) {
    std::string rest = url;
    if (LowerCase(rest.substr(0, 7)) == "http://")
        rest = rest.substr(7);
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
    if (path.empty())
        return result;

    InternetSession& inet = *Ports().internet;
    HandleStack handles(inet);
    const bool viaProxy = !Agent.empty();
    const InetHandle session = handles.Push(
        inet.Open(nullptr, viaProxy, viaProxy ? Agent + ":" + std::to_string(Port) : ""));
    if (!session)
        return result;
    const InetHandle connection =
        handles.Push(inet.Connect(session, host, kHttpPort, UserName, Password));
    if (!connection)
        return result;
    Referer.clear();
    const InetHandle request = handles.Push(
        inet.OpenRequest(connection, "GET", path, "HTTP/1.0", Referer, {"text/*"}, true));
    if (!request)
        return result;
    if (!inet.SendRequest(request, "", ""))
        return result;

    uint8_t chunk[kProxyChunk];
    uint32_t got = 0;
    while (result.size() < kProxyChunk && inet.Read(request, chunk, kProxyChunk, got) && got > 0)
        result.append(reinterpret_cast<const char*>(chunk), got > kProxyChunk ? kProxyChunk : got);
    return result;
}

namespace {

// One download, shared by the caller of SaveUrlToFile and the thread that talks to
// the internet client service. The caller writes the file and keeps the time limit;
// the thread only reads the body into a bounded queue. A call into the service can
// block beyond any time-out (a server that sends one byte now and then restarts the
// receive time-out; a blocked call is not safely ended by closing its handle from
// another thread), so a caller that gives up just marks the download abandoned and
// leaves: the thread finishes its current call, closes its own handles and ends.
struct Download {
    enum class State { Opening, Body, Ended, Failed };

    // Copies of the caller's settings: the caller may be gone before the thread ends.
    std::string url, agent, postQuery;
    uint32_t maxBytes = 0, ioTimeoutMs = 0;
    int maxRedirects = 0;

    std::mutex lock;
    std::condition_variable changed;
    State state = State::Opening;
    std::deque<std::vector<uint8_t>> chunks;
    size_t queued = 0;
    bool abandoned = false;
    bool finished = false; // the thread has closed its handles

    void Set(State s) {
        std::lock_guard<std::mutex> hold(lock);
        state = s;
        changed.notify_all();
    }
    bool Abandoned() {
        std::lock_guard<std::mutex> hold(lock);
        return abandoned;
    }
};

bool IsRedirect(uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Opens the URL, following redirects; on success `request` is positioned at a body
// of `length` bytes.
bool OpenBody(Download& d, InternetSession& inet, HandleStack& handles, InetHandle& request,
              uint32_t& length) {
    const InetHandle session =
        handles.Push(inet.Open(d.agent.empty() ? nullptr : &d.agent, false, ""));
    if (!session)
        return false;
    if (d.ioTimeoutMs)
        inet.SetTimeouts(session, d.ioTimeoutMs, d.ioTimeoutMs, d.ioTimeoutMs);
    std::string url = d.url;
    for (int redirects = 0;; ++redirects) {
        if (d.Abandoned())
            return false;
        request = handles.Push(inet.OpenUrl(session, url, kDownloadFlags));
        if (!request)
            return false;
        // InternetOpenUrlA has sent the request already. Form data goes in a second
        // send (its outcome is not examined: the answer's status decides); without
        // any, sending again would only make the service read the first answer's
        // body to its end, without bound, before it asks again.
        if (!d.postQuery.empty())
            inet.SendRequest(request, kFormContentType, d.postQuery);
        uint32_t status = 0;
        if (!inet.QueryStatusCode(request, status))
            return false;
        if (!IsRedirect(status)) {
            if (status != 200)
                return false;
            break;
        }
        std::string location;
        if (redirects >= d.maxRedirects || !inet.QueryLocation(request, kHeaderBuffer, location))
            return false;
        url = ResolveRedirect(url, location);
        if (url.empty())
            return false;
        handles.CloseLast();
    }
    std::string text;
    int32_t announced = 0;
    if (!inet.QueryContentLength(request, kHeaderBuffer, text) || !TryStrToInt(text, announced) ||
        announced < 0 || uint32_t(announced) > d.maxBytes)
        return false;
    length = uint32_t(announced);
    return true;
}

void RunDownload(Download& d) {
    InternetSession& inet = *Ports().internet;
    HandleStack handles(inet);
    InetHandle request = 0;
    uint32_t remaining = 0;
    if (!OpenBody(d, inet, handles, request, remaining)) {
        d.Set(Download::State::Failed);
        return;
    }
    d.Set(Download::State::Body);
    uint8_t chunk[kDownloadChunk];
    while (remaining > 0 && !d.Abandoned()) {
        // Only what has arrived is read, so a read never waits for a slow server
        // to fill the block, and nothing past the announced length is asked for.
        uint32_t available = 0, got = 0;
        if (!inet.QueryDataAvailable(request, available) || available == 0)
            break;
        const uint32_t want = std::min({available, kDownloadChunk, remaining});
        if (!inet.Read(request, chunk, want, got) || got == 0)
            break;
        got = std::min(got, want);
        remaining -= got;
        std::unique_lock<std::mutex> hold(d.lock);
        d.changed.wait(hold, [&] { return d.abandoned || d.queued < kMaxQueuedBytes; });
        if (d.abandoned)
            break;
        d.chunks.emplace_back(chunk, chunk + got);
        d.queued += got;
        d.changed.notify_all();
    }
    d.Set(Download::State::Ended);
}

std::mutex g_threadsLock;
std::condition_variable g_threadsEnded;
int g_threads = 0;

class DownloadThread : public TThread {
  public:
    // Starts a self-freeing thread for `download`; false when none could be started.
    static bool Begin(std::shared_ptr<Download> download) {
        auto* thread = new DownloadThread(std::move(download));
        try {
            thread->Start();
            return true;
        } catch (...) {
            thread->Counted(false);
            delete thread;
            return false;
        }
    }

  protected:
    void Execute() override {
        try {
            RunDownload(*download_);
        } catch (...) {
            download_->Set(Download::State::Failed);
        }
        {
            std::lock_guard<std::mutex> hold(download_->lock);
            download_->finished = true;
            download_->changed.notify_all();
        }
        download_.reset();
        Counted(false);
    }

  private:
    explicit DownloadThread(std::shared_ptr<Download> download) : download_(std::move(download)) {
        SetFreeOnTerminate(true);
        Counted(true);
    }
    static void Counted(bool running) {
        std::lock_guard<std::mutex> hold(g_threadsLock);
        g_threads += running ? 1 : -1;
        g_threadsEnded.notify_all();
    }

    std::shared_ptr<Download> download_;
};

} // namespace

bool WaitForDownloadThreads(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(g_threadsLock);
    return g_threadsEnded.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                   [] { return g_threads == 0; });
}

std::string ResolveRedirect(const std::string& from, const std::string& location) {
    for (const char c : location)
        if (static_cast<unsigned char>(c) <= 0x20)
            return {};
    const std::string lower = LowerCase(location);
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0)
        return location;
    const size_t schemeEnd = from.find("://");
    if (schemeEnd == std::string::npos)
        return {};
    if (location.rfind("//", 0) == 0)
        return from.substr(0, schemeEnd + 1) + location;
    // Any other scheme ("ftp:", "file:") is refused.
    const size_t colon = location.find(':');
    if (colon != std::string::npos && location.find_first_of("/?#") > colon)
        return {};
    const size_t hostEnd = from.find_first_of("/?#", schemeEnd + 3);
    const std::string origin = from.substr(0, hostEnd);
    if (location.empty())
        return from;
    if (location[0] == '/')
        return origin + location;
    // Relative to the folder of the current path, without its query.
    const std::string path =
        hostEnd == std::string::npos
            ? "/"
            : from.substr(hostEnd, from.find_first_of("?#", hostEnd) - hostEnd);
    const size_t slash = path.rfind('/');
    return origin + (slash == std::string::npos ? "/" : path.substr(0, slash + 1)) + location;
}

bool THTTPSyncGet::SaveUrlToFile() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeLimitMs);
    auto d = std::make_shared<Download>();
    d->url = URL;
    d->agent = Agent;
    d->postQuery = PostQuery;
    d->maxBytes = MaxBytes;
    d->ioTimeoutMs = IoTimeoutMs;
    d->maxRedirects = MaxRedirects;
    if (!DownloadThread::Begin(d))
        return false;

    std::unique_lock<std::mutex> hold(d->lock);
    auto wait = [&](const std::function<bool()>& ready) {
        if (TimeLimitMs == 0) {
            d->changed.wait(hold, ready);
            return true;
        }
        return d->changed.wait_until(hold, deadline, ready);
    };
    auto giveUp = [&] {
        d->abandoned = true;
        d->changed.notify_all();
    };
    // A refused or failed transfer is not waited for: closing a request whose body
    // was not read makes the service read the rest of it first (Wine's WinINet
    // does, for as long as the bytes come at once), which the thread does on its
    // own time. One that ended well has closed its handles when this returns.
    if (!wait([&] { return d->state != Download::State::Opening; })) {
        giveUp();
        return false;
    }
    if (d->state == Download::State::Failed)
        return false;

    hold.unlock();
    auto file = Ports().files->Create(FileName);
    hold.lock();
    if (!file) {
        giveUp();
        return false;
    }
    bool ok = true;
    uint64_t written = 0;
    for (;;) {
        if (!wait([&] { return !d->chunks.empty() || d->state == Download::State::Ended; })) {
            ok = false;
            break;
        }
        if (d->chunks.empty())
            break; // the body has ended and all of it is written
        std::deque<std::vector<uint8_t>> batch;
        batch.swap(d->chunks);
        d->queued = 0;
        d->changed.notify_all();
        hold.unlock();
        for (const std::vector<uint8_t>& c : batch) {
            written += c.size();
            ok = ok && written <= MaxBytes && file->Write(c.data(), uint32_t(c.size()));
        }
        hold.lock();
        if (!ok)
            break;
    }
    if (!ok)
        giveUp();
    hold.unlock();
    const bool closed = file->Close();
    hold.lock();
    if (!ok || !closed)
        return false;
    if (!wait([&] { return d->finished; })) {
        giveUp();
        return false;
    }
    return true;
}

THttpDownLoad::THttpDownLoad() : http_(std::make_unique<THTTPSyncGet>(nullptr)) {}

THttpDownLoad::~THttpDownLoad() = default;

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
