// The library's entry points as the dialer calls them: initThread, requests and
// their replies through SendReply, findings and link changes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "DetectByFeature.h"
#include "Library.h"
#include "ScriptedDetectors.h"
#include "WaitUntil.h"
#include "companion/CompanionFakes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes of the findings record as ReadFindings copies it out.
constexpr size_t kAdapterCountByte = offsetof(DetectionFindings, adapterCount);
constexpr size_t kServiceRunningByte = offsetof(DetectionFindings, serviceRunning);

// The dialer's side: records every reply and answers GetAdapterMac as scripted.
std::mutex g_hostMutex;
std::vector<Bytes> g_replies;
int g_macCalls = 0;
uint32_t g_macLength = 0;
int32_t g_macResult = 0;
uint8_t g_mac[6] = {0x00, 0x0c, 0x29, 0x01, 0x02, 0x03};

int32_t HOST_CALL RecordReply(const uint8_t* message, uint32_t length) {
    std::lock_guard<std::mutex> g(g_hostMutex);
    g_replies.emplace_back(message, message + length);
    return 0;
}

int32_t HOST_CALL AnswerMac(uint8_t* mac, uint32_t length) {
    std::lock_guard<std::mutex> g(g_hostMutex);
    ++g_macCalls;
    g_macLength = length;
    if (g_macResult == 0)
        std::memcpy(mac, g_mac, 6);
    return g_macResult;
}

std::vector<Bytes> TakeReplies() {
    std::lock_guard<std::mutex> g(g_hostMutex);
    return std::exchange(g_replies, {});
}

Bytes Signatures(int records) {
    Bytes out(kSignatureHeader, kSignatureHeader + kSignatureHeaderSize);
    out.resize(out.size() + records * kSignatureRecordSize, 0x70); // kind 7 records
    return out;
}

class LibraryEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LibrarySettings settings;
        settings.timing.turnMs = 20;
        settings.timing.passIntervalMs = 3600000;
        settings.detectors = scripted.Make();
        library = std::make_unique<Library>(Ports(), settings);
        ports.resources.Set("Ostrel.dll", kSignatureListResource, Signatures(27));
        host = HostInterface{RecordReply, AnswerMac, nullptr, nullptr, nullptr};
        std::lock_guard<std::mutex> g(g_hostMutex);
        g_replies.clear();
        g_macCalls = 0;
        g_macResult = 0;
    }
    void TearDown() override {
        scripted.hold = false;
        library.reset(); // stops and joins all it started
    }
    // Waits until a turn of the library's detection thread has begun and ended.
    bool AWholeTurnPasses() {
        TDetectThread* t = library->DetectThreadForTests();
        return t != nullptr && t->WaitForTurnsAfter(t->TurnsFinished() + 1);
    }
    int32_t Deliver(const Bytes& m) { return host.DeliverRequest(m.data(), uint32_t(m.size())); }

    FakePortsGuard ports;
    ScriptedDetectors scripted;
    std::unique_ptr<Library> library; // made afresh for each case
    HostInterface host{};
};

TEST_F(LibraryEntryTest, BeforeInitThreadNothingAnswers) {
    uint8_t buffer[22];
    std::memset(buffer, 0xAB, sizeof buffer);
    uint32_t length = 99;
    EXPECT_EQ(ReadFindings(buffer, &length), 1);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(length, 99u);
    const Bytes link = {1, 10, 0x15, 0, 0x1B, 0, 0x1C, 0, 0x1D, 0, 0x20, 0};
    EXPECT_EQ(DeliverRequest(link.data(), uint32_t(link.size())), 1);
    EXPECT_EQ(NotifyLinkState(1), 0);
    EXPECT_EQ(NotifyLinkState(0), 0);
    EXPECT_TRUE(TakeReplies().empty());
}

TEST_F(LibraryEntryTest, InitThreadFillsTheSlotsAndReadFindingsAnswers) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    EXPECT_EQ(host.DeliverRequest, &DeliverRequest);
    EXPECT_EQ(host.ReadFindings, &ReadFindings);
    EXPECT_EQ(host.NotifyLinkState, &NotifyLinkState);
    uint8_t buffer[22];
    std::memset(buffer, 0xAB, sizeof buffer);
    uint32_t length = 0;
    EXPECT_EQ(host.ReadFindings(buffer, &length), 0);
    EXPECT_EQ(length, 22u);
    for (uint8_t b : buffer)
        EXPECT_EQ(b, 0);
}

