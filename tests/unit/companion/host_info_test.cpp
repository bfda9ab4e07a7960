// The host network information: text routines, the adapter table, the counts,
// the endpoint tables and the service check, over fake system tables.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "BasicInfo.h"
#include "IPHelper.h"
#include "companion/CompanionFakes.h"
#include "ByteCursor.h"
#include "utils.h"

namespace {

std::vector<uint8_t> Mac(uint8_t last) {
    return {0x00, 0x11, 0x22, 0x33, 0x44, last};
}

AdapterRecord RecordAt(const std::vector<uint8_t>& table, int i) {
    AdapterRecord r;
    std::memcpy(&r, table.data() + i * sizeof(AdapterRecord), sizeof r);
    return r;
}

TEST(SwapNibbles, ExchangesHalvesAndIsItsOwnInverse) {
    char text[] = "\x4A";
    SwapNibbles(text, 255);
    EXPECT_EQ(uint8_t(text[0]), 0xA4);
    SwapNibbles(text, 255);
    EXPECT_EQ(uint8_t(text[0]), 0x4A);

    char empty[4] = {0, 'x', 'y', 0};
    SwapNibbles(empty, 255);
    EXPECT_EQ(0, std::memcmp(empty, "\0xy", 4)); // nothing after the terminator

    char five[] = "ABCDE";
    SwapNibbles(five, 3);
    EXPECT_EQ(0, std::memcmp(five,
                             "\x14\x24\x34"
                             "DE",
                             6));
}

TEST(TextRoutines, CompareCountAndCopyWithinBounds) {
    EXPECT_TRUE(TextEquals("abc", "abc"));
    EXPECT_FALSE(TextEquals("abc", "abcd"));
    EXPECT_TRUE(TextEqualsN("abcdef", "abcxyz", 3));
    EXPECT_FALSE(TextEqualsN("ab", "abc", 3)); // the shorter text's terminator counts
    EXPECT_TRUE(TextEqualsN("ab", "ab", 10));  // a common end
    EXPECT_EQ(BoundedLength("abcdef", 4), 4u);
    char out[4];
    CopyTextN(out, "abcdef", 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(SwapBytes16(0x0043), 0x4300);
}

TEST(AddressText, ConvertsLikeTheSystem) {
    struct Case {
        const char* text;
        uint8_t octets[4];
        bool usable;
    } cases[] = {
        {"192.168.1.10", {192, 168, 1, 10}, true},
        {"0.0.0.0", {0, 0, 0, 0}, true},
        {"10.1", {10, 0, 0, 1}, true},
        {"0x7f.1", {127, 0, 0, 1}, true},
        {"256.1.1.1", {}, false},
        {"1.2.3.4.5", {}, false},
        {"abc", {}, false},
        {"", {}, false},
    };
    for (const Case& c : cases) {
        const uint32_t n = AddressTextToNumber(c.text);
        if (!c.usable) {
            EXPECT_EQ(n, 0xffffffffu) << c.text;
            continue;
        }
        uint8_t got[4];
        std::memcpy(got, &n, 4);
        EXPECT_EQ(0, std::memcmp(got, c.octets, 4)) << c.text;
    }
}

TEST(AdapterTable, FillsRecordsAsLaidOut) {
    FakePortsGuard ports;
    std::string longDescription(200, 'd');
    auto row = MakeAdapter(
        Mac(1),
        {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6", "10.0.0.7"},
        longDescription);
    row.mac.push_back(0xEE); // 7 reported bytes: only 6 are kept
    row.dhcpEnabled = 1;
    ports.tables.SetAdapters({row});

    std::vector<uint8_t> table(kAdapterTableBytes, 0xCC);
    ASSERT_EQ(BuildAdapterTable(table.data(), table.size()), 1);
    const AdapterRecord r = RecordAt(table, 0);
    EXPECT_EQ(std::string(r.description, 128), std::string(128, 'd'));
    EXPECT_EQ(0, std::memcmp(r.description + 128, "\0\0\0\0", 4));
    EXPECT_EQ(0, std::memcmp(r.mac, Mac(1).data(), 6));
    EXPECT_EQ(uint32_t(r.dhcpEnabled), 1u);
    for (int slot = 0; slot < 5; ++slot) {
        EXPECT_EQ(std::string(r.addresses[slot]), "10.0.0." + std::to_string(slot + 1));
        EXPECT_STREQ(r.masks[slot], "255.255.255.0");
    }
    // the rest of the buffer is zeroed
    for (size_t i = sizeof(AdapterRecord); i < table.size(); ++i)
        ASSERT_EQ(table[i], 0) << i;
}

TEST(AdapterTable, NeverWritesMoreRecordsThanTheBufferHolds) {
    FakePortsGuard ports;
    std::vector<AdapterInfoRow> rows;
    for (uint8_t i = 0; i < 9; ++i)
        rows.push_back(MakeAdapter(Mac(i), {"10.0.0.1"}));
    ports.tables.SetAdapters(rows);

    // Exactly the callers' buffer: the ninth adapter must not land past its end
    // (AddressSanitizer reports any write beyond the vector).
    std::vector<uint8_t> table(kAdapterTableBytes);
    EXPECT_EQ(BuildAdapterTable(table.data(), table.size()), 8);
    EXPECT_EQ(0, std::memcmp(RecordAt(table, 7).mac, Mac(7).data(), 6));

    std::vector<uint8_t> small(3 * sizeof(AdapterRecord) + 100);
    EXPECT_EQ(BuildAdapterTable(small.data(), small.size()), 3);
    EXPECT_EQ(CountAdaptersAndAddresses().adapters, 8);
}

TEST(AdapterTable, UnreadableOrEmptyGivesNoRecords) {
    FakePortsGuard ports;
    ports.tables.SetAdapters({MakeAdapter(Mac(1), {"10.0.0.1"})}, false);
    std::vector<uint8_t> table(kAdapterTableBytes, 0xCC);
    EXPECT_EQ(BuildAdapterTable(table.data(), table.size()), 0);
    EXPECT_EQ(table[0], 0);
    ports.tables.SetAdapters({});
    EXPECT_EQ(BuildAdapterTable(table.data(), table.size()), 0);
}

TEST(Counts, CountAdaptersAndNonEmptyAddressSlots) {
    FakePortsGuard ports;
    ports.tables.SetAdapters({MakeAdapter(Mac(1), {"0.0.0.0"}), // counts: text is not empty
                              MakeAdapter(Mac(2), {"10.0.0.1", "10.0.0.2"}),
                              MakeAdapter(Mac(3), {})});
    const AdapterCounts c = CountAdaptersAndAddresses();
    EXPECT_EQ(c.adapters, 3);
    EXPECT_EQ(c.addresses, 3);
}

TEST(AccessAddress, FirstAdapterWithTheHardwareAddress) {
    FakePortsGuard ports;
    ports.tables.SetAdapters({MakeAdapter(Mac(1), {"10.0.0.1"}),
                              MakeAdapter(Mac(2), {"192.168.1.10"}),
                              MakeAdapter(Mac(2), {"192.168.1.20"})});
    const uint8_t octets[4] = {192, 168, 1, 10};
    uint32_t expected;
    std::memcpy(&expected, octets, 4);
    EXPECT_EQ(LookUpAccessAddress(Mac(2).data()), expected);
    EXPECT_EQ(LookUpAccessAddress(Mac(9).data()), 0u);
    ports.tables.SetAdapters({});
    EXPECT_EQ(LookUpAccessAddress(Mac(2).data()), 0u);
}

TEST(EndpointTables, CountsAndPort67) {
    FakePortsGuard ports;
    const uint32_t ip = 0x0100007f;
    ports.tables.SetTcp({{kTcpStateListen, 0, NetPort(80), 0, 0},
                         {kTcpStateListen, ip, NetPort(81), ip, NetPort(5)}});
    EXPECT_EQ(CountTcpConnections(), 0); // only listening sockets: 0, not -1
    ports.tables.SetTcp({{kTcpStateEstablished, ip, NetPort(1025), ip, NetPort(80)},
                         {kTcpStateEstablished, ip, 0, ip, NetPort(80)},
                         {kTcpStateEstablished, ip, NetPort(1026), ip, 0},
                         {8 /* CLOSE_WAIT */, ip, NetPort(1027), ip, NetPort(80)}});
    EXPECT_EQ(CountTcpConnections(), 2);
    ports.tables.SetTcp({}, false);
    EXPECT_EQ(CountTcpConnections(), -1);

    ports.tables.SetUdp({{0, NetPort(53)}, {0, NetPort(137)}});
    EXPECT_EQ(CountUdpEndpoints(), 2);
    EXPECT_FALSE(HasDhcpServerPort());
    ports.tables.SetUdp({{0, NetPort(53)}, {0, NetPort(67)}});
    EXPECT_TRUE(HasDhcpServerPort());
    ports.tables.SetUdp({{0, 67}}); // 67 in the wrong byte order is port 17152
    EXPECT_FALSE(HasDhcpServerPort());
    ports.tables.SetUdp({{0, NetPort(67)}}, false);
    EXPECT_EQ(CountUdpEndpoints(), -1);
    EXPECT_FALSE(HasDhcpServerPort());
}

TEST(ServiceCheck, UnscramblesTheNameAndWantsRunning) {
    FakePortsGuard ports;
    EXPECT_FALSE(IsWatchedServiceRunning()); // unknown service: the open fails
    ports.services.SetState("SharedAccess", 1 /* STOPPED */);
    EXPECT_FALSE(IsWatchedServiceRunning());
    ports.services.SetState("SharedAccess", kServiceRunning);
    EXPECT_TRUE(IsWatchedServiceRunning());
    EXPECT_EQ(ports.services.Queried().back(), "SharedAccess");

    // any name of up to 63 characters; longer ones are cut at 63
    std::string name(70, 'n');
    ports.services.SetState(name.substr(0, 63), kServiceRunning);
    std::vector<char> scrambled(name.begin(), name.end());
    scrambled.push_back(0);
    SwapNibbles(scrambled.data(), 255);
    EXPECT_TRUE(IsScrambledServiceRunning(scrambled.data()));
    EXPECT_EQ(ports.services.Queried().back().size(), 63u);
}

} // namespace
