#include "HttpSyncGet.h"
#include "UpdateTestSupport.h"

#include <chrono>
#include <functional>

namespace {

class HttpTest : public PortsFixture {};

TEST(SplitUrl, SchemeHostAndPath) {
    const struct {
        const char* url;
        const char* host;
        const char* path;
    } cases[] = {{"http://www.example.com/", "www.example.com", "/"},
                 {"HTTP://Host/a/b?c", "Host", "/a/b?c"},
                 {"hTtP://h:8080/x", "h:8080", "/x"},
                 {"host/p", "host", "/p"},
                 {"https://h/p", "https:", "//h/p"},
                 {"http://nopath", "nopath", ""}};
    for (const auto& c : cases) {
        std::string host, path;
        SplitUrl(c.url, host, path);
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(path, c.path) << c.url;
    }
}

TEST_F(HttpTest, FetchViaProxySendsTheSpecifiedRequest) {
    internet.proxies["127.0.0.1:8080"].body = "<html>page</html>";
    THTTPSyncGet http;
    EXPECT_EQ(http.Agent, "Brightel THTTPSyncGet");
    EXPECT_EQ(http.AcceptTypes, "*/*");
    http.Agent = "127.0.0.1";
    http.Port = 8080;
    http.UserName = "u";
    http.Password = "p";
    http.Referer = "http://elsewhere/";
    http.URL = "HTTP://www.example.com/";
    EXPECT_EQ(http.FetchViaProxy(), "<html>page</html>");

    ASSERT_EQ(internet.opens.size(), 1u);
    EXPECT_FALSE(internet.opens[0].hasAgent); // no user-agent text
    EXPECT_TRUE(internet.opens[0].viaProxy);
    EXPECT_EQ(internet.opens[0].proxy, "127.0.0.1:8080");
    ASSERT_EQ(internet.requests.size(), 1u);
    const auto& r = internet.requests[0];
    EXPECT_EQ(r.host, "www.example.com");
    EXPECT_EQ(r.port, 80);
    EXPECT_EQ(r.user, "u");
    EXPECT_EQ(r.password, "p");
    EXPECT_EQ(r.verb, "GET");
    EXPECT_EQ(r.path, "/");
    EXPECT_EQ(r.version, "HTTP/1.0");
    EXPECT_EQ(r.referrer, "");
    EXPECT_EQ(http.Referer, "");
    EXPECT_EQ(r.acceptTypes, std::vector<std::string>{"text/*"});
    EXPECT_TRUE(r.reload);
    ASSERT_EQ(internet.sends.size(), 1u);
    EXPECT_EQ(internet.sends[0].headers, "");
    EXPECT_EQ(internet.sends[0].body, "");
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, FetchViaProxyReadsAboutOneKilobyte) {
    const struct {
        uint32_t chunk;
        size_t body, expected;
    } cases[] = {{1000, 2500, 1000}, {999, 2500, 1998}, {0, 2500, 1000},
                 {400, 2500, 1200},  {999, 500, 500},   {300, 0, 0}};
    for (const auto& c : cases) {
        FakeInternet::Response page;
        page.body = std::string(c.body, 'x');
        page.chunk = c.chunk;
        internet.proxies["h:1"] = page;
        internet.readSizes.clear();
        THTTPSyncGet http;
        http.Agent = "h";
        http.Port = 1;
        http.URL = "http://w/";
        EXPECT_EQ(http.FetchViaProxy().size(), c.expected) << c.chunk << "/" << c.body;
        for (uint32_t size : internet.readSizes)
            EXPECT_EQ(size, 1000u);
    }
}

TEST_F(HttpTest, FetchWithoutAgentUsesConfiguredAccess) {
    THTTPSyncGet http;
    http.Agent = "";
    http.URL = "http://w/";
    EXPECT_EQ(http.FetchViaProxy(), ""); // no proxy "" is scripted: the connect fails
    ASSERT_EQ(internet.opens.size(), 1u);
    EXPECT_FALSE(internet.opens[0].viaProxy);
    EXPECT_FALSE(internet.opens[0].hasAgent);
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, FetchFailuresGiveEmptyTextAndCloseHandles) {
    THTTPSyncGet http;
    http.Agent = "h";
    http.Port = 1;
    http.URL = "http://w"; // no path after the host: nothing is sent
    EXPECT_EQ(http.FetchViaProxy(), "");
    EXPECT_TRUE(internet.opens.empty());
    internet.failOpen = true;
    http.URL = "http://w/";
    EXPECT_EQ(http.FetchViaProxy(), "");
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, SaveUrlToFileStreamsTheBody) {
    FakeInternet::Response r;
    r.body = std::string(3000, 'b');
    internet.urls["http://s/f.bin"] = r;
    THTTPSyncGet http;
    http.URL = "http://s/f.bin";
    http.FileName = "f.bin";
    ASSERT_TRUE(http.SaveUrlToFile());
    EXPECT_EQ(files.Text("f.bin"), r.body);
    ASSERT_EQ(internet.opens.size(), 1u);
    EXPECT_TRUE(internet.opens[0].hasAgent);
    EXPECT_EQ(internet.opens[0].agent, "Brightel THTTPSyncGet");
    EXPECT_FALSE(internet.opens[0].viaProxy);
    // Blocks of 1025 bytes, the last one no larger than what is left of the body.
    const std::vector<uint32_t> blocks = {1025, 1025, 950};
    EXPECT_EQ(internet.readSizes, blocks);
    // InternetOpenUrlA has sent the request; without form data it is not sent again.
    EXPECT_TRUE(internet.sends.empty());
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, SaveUrlToFileNeedsADecimalContentLength) {
    files.Put("keep.bin", "old");
    const struct {
        bool has;
        const char* value;
    } cases[] = {{false, ""}, {true, "abc"}, {true, "12x"}};
    for (const auto& c : cases) {
        FakeInternet::Response r;
        r.body = "new";
        r.hasContentLength = c.has;
        r.contentLength = c.value;
        internet.urls["http://s/k"] = r;
        THTTPSyncGet http;
        http.URL = "http://s/k";
        http.FileName = "keep.bin";
        EXPECT_FALSE(http.SaveUrlToFile()) << c.value;
        EXPECT_EQ(files.Text("keep.bin"), "old") << c.value;
    }
    // A refused download's thread closes its handles on its own time.
    EXPECT_TRUE(WaitForDownloadThreads(5000));
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, SaveUrlToFileAcceptsAShortBodyAndReportsWriteFailures) {
    FakeInternet::Response r;
    r.body = "abc";
    r.contentLength = "10"; // announced more than arrives: the caller checks the size
    internet.urls["http://s/short"] = r;
    THTTPSyncGet http;
    http.URL = "http://s/short";
    http.FileName = "short.bin";
    EXPECT_TRUE(http.SaveUrlToFile());
    EXPECT_EQ(files.Text("short.bin"), "abc");

    http.FileName = "missing\\folder\\x.bin";
    EXPECT_FALSE(http.SaveUrlToFile());
    files.failWrite.insert("w.bin");
    http.FileName = "w.bin";
    EXPECT_FALSE(http.SaveUrlToFile());
    http.URL = "http://s/unknown";
    EXPECT_FALSE(http.SaveUrlToFile());
    EXPECT_TRUE(WaitForDownloadThreads(5000));
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, PostQueryIsSentAsForm) {
    internet.urls["http://s/p"].body = "ok";
    THTTPSyncGet http;
    http.URL = "http://s/p";
    http.FileName = "p.out";
    http.PostQuery = "a=1";
    ASSERT_TRUE(http.SaveUrlToFile());
    ASSERT_EQ(internet.sends.size(), 1u);
    EXPECT_EQ(internet.sends[0].headers, "Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(internet.sends[0].body, "a=1");
}

TEST_F(HttpTest, ProbeFetchAndPageHasWord) {
    internet.proxies["10.0.0.1:3128"].body = "<title>Example Domain</title>";
    THttpDownLoad probe;
    EXPECT_FALSE(probe.PageHasWord("Example"));
    ASSERT_TRUE(probe.ProbeFetch("10.0.0.1", 3128, "http://www.example.com/"));
    EXPECT_TRUE(probe.PageHasWord("Example Domain"));
    EXPECT_FALSE(probe.PageHasWord("example domain")); // exact case
    EXPECT_EQ(internet.opens.back().proxy, "10.0.0.1:3128");
    EXPECT_FALSE(probe.ProbeFetch("10.0.0.2", 3128, "http://www.example.com/"));
    EXPECT_FALSE(probe.PageHasWord("Example")); // the empty page replaced the last one
}

} // namespace

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ResolveRedirect, AbsoluteRootRelativeAndRefusedSchemes) {
    const struct {
        const char* from;
        const char* location;
        const char* to;
    } cases[] = {
        {"http://s/u/a.dll", "http://t/b.dll", "http://t/b.dll"},
        {"http://s/u/a.dll", "HTTPS://t/b.dll", "HTTPS://t/b.dll"},
        {"http://s:81/u/a.dll", "/x/b.dll", "http://s:81/x/b.dll"},
        {"http://s/u/a.dll?q=1", "b.dll", "http://s/u/b.dll"},
        {"http://s/u/a.dll", "../b.dll", "http://s/u/../b.dll"},
        {"http://s", "b.dll", "http://s/b.dll"},
        {"http://s/u/a.dll", "//t/b.dll", "http://t/b.dll"},
        {"http://s/u/a.dll", "b.dll?x=a:b", "http://s/u/b.dll?x=a:b"},
        // other schemes, and text WinINet would read otherwise
        {"http://s/u/a.dll", "ftp://t/b.dll", ""},
        {"http://s/u/a.dll", "file:///c:/windows/b.dll", ""},
        {"http://s/u/a.dll", "c:\\b.dll", ""},
        {"http://s/u/a.dll", "http://t/b.dll\r\nX: y", ""},
        {"http://s/u/a.dll", "http://t/b c", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveRedirect(c.from, c.location), c.to) << c.from << " + " << c.location;
}

TEST_F(HttpTest, DownloadsAreNeverCachedAndCarryTheirTimeouts) {
    internet.urls["http://s/f"].body = "x";
    THTTPSyncGet http;
    http.URL = "http://s/f";
    http.FileName = "f";
    http.IoTimeoutMs = 7000;
    ASSERT_TRUE(http.SaveUrlToFile());
    ASSERT_EQ(internet.openFlags.size(), 1u);
    const uint32_t flags = internet.openFlags[0];
    for (uint32_t flag :
         {kInetFlagNoCacheWrite, kInetFlagReload, kInetFlagPragmaNoCache, kInetFlagNoAutoRedirect})
        EXPECT_TRUE(flags & flag) << std::hex << flag;
    const std::vector<uint32_t> timeouts = {7000, 7000, 7000};
    EXPECT_EQ(internet.timeouts, timeouts);
}

// Each hostile answer ends the download by its bounds, with nothing over the
// bound written.
TEST_F(HttpTest, HostileAnswersEndWithinTheirBounds) {
    enum Outcome { Refused, Written };
    struct Case {
        const char* name;
        std::function<void(FakeInternet::Response&)> answer;
        Outcome outcome;
        size_t written; // bytes in the file afterwards (when written)
        bool waitsForTheLimit;
    };
    const std::string body(3000, 'b');
    const Case cases[] = {
        {"announced beyond the limit", [](FakeInternet::Response& r) { r.contentLength = "5000"; },
         Refused, 0, false},
        {"endless, announced huge",
         [](FakeInternet::Response& r) {
             r.endless = true;
             r.contentLength = "400000000";
         },
         Refused, 0, false},
        {"negative length", [](FakeInternet::Response& r) { r.contentLength = "-1"; }, Refused, 0,
         false},
        {"longer than announced",
         [](FakeInternet::Response& r) {
             r.endless = true;
             r.contentLength = "2500";
         },
         Written, 2500, false},
        {"not found", [](FakeInternet::Response& r) { r.status = 404; }, Refused, 0, false},
        {"server error", [](FakeInternet::Response& r) { r.status = 500; }, Refused, 0, false},
        {"silent", [](FakeInternet::Response& r) { r.silent = true; }, Refused, 0, true},
        {"stalls in the body", [](FakeInternet::Response& r) { r.stallAfter = 1000; }, Refused, 0,
         true},
        {"drips", [](FakeInternet::Response& r) { r.dripMs = 20; }, Refused, 0, true},
    };
    for (const Case& c : cases) {
        internet.urls.clear();
        internet.Rearm();
        files.files.clear();
        FakeInternet::Response& r = internet.urls["http://s/f"];
        r.body = body;
        c.answer(r);
        internet.bytesServed = 0;
        THTTPSyncGet http;
        http.URL = "http://s/f";
        http.FileName = "f";
        http.MaxBytes = 4000;
        http.TimeLimitMs = 400;
        const Clock::time_point start = Clock::now();
        const bool ok = http.SaveUrlToFile();
        const int64_t took = MsSince(start);
        EXPECT_EQ(ok, c.outcome == Written) << c.name;
        EXPECT_LT(took, 400 + 300) << c.name; // the limit holds (with scheduling slack)
        if (c.waitsForTheLimit)
            EXPECT_GE(took, 400 - 5) << c.name;
        if (c.outcome == Written)
            EXPECT_EQ(files.Text("f").size(), c.written) << c.name;
        else
            EXPECT_LE(files.Has("f") ? files.Text("f").size() : 0, http.MaxBytes) << c.name;
        // A download given up on may still wait in the hostile call; it ends (and
        // closes its handles) once the call returns.
        internet.Release();
        ASSERT_TRUE(WaitForDownloadThreads(5000)) << c.name;
        EXPECT_LE(internet.bytesServed, uint64_t(http.MaxBytes)) << c.name;
        EXPECT_EQ(internet.openHandles, 0) << c.name;
    }
}

TEST_F(HttpTest, SilentServerReleasesTheCallerWhileTheCallStillWaits) {
    internet.urls["http://s/f"].silent = true;
    THTTPSyncGet http;
    http.URL = "http://s/f";
    http.FileName = "f";
    http.TimeLimitMs = 200;
    EXPECT_FALSE(http.SaveUrlToFile());
    // The caller has its answer; the blocked call is still inside the service.
    EXPECT_EQ(internet.BlockedCalls(), 1);
    EXPECT_FALSE(files.Has("f"));
    internet.Release();
    EXPECT_TRUE(WaitForDownloadThreads(5000));
    EXPECT_FALSE(files.Has("f")); // nothing is written once the caller has gone
}

TEST_F(HttpTest, RedirectsAreFollowedCountedAndKeptToHttp) {
    auto redirect = [&](const std::string& from, const std::string& to) {
        FakeInternet::Response& r = internet.urls[from];
        r.status = 302;
        r.location = to;
        r.body = "moved";
    };
    internet.urls["http://t/final"].body = "the file";
    redirect("http://s/one", "http://t/final");
    redirect("http://s/rel", "/one");
    redirect("http://s/self", "http://s/self");
    redirect("http://s/ftp", "ftp://t/final");
    redirect("http://s/noloc", "");
    internet.urls["http://s/noloc"].location.clear();
    for (int i = 0; i < 6; ++i)
        redirect("http://s/chain" + std::to_string(i), "http://s/chain" + std::to_string(i + 1));
    redirect("http://s/chain6", "http://t/final");

    const struct {
        const char* url;
        bool ok;
        size_t opened; // OpenUrl calls
    } cases[] = {{"http://s/one", true, 2},    {"http://s/rel", true, 3},
                 {"http://s/self", false, 6},  {"http://s/ftp", false, 1},
                 {"http://s/noloc", false, 1}, {"http://s/chain2", true, 6},
                 {"http://s/chain1", false, 6}};
    for (const auto& c : cases) {
        internet.openedUrls.clear();
        files.files.clear();
        THTTPSyncGet http;
        http.URL = c.url;
        http.FileName = "f";
        http.MaxRedirects = 5;
        EXPECT_EQ(http.SaveUrlToFile(), c.ok) << c.url;
        EXPECT_TRUE(WaitForDownloadThreads(5000));
        EXPECT_EQ(internet.openedUrls.size(), c.opened) << c.url;
        EXPECT_EQ(files.Has("f"), c.ok) << c.url;
        if (c.ok)
            EXPECT_EQ(files.Text("f"), "the file") << c.url;
        EXPECT_EQ(internet.openHandles, 0) << c.url;
    }
}

} // namespace
