#include "HttpSyncGet.h"
#include "UpdateTestSupport.h"

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
    EXPECT_FALSE(internet.opens[0].hasAgent);  // no user-agent text
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
        for (uint32_t size : internet.readSizes) EXPECT_EQ(size, 1000u);
    }
}

TEST_F(HttpTest, FetchWithoutAgentUsesConfiguredAccess) {
    THTTPSyncGet http;
    http.Agent = "";
    http.URL = "http://w/";
    EXPECT_EQ(http.FetchViaProxy(), "");  // no proxy "" is scripted: the connect fails
    ASSERT_EQ(internet.opens.size(), 1u);
    EXPECT_FALSE(internet.opens[0].viaProxy);
    EXPECT_FALSE(internet.opens[0].hasAgent);
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, FetchFailuresGiveEmptyTextAndCloseHandles) {
    THTTPSyncGet http;
    http.Agent = "h";
    http.Port = 1;
    http.URL = "http://w";  // no path after the host: nothing is sent
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
    ASSERT_FALSE(internet.readSizes.empty());
    for (uint32_t size : internet.readSizes) EXPECT_EQ(size, 1025u);
    ASSERT_EQ(internet.sends.size(), 1u);
    EXPECT_EQ(internet.sends[0].headers, "");
    EXPECT_EQ(internet.sends[0].body, "");
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
    EXPECT_EQ(internet.openHandles, 0);
}

TEST_F(HttpTest, SaveUrlToFileAcceptsAShortBodyAndReportsWriteFailures) {
    FakeInternet::Response r;
    r.body = "abc";
    r.contentLength = "10";  // announced more than arrives: the caller checks the size
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
    EXPECT_FALSE(probe.PageHasWord("example domain"));  // exact case
    EXPECT_EQ(internet.opens.back().proxy, "10.0.0.1:3128");
    EXPECT_FALSE(probe.ProbeFetch("10.0.0.2", 3128, "http://www.example.com/"));
    EXPECT_FALSE(probe.PageHasWord("Example"));  // the empty page replaced the last one
}

}  // namespace
