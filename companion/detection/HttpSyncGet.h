// A small synchronous HTTP client over the internet client service: the start of
// a page through a given HTTP proxy (the local proxy probe), and a URL downloaded
// into a file (the self-update).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class THTTPSyncGet {
  public:
    // The owner is accepted for the component model only; nothing uses it.
    explicit THTTPSyncGet(void* owner = nullptr);

    // The first part (at most 1999 bytes) of the body of a GET for URL through the
    // proxy Agent:Port (or the configured access when Agent is empty); empty on any
    // failure.
    std::string FetchViaProxy();
    // Downloads URL (with PostQuery as form data if set) into FileName. True once
    // the response had status 200 and a decimal Content-Length of at most MaxBytes,
    // and the body was written; the body may be shorter than announced (callers
    // check sizes and checksums), and nothing past the announced length is read.
    // Never cached by the internet client service; redirects followed only to
    // http and https, at most MaxRedirects of them. The transfer runs on a thread
    // of its own, so that the caller gets its answer by TimeLimitMs whatever the
    // server or the service does; a transfer given up on writes nothing more.
    bool SaveUrlToFile();

    std::string AcceptTypes = "*/*";
    std::string Agent = "Brightel THTTPSyncGet";
    bool BinaryData = false;
    std::string URL;
    bool UseCache = false;
    std::string FileName;
    std::string UserName;
    std::string Password;
    std::string PostQuery;
    std::string Referer;
    uint16_t Port = 0;

    // Bounds of SaveUrlToFile.
    uint32_t MaxBytes = UINT32_MAX; // largest body accepted
    uint32_t TimeLimitMs = 0;       // the whole transfer, redirects included; 0: none
    uint32_t IoTimeoutMs = 0;       // connect, send and receive time-outs; 0: the service's
    int MaxRedirects = 5;
};

// The URL that a redirect from `from` to `location` leads to; empty when it is not
// an http or https URL.
std::string ResolveRedirect(const std::string& from, const std::string& location);

// Waits until every download thread has ended (those given up on included); false
// when some still runs after `timeoutMs`. For tests: they must not tear down the
// ports while a thread still uses them.
bool WaitForDownloadThreads(uint32_t timeoutMs);

// Host and path of a URL as the proxy fetch splits it: a leading "http://" in any
// case is dropped, the host ends at the first "/", the path runs from that "/" on.
// Without a "/" after the host the path is empty.
void SplitUrl(const std::string& url, std::string& host, std::string& path);

// The probe's wrapper: one client, the last page fetched.
class THttpDownLoad {
  public:
    THttpDownLoad();
    ~THttpDownLoad();
    THttpDownLoad(const THttpDownLoad&) = delete;
    THttpDownLoad& operator=(const THttpDownLoad&) = delete;

    bool ProbeFetch(const std::string& proxyHost, uint16_t proxyPort, const std::string& url);
    bool PageHasWord(const std::string& word) const;
    const std::string& LastPage() const { return page_; }

  private:
    std::unique_ptr<THTTPSyncGet> http_;
    std::string page_;
};