TEST_F(LibraryEntryTest, RequestsAreAnsweredThroughSendReply) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    struct Case {
        Bytes request;
        int32_t result;
        std::vector<Bytes> replies;
    } cases[] = {
        {{1, 10, 0x15, 0, 0x1B, 0, 0x1C, 0, 0x1D, 0, 0x20, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2}, 1, {}},
        {{2, 2, 0x14, 0}, 1, {}},
        {{1, 5, 0x15, 0}, 1, {}},
        {{1, 4, 0x15, 0, 0x1B, 5}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x14, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 4, 0x15, 0, 0x14, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x28, 0}, 0, {{2, 2, 0x14, 0}}},
        {{1, 2, 0x05, 0}, 0, {{2, 14, 5, 4, 0, 0, 0, 0, 6, 6, 0, 0, 0, 0, 0, 0}}},
        {{1, 2, 0x01, 0}, 0, {}}, // no detection item, no address item: no reply
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Deliver(c.request), c.result) << testing::PrintToString(c.request);
        EXPECT_EQ(TakeReplies(), c.replies) << testing::PrintToString(c.request);
    }
}

TEST_F(LibraryEntryTest, LinkUpAsksForTheMacAndAddressRepliesCarryIt) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    ports.tables.SetAdapters({MakeAdapter({0x00, 0x0c, 0x29, 0x01, 0x02, 0x03}, {"192.168.1.10"})});
    // The real look-up over the fake tables, not the scripted one.
    library->Settings().detectors.lookUpAccessAddress = LookUpAccessAddress;
    EXPECT_EQ(host.NotifyLinkState(0x101), 0); // only the low byte counts: up
    {
        std::lock_guard<std::mutex> g(g_hostMutex);
        EXPECT_EQ(g_macCalls, 1);
        EXPECT_EQ(g_macLength, 6u);
    }
    EXPECT_EQ(Deliver({1, 4, 5, 0, 6, 0}), 0);
    const Bytes expected = {2, 14, 5,    4,    0x0A, 0x01, 0xA8, 0xC0,
                            6, 6,  0x00, 0x0c, 0x29, 0x01, 0x02, 0x03};
    EXPECT_EQ(TakeReplies(), std::vector<Bytes>{expected});

    // A failing GetAdapterMac keeps the addresses as they were.
    {
        std::lock_guard<std::mutex> g(g_hostMutex);
        g_macResult = 1;
    }
    EXPECT_EQ(host.NotifyLinkState(1), 0);
    EXPECT_EQ(Deliver({1, 2, 5, 0}), 0);
    EXPECT_EQ(TakeReplies(), std::vector<Bytes>{expected});

    EXPECT_EQ(host.NotifyLinkState(0x100), 0); // low byte 0: down
    EXPECT_EQ(Deliver({1, 2, 6, 0}), 0);
    Bytes down = expected;
    std::memset(down.data() + 4, 0, 4); // address cleared, hardware address kept
    EXPECT_EQ(TakeReplies(), std::vector<Bytes>{down});
}

TEST_F(LibraryEntryTest, FindingsBeforeAndAfterLinkUpAndDown) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    scripted.adapters = 3;
    scripted.service = true;
    ASSERT_EQ(Deliver({1, 6, 21, 0, 27, 0, 28, 0}), 0);
    TakeReplies();
    uint8_t f[22];
    uint32_t length = 0;
    ASSERT_TRUE(AWholeTurnPasses());
    ASSERT_EQ(host.ReadFindings(f, &length), 0);
    EXPECT_EQ(f[kAdapterCountByte], 0); // link down: no pass has run

    host.NotifyLinkState(1);
    ASSERT_TRUE(WaitUntil([&] {
        host.ReadFindings(f, &length);
        return f[kAdapterCountByte] == 3 && f[kServiceRunningByte] == 1;
    }));
    // The FindingsReply now reports what the passes found.
    ASSERT_EQ(Deliver({1, 6, 21, 0, 27, 0, 28, 0}), 0);
    EXPECT_EQ(TakeReplies(), (std::vector<Bytes>{{2, 6, 21, 1, 3, 27, 1, 1}}));

    host.NotifyLinkState(0);
    host.ReadFindings(f, &length);
    for (uint8_t b : f)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(scripted.updateForgets.load(), 1);
    // The request survives a link down: once the interval is over after the next
    // link up, the same detectors run again.
    const int passes = scripted.passes.load();
    host.NotifyLinkState(1);
    ports.clock.Advance(3600001);
    ASSERT_TRUE(WaitUntil([&] {
        host.ReadFindings(f, &length);
        return f[kAdapterCountByte] == 3;
    }));
    EXPECT_GT(scripted.passes.load(), passes);
}

