// A small synchronous HTTP client over the internet client service: the start of
// a page through a given HTTP proxy (the local proxy probe), and a URL downloaded
// into a file (the self-update).
#pragma once

#include <cstdint>
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
    // the response carried a decimal Content-Length and the body was written; the
    // body may be shorter than announced (callers check sizes and checksums).
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
};

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
    THTTPSyncGet* http_;
    std::string page_;
};
