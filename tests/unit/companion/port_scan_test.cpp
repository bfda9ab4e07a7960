#include "DetectByPortScan.h"
#include "HostTables.h"
#include "UpdateTestSupport.h"

#include <atomic>

namespace {

uint32_t NetPort(uint16_t port) {
    return uint32_t(uint16_t(port >> 8 | port << 8));
}
uint32_t NetAddr(int a, int b, int c, int d) {
    return uint32_t(a | b << 8 | c << 16 | d << 24);
}

class StubTables : public HostTables {
  public:
    bool ReadAdapters(std::vector<AdapterInfoRow>&) override { return false; }
    bool ReadTcpTable(std::vector<TcpRow>& out) override {
        out = rows;
        return readable;
    }
    bool ReadUdpTable(std::vector<UdpRow>&) override { return false; }
    bool readable = true;
    std::vector<TcpRow> rows;
};

class PortScanTest : public PortsFixture {
  protected:
    void SetUp() override {
        PortsFixture::SetUp();
        Ports().hostTables = &tables;
    }
    // Runs one sweep; returns the found flag, counts the callbacks.
    uint8_t Sweep() {
        PortScanThread probe([this] { ++callbacks; });
        probe.Start();
        probe.WaitFor();
        return probe.FoundFlag();
    }
    std::vector<std::string> ProbedProxies() {
        std::vector<std::string> out;
        for (const auto& o : internet.opens)
            out.push_back(o.proxy);
        return out;
    }
    StubTables tables;
    std::atomic<int> callbacks{0};
};

TEST(ProbeCandidate, RowFilter) {
    const struct {
        uint32_t state, localPort, remotePort;
        bool probed;
    } cases[] = {
        {kTcpStateListen, NetPort(3128), 0, true}, // a listener's remote port means nothing
        {kTcpStateListen, NetPort(3128), NetPort(9), true},
        {kTcpStateEstablished, NetPort(3128), NetPort(50000), true},
        {kTcpStateEstablished, NetPort(3128), 0, false},
        {kTcpStateListen, 0, 0, false},
        {kTcpStateEstablished, 0, NetPort(80), false},
        {1 /* CLOSED */, NetPort(3128), NetPort(80), false},
        {8 /* CLOSE_WAIT */, NetPort(3128), NetPort(80), false},
        // only the low 16 bits are a port
        {kTcpStateListen, 0x10000, 0, false},
        {kTcpStateEstablished, NetPort(3128), 0xABCD0000, false},
    };
    for (const auto& c : cases) {
        TcpRow row;
        row.state = c.state;
        row.localPort = c.localPort;
        row.remotePort = c.remotePort;
        EXPECT_EQ(IsProbeCandidate(row), c.probed)
            << c.state << " " << c.localPort << " " << c.remotePort;
    }
}

TEST_F(PortScanTest, EmptyOrUnreadableTableProbesNothing) {
    EXPECT_EQ(Sweep(), 0);
    tables.readable = false;
    tables.rows.push_back({kTcpStateListen, 0, NetPort(3128), 0, 0});
    EXPECT_EQ(Sweep(), 0);
    EXPECT_TRUE(internet.opens.empty());
    EXPECT_EQ(callbacks, 0);
}

TEST_F(PortScanTest, AnyAddressListenerIsProbedThroughLoopbackAndStopsTheSweep) {
    internet.proxies["127.0.0.1:3128"].body =
        "<!doctype html><html><head><title>Example Domain</title>";
    tables.rows = {{kTcpStateEstablished, NetAddr(10, 1, 2, 3), NetPort(8000), 0, 0},
                   {kTcpStateListen, NetAddr(192, 168, 1, 20), NetPort(8080), 0, 0},
                   {kTcpStateListen, 0, NetPort(3128), 0, 0},
                   {kTcpStateListen, 0, NetPort(9999), 0, 0}};
    EXPECT_EQ(Sweep(), 1);
    EXPECT_EQ(callbacks, 1);
    const std::vector<std::string> expected = {"192.168.1.20:8080", "127.0.0.1:3128"};
    EXPECT_EQ(ProbedProxies(), expected);
    EXPECT_EQ(internet.requests.back().host, "www.example.com");
    EXPECT_EQ(internet.requests.back().path, "/");
}

TEST_F(PortScanTest, WebServerWithoutTheMarkerIsNoProxyAndPortsRepeat) {
    internet.proxies["127.0.0.1:80"].body = "<html><title>It works</title></html>";
    const TcpRow listener{kTcpStateListen, 0, NetPort(80), 0, 0};
    const TcpRow client{kTcpStateEstablished, NetAddr(127, 0, 0, 1), NetPort(80),
                        NetAddr(127, 0, 0, 1), NetPort(41000)};
    tables.rows = {listener, client};
    EXPECT_EQ(Sweep(), 0);
    EXPECT_EQ(callbacks, 0);
    const std::vector<std::string> expected = {"127.0.0.1:80", "127.0.0.1:80"};
    EXPECT_EQ(ProbedProxies(), expected);
}

TEST_F(PortScanTest, ProbeStartsOnceInTheLibraryLifetime) {
    internet.proxies["127.0.0.1:3128"].body = "Example Domain";
    tables.rows = {{kTcpStateListen, 0, NetPort(3128), 0, 0}};
    std::atomic<int> first{0}, second{0};
    PortProbe library; // the probe as the library holds it, made for this case alone
    library.StartOnce([&] { ++first; });
    PortScanThread* probe = library.Current();
    ASSERT_NE(probe, nullptr);
    library.StartOnce([&] { ++second; });
    EXPECT_EQ(library.Current(), probe);
    probe->WaitFor();
    EXPECT_EQ(probe->FoundFlag(), 1);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(internet.opens.size(), 1u);
}

} // namespace
