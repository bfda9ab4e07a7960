#include "HostInterface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder : UpdateUrlSink {
    std::vector<std::pair<std::string, int>> calls;
    void OnUpdateUrl(const std::string& text, int length) override {
        calls.push_back({text, length});
    }
};

DetectionFindings NoFindings() {
    DetectionFindings f;
    std::memset(&f, 0, sizeof f);
    return f;
}

struct RequestCase {
    const char* name;
    Bytes message;
    bool accepted;
    uint8_t kind;
    Bytes reply; // FindingsReply against empty findings; empty: not checked
};

class RequestExamples : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestExamples, ParseAndReply) {
    const RequestCase& c = GetParam();
    ParsedRequest parsed;
    ASSERT_EQ(ParseRequest(c.message.data(), c.message.size(), parsed), c.accepted);
    if (!c.accepted)
        return;
    EXPECT_EQ(parsed.request.kind, c.kind);
    if (!c.reply.empty())
        EXPECT_EQ(BuildFindingsReply(parsed.request, NoFindings()), c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    ByteExamples, RequestExamples,
    testing::Values(
        RequestCase{
            "LinkRequest", {1, 10, 21, 0, 27, 0, 28, 0, 29, 0, 32, 0}, true, 2, {2, 2, 20, 0}},
        RequestCase{"TwoBytes", {1, 0}, false, 0, {}},
        RequestCase{"ReplyKind", {2, 2, 21, 0}, false, 0, {}},
        RequestCase{"LengthMismatch", {1, 5, 21, 0}, false, 0, {}},
        RequestCase{"OverrunningItem", {1, 4, 21, 0, 27, 5}, true, 2, {2, 2, 20, 0}},
        RequestCase{"DetectOffOnly", {1, 2, 20, 0}, true, 1, {2, 2, 20, 0}},
        RequestCase{"LastDetectionItemWins", {1, 4, 21, 0, 20, 0}, true, 1, {2, 2, 20, 0}},
        RequestCase{"UnknownHighType", {1, 2, 40, 0}, true, 2, {2, 2, 20, 0}},
        RequestCase{"AddressOnly", {1, 2, 5, 0}, true, 0, {}},
        RequestCase{"LoneTrailingByte", {1, 3, 21, 0, 27}, true, 2, {}}),
    [](const testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(RequestParsing, OverrunKeepsEarlierItems) {
    const Bytes m = {1, 4, 21, 0, 27, 5};
    ParsedRequest parsed;
    ASSERT_TRUE(ParseRequest(m.data(), m.size(), parsed));
    EXPECT_EQ(parsed.request.adapterCount, 1);
    EXPECT_EQ(parsed.request.serviceRunning, 0);
}

TEST(RequestParsing, LastItemDetectOffKeepsEarlierSwitch) {
    const Bytes m = {1, 4, 21, 0, 20, 0};
    ParsedRequest parsed;
    ASSERT_TRUE(ParseRequest(m.data(), m.size(), parsed));
    EXPECT_EQ(parsed.request.adapterCount, 1);
}

TEST(RequestParsing, ThresholdsAreBigEndianAndShortValuesStayInside) {
    struct Case {
        Bytes message;
        int32_t tcp;
        int32_t udp;
    };
    const Case cases[] = {
        {{1, 4, 25, 2, 0, 5}, 5, 0},
        {{1, 4, 26, 2, 1, 44}, 0, 300},
        {{1, 3, 25, 1, 9}, 9, 0}, // one-byte value: the byte itself
        {{1, 2, 26, 0}, 0, 0},    // empty value: no threshold
    };
    for (const Case& c : cases) {
        // Copy into an exact-size heap block so ASan sees any read past the message.
        std::vector<uint8_t> exact(c.message);
        ParsedRequest parsed;
        ASSERT_TRUE(ParseRequest(exact.data(), exact.size(), parsed));
        EXPECT_EQ(int32_t(parsed.request.tcpConnections), c.tcp);
        EXPECT_EQ(int32_t(parsed.request.udpEndpoints), c.udp);
    }
}

TEST(RequestParsing, AddressItemsRaiseTheFlag) {
    for (uint8_t type : {5, 6}) {
        const Bytes m = {1, 3, type, 1, 0};
        ParsedRequest parsed;
        ASSERT_TRUE(ParseRequest(m.data(), m.size(), parsed));
        EXPECT_TRUE(parsed.addressRequested);
        EXPECT_EQ(parsed.request.kind, 0);
    }
}

TEST(RequestParsing, UpdateUrlIsCutAtZeroAndCarriesItsLength) {
    const Bytes m = {1, 9, 3, 7, 'h', 't', 't', 'p', 0, 'x', 'y'};
    Recorder sink;
    ParsedRequest parsed;
    ASSERT_TRUE(ParseRequest(m.data(), m.size(), parsed, &sink));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].first, "http");
    EXPECT_EQ(sink.calls[0].second, 7);

    const Bytes empty = {1, 2, 3, 0};
    Recorder none;
    ASSERT_TRUE(ParseRequest(empty.data(), empty.size(), parsed, &none));
    EXPECT_TRUE(none.calls.empty());
}

TEST(FindingsReply, TcpThresholdExample) {
    const Bytes m = {1, 4, 25, 2, 0, 5};
    ParsedRequest parsed;
    ASSERT_TRUE(ParseRequest(m.data(), m.size(), parsed));
    DetectionFindings f = NoFindings();
    f.tcpConnections = 300;
    EXPECT_EQ(BuildFindingsReply(parsed.request, f), (Bytes{2, 4, 25, 2, 1, 44}));
    f.tcpConnections = 4;
    EXPECT_EQ(BuildFindingsReply(parsed.request, f), (Bytes{2, 2, 20, 0}));
}

TEST(FindingsReply, ItemOrderPutsDhcpBeforeProxyAndRelay) {
    DetectionRequest q{};
    q.kind = 2;
    q.adapterCount = q.serviceRunning = q.programFeatures = q.localProxy = q.relayedRequest =
        q.bitTorrent = 1;
    q.dhcpServer = 1;
    q.udpEndpoints = 2;
    DetectionFindings f = NoFindings();
    f.adapterCount = 3;
    f.serviceRunning = f.programFeatures = f.localProxy = f.relayedRequest = f.bitTorrent = 1;
    f.dhcpServer = 1;
    f.udpEndpoints = 0x1234;
    f.reserved24 = 1; // never reported
    const Bytes expected = {2, 25, 21, 1, 3,  26, 2, 0x12, 0x34, 27, 1,  1, 28, 1,
                            1, 31, 1,  1, 29, 1,  1, 30,   1,    1,  32, 1, 1};
    EXPECT_EQ(BuildFindingsReply(q, f), expected);
}

TEST(AddressReply, OctetsAreReversedAndMacFollows) {
    const uint8_t ipBytes[4] = {192, 168, 1, 10}; // network order in memory
    uint32_t ip;
    std::memcpy(&ip, ipBytes, 4);
    const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(BuildAddressReply(ip, mac),
              (Bytes{2, 14, 5, 4, 0x0A, 0x01, 0xA8, 0xC0, 6, 6, 0, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

TEST(LinkRequest, IsTheTwelveByteMessage) {
    uint8_t buffer[kLinkRequestBuffer];
    std::memset(buffer, 0xcc, sizeof buffer);
    ASSERT_EQ(BuildLinkRequest(buffer), 12u);
    EXPECT_EQ(Bytes(buffer, buffer + 12), (Bytes{1, 10, 21, 0, 27, 0, 28, 0, 29, 0, 32, 0}));
    EXPECT_EQ(buffer[12], 0);
    EXPECT_EQ(buffer[199], 0);
}

} // namespace