TEST_F(LibraryEntryTest, UpdateUrlItemsStartTheClientAtTheirPlace) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    const Bytes m = {1, 14, 3, 10, 'h', 't', 't', 'p', ':', '/', '/', 'x', 0, 'y', 3, 0};
    EXPECT_EQ(Deliver(m), 0);
    std::lock_guard<std::mutex> g(scripted.mutex);
    EXPECT_EQ(scripted.updateStarts.load(), 1);
    EXPECT_EQ(scripted.lastUpdateUrl, "http://x");
    EXPECT_EQ(scripted.lastUpdateLength, 10);
}

TEST_F(LibraryEntryTest, AcceptanceFollowsTheNumberOfSignatures) {
    struct Case {
        int records;
        std::set<int32_t> answers;
    } cases[] = {{0, {0xffff}}, {1, {0, 0xffff}}, {2, {0}}, {27, {0}}};
    for (const Case& c : cases) {
        ports.resources.Set("Ostrel.dll", kSignatureListResource, Signatures(c.records));
        std::set<int32_t> seen;
        for (int i = 0; i < 40; ++i)
            seen.insert(InitThreadEntry(&host));
        EXPECT_EQ(seen, c.answers) << c.records << " records";
    }
    ports.resources.Set("Ostrel.dll", kSignatureListResource, {}); // unreadable
    EXPECT_EQ(InitThreadEntry(&host), 0xffff);
    EXPECT_EQ(host.ReadFindings != nullptr, true); // slots written whatever the answer
}

TEST_F(LibraryEntryTest, ASecondInitThreadStopsAndJoinsTheDetectionThread) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    scripted.hold = true;
    Deliver({1, 2, 28, 0});
    host.NotifyLinkState(1);
    ASSERT_TRUE(WaitUntil([&] { return scripted.holding.load(); })); // the first is mid-pass
    std::atomic<bool> returned{false};
    auto second = std::async(std::launch::async, [&] {
        const int32_t result = InitThreadEntry(&host);
        returned = true;
        return result;
    });
    // The second call has taken the first thread out and waits for its pass to end.
    ASSERT_TRUE(WaitUntil([&] { return library->DetectThreadForTests() == nullptr; }));
    EXPECT_EQ(host.ReadFindings(nullptr, nullptr), 1); // no thread meanwhile
    EXPECT_FALSE(returned.load());
    scripted.hold = false;
    EXPECT_EQ(second.get(), 0);
    EXPECT_EQ(scripted.passes.load(), 1); // the held pass ran to its end
    TDetectThread* current = library->DetectThreadForTests();
    ASSERT_NE(current, nullptr);
    EXPECT_FALSE(current->Finished());
    // The new thread waits for its own link up: no pass, however many turns.
    ASSERT_TRUE(AWholeTurnPasses());
    EXPECT_EQ(scripted.passStarts.load(), 1);
}

TEST_F(LibraryEntryTest, WithoutALibraryNothingAnswers) {
    library.reset();
    const Bytes link = {1, 10, 0x15, 0, 0x1B, 0, 0x1C, 0, 0x1D, 0, 0x20, 0};
    uint8_t buffer[22] = {};
    uint32_t length = 0;
    EXPECT_EQ(InitThreadEntry(&host), 0xffff);
    EXPECT_EQ(DeliverRequest(link.data(), uint32_t(link.size())), 1);
    EXPECT_EQ(ReadFindings(buffer, &length), 1);
    EXPECT_EQ(NotifyLinkState(1), 0);
}

TEST_F(LibraryEntryTest, FailuresInsideTheEntriesStayInside) {
    ASSERT_EQ(InitThreadEntry(&host), 0);
    library->Settings().detectors.lookUpAccessAddress = [](const uint8_t*) -> uint32_t {
        throw std::runtime_error("tables gone");
    };
    EXPECT_EQ(host.NotifyLinkState(1), 0);
    library->Settings().detectors.startUpdateClient = [](const std::string&, int) -> bool {
        throw std::runtime_error("no client");
    };
    EXPECT_EQ(Deliver({1, 3, 3, 1, 'u'}), 1);
    EXPECT_EQ(InitThreadEntry(nullptr), 0xffff);
}

} // namespace
