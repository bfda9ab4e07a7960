// The detection loop and the detection pass, with scripted detectors and short
// loop timing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "DetectThread.h"
#include "ScriptedDetectors.h"
#include "WaitUntil.h"
#include "companion/CompanionFakes.h"

namespace {

using Bytes = std::vector<uint8_t>;

DetectionRequest Req(const Bytes& message) {
    ParsedRequest parsed;
    EXPECT_TRUE(ParseRequest(message.data(), message.size(), parsed));
    return parsed.request;
}

// Request messages used below; each switches on the program detector too, so
// the scripted detector counts the passes.
const Bytes kPrograms = {1, 2, 28, 0};
const Bytes kCountsAndService = {1, 6, 21, 0, 27, 0, 28, 0};
const Bytes kUdp = {1, 6, 26, 2, 0, 1, 28, 0};
const Bytes kOff = {1, 2, 20, 0};
const Bytes kProxy = {1, 4, 29, 0, 28, 0};

const uint8_t kMac[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};

// The detection threads a test starts, stopped and joined at its end.
class DetectThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { timing.turnMs = 20, timing.passIntervalMs = 3600000; }
    void TearDown() override {
        for (auto& t : threads)
            t->Stop();
        scripted.hold = false;
        threads.clear(); // joins
    }
    TDetectThread* Start(ScriptedDetectors& d) {
        threads.push_back(std::make_unique<TDetectThread>(timing, d.Make()));
        threads.back()->Begin();
        return threads.back().get();
    }
    // Waits until n turns have begun and ended since the call: what was to
    // happen in a turn had its chance n times.
    static bool WholeTurnsPass(TDetectThread* t, int n = 1) {
        return t->WaitForTurnsAfter(t->TurnsFinished() + uint64_t(n));
    }
    // Waits until the turn under way (or, between turns, the next one) has ended.
    static bool TurnEnds(TDetectThread* t) { return t->WaitForTurnsAfter(t->TurnsFinished()); }
    void Deliver(TDetectThread* t, const Bytes& message) {
        TDetectThread::DeliverCopy copy;
        t->ApplyRequest(Req(message), copy);
    }
    bool PassesReach(int n, ScriptedDetectors& d) {
        return WaitUntil([&] { return d.passes.load() >= n; });
    }

    FakePortsGuard ports;
    DetectTiming timing;
    ScriptedDetectors scripted;
    std::vector<std::unique_ptr<TDetectThread>> threads;
};

TEST_F(DetectThreadTest, NoPassWhileTheLinkIsDown) {
    TDetectThread* t = Start(scripted);
    scripted.adapters = 3;
    Deliver(t, kCountsAndService);
    Deliver(t, kPrograms);
    ASSERT_TRUE(WholeTurnsPass(t, 3));
    EXPECT_EQ(scripted.passStarts.load(), 0);
    const DetectionFindings f = t->Findings();
    const DetectionFindings zero{};
    EXPECT_EQ(0, std::memcmp(&f, &zero, sizeof f));
}

TEST_F(DetectThreadTest, ARequestRunsAtTheNextTurnNotAfterTheInterval) {
    TDetectThread* t = Start(scripted);
    t->LinkUp(kMac, 0x0a00000a, ports.clock.TickCount());
    ASSERT_TRUE(WholeTurnsPass(t, 2));
    EXPECT_EQ(scripted.passStarts.load(), 0); // no request, interval not over
    Deliver(t, kPrograms);
    EXPECT_TRUE(PassesReach(1, scripted));
}

TEST_F(DetectThreadTest, PassesRepeatAtTheInterval) {
    timing.passIntervalMs = 60;
    TDetectThread* t = Start(scripted);
    Deliver(t, kPrograms);
    t->LinkUp(kMac, 0x0a00000a, ports.clock.TickCount());
    EXPECT_TRUE(PassesReach(3, scripted));
}

TEST_F(DetectThreadTest, AMissingAccessAddressIsLookedUpAgainAfterTheDelay) {
    TDetectThread* t = Start(scripted);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(WholeTurnsPass(t, 2));
    EXPECT_EQ(scripted.lookUps.load(), 0); // not before 12 s after link up
    ports.clock.Advance(12001);
    EXPECT_TRUE(WaitUntil([&] { return scripted.lookUps.load() >= 3; })); // every turn
    scripted.lookUpAnswer = 0x0101a8c0;
    EXPECT_TRUE(WaitUntil([&] { return t->AccessIp() == 0x0101a8c0u; }));
    const int after = scripted.lookUps.load();
    ASSERT_TRUE(WholeTurnsPass(t, 3));
    EXPECT_LE(scripted.lookUps.load(), after + 1); // found: no more look-ups
}

TEST_F(DetectThreadTest, DetectOffClearsAllButTheUdpMaximumAndTheService) {
    TDetectThread* t = Start(scripted);
    scripted.adapters = 3, scripted.addresses = 4, scripted.udp = 7, scripted.service = true;
    scripted.programs = true;
    Deliver(t, {1, 12, 21, 0, 22, 0, 26, 2, 0, 1, 27, 0, 28, 0});
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(PassesReach(1, scripted));
    ASSERT_TRUE(WaitUntil([&] { return t->Findings().programFeatures == 1; }));
    DetectionFindings f = t->Findings();
    EXPECT_EQ(f.adapterCount, 3);
    EXPECT_EQ(f.addressCount, 4);
    EXPECT_EQ(int32_t(f.udpEndpoints), 7);
    EXPECT_EQ(f.serviceRunning, 1);

    Deliver(t, kOff);
    ASSERT_TRUE(WaitUntil([&] { return t->Findings().programFeatures == 0; }));
    f = t->Findings();
    EXPECT_EQ(f.adapterCount, 0);
    EXPECT_EQ(f.addressCount, 0);
    EXPECT_EQ(int32_t(f.udpEndpoints), 7);
    EXPECT_EQ(f.serviceRunning, 1);
    EXPECT_EQ(f.kind, 0);
}

TEST_F(DetectThreadTest, TheUdpMaximumOnlyGrows) {
    TDetectThread* t = Start(scripted);
    scripted.udp = 7;
    Deliver(t, kUdp);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(PassesReach(1, scripted));
    ASSERT_TRUE(WaitUntil([&] { return int32_t(t->Findings().udpEndpoints) == 7; }));
    scripted.udp = 3;
    Deliver(t, kUdp);
    ASSERT_TRUE(PassesReach(2, scripted));
    ASSERT_TRUE(TurnEnds(t)); // the pass has published
    EXPECT_EQ(int32_t(t->Findings().udpEndpoints), 7);
}

TEST_F(DetectThreadTest, TheProbeStartsOnceAndReportsFromLaterPasses) {
    TDetectThread* t = Start(scripted);
    Deliver(t, kProxy);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(PassesReach(1, scripted));
    ASSERT_TRUE(WaitUntil([&] { return scripted.probeStarts.load() == 1; }));
    std::function<void()> found;
    {
        std::lock_guard<std::mutex> g(scripted.mutex);
        found = scripted.proxyFound;
    }
    found(); // the probe thread reports a proxy to the current detection thread
    EXPECT_EQ(t->Findings().localProxy, 0); // the starting pass reports nothing
    Deliver(t, kProxy);
    ASSERT_TRUE(WaitUntil([&] { return t->Findings().localProxy == 1; }));

    Deliver(t, kPrograms); // switched off: cleared
    ASSERT_TRUE(WaitUntil([&] { return t->Findings().localProxy == 0; }));
    const int passes = scripted.passes.load();
    Deliver(t, kProxy); // on again: no second probe, and the cleared result stays clear
    ASSERT_TRUE(PassesReach(passes + 1, scripted));
    ASSERT_TRUE(TurnEnds(t));
    EXPECT_EQ(scripted.probeStarts.load(), 1);
    EXPECT_EQ(t->Findings().localProxy, 0);
}

TEST_F(DetectThreadTest, CaptureResultsAreReportedOnlyUnderTheirOwnSwitch) {
    struct Case {
        const char* name;
        Bytes request;
        uint8_t a, b;
        uint8_t byte16, byte21;
    } cases[] = {
        {"both on, both seen: A first", {1, 6, 30, 0, 32, 0, 28, 0}, 1, 1, 1, 0},
        {"BitTorrent only, A seen", {1, 4, 32, 0, 28, 0}, 1, 0, 0, 0},
        {"BitTorrent only, both seen", {1, 4, 32, 0, 28, 0}, 1, 1, 0, 1},
        {"relayed only, B seen", {1, 4, 30, 0, 28, 0}, 0, 1, 0, 0},
        {"relayed only, A seen", {1, 4, 30, 0, 28, 0}, 1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        ScriptedDetectors d;
        TDetectThread* t = Start(d);
        Deliver(t, c.request);
        t->LinkUp(kMac, 0, ports.clock.TickCount());
        ASSERT_TRUE(PassesReach(1, d)) << c.name;
        ResultFlag *a, *b;
        {
            std::lock_guard<std::mutex> g(d.mutex);
            ASSERT_EQ(d.captureStarts.load(), 1) << c.name;
            a = d.relayed, b = d.bitTorrent;
        }
        *a = c.a, *b = c.b;
        Deliver(t, c.request);
        ASSERT_TRUE(PassesReach(2, d)) << c.name;
        ASSERT_TRUE(TurnEnds(t)) << c.name; // publish follows the detector
        const DetectionFindings f = t->Findings();
        EXPECT_EQ(f.relayedRequest, c.byte16) << c.name;
        EXPECT_EQ(f.bitTorrent, c.byte21) << c.name;
        t->StopAndJoin();
        EXPECT_EQ(d.captureStops.load(), 1) << c.name; // it started the capture
    }
}

// The capture learns at every pass which kinds are switched on and which adapter
// carries the access link; it is started once.
TEST_F(DetectThreadTest, TheCaptureIsToldTheSwitchesAndTheAccessAdapterAtEveryPass) {
    TDetectThread* t = Start(scripted);
    Deliver(t, {1, 4, 32, 0, 28, 0});
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(WaitUntil([&] { return scripted.captureStarts.load() == 1; }));
    EXPECT_EQ(scripted.captureKinds.load(), kBitTorrentTraffic);
    {
        std::lock_guard<std::mutex> g(scripted.mutex);
        EXPECT_EQ(0, std::memcmp(scripted.captureMac, kMac, 6));
    }
    const struct {
        Bytes request;
        uint8_t kinds;
    } steps[] = {{{1, 6, 30, 0, 32, 0, 28, 0}, kAllTrafficKinds},
                 {kPrograms, 0},
                 {{1, 4, 30, 0, 28, 0}, kRelayedTraffic}};
    int updates = 0;
    for (const auto& step : steps) {
        Deliver(t, step.request);
        ++updates;
        ASSERT_TRUE(WaitUntil([&] { return scripted.captureUpdates.load() == updates; }));
        EXPECT_EQ(scripted.captureKinds.load(), step.kinds) << updates;
    }
    EXPECT_EQ(scripted.captureStarts.load(), 1);
}

TEST_F(DetectThreadTest, APassSpanningALinkDownDoesNotPublish) {
    TDetectThread* t = Start(scripted);
    scripted.adapters = 3, scripted.service = true, scripted.programs = true;
    scripted.hold = true;
    Deliver(t, kCountsAndService);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(WaitUntil([&] { return scripted.holding.load(); }));
    t->LinkDown();
    scripted.hold = false;
    ASSERT_TRUE(PassesReach(1, scripted));
    ASSERT_TRUE(TurnEnds(t));
    const DetectionFindings f = t->Findings();
    const DetectionFindings zero{};
    EXPECT_EQ(0, std::memcmp(&f, &zero, sizeof f)); // no stale service or count finding
}

TEST_F(DetectThreadTest, ARequestDuringAPassRunsAtTheNextTurn) {
    TDetectThread* t = Start(scripted);
    scripted.adapters = 3;
    scripted.hold = true;
    Deliver(t, kPrograms);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(WaitUntil([&] { return scripted.holding.load(); }));
    Deliver(t, kCountsAndService); // arrives while the pass runs
    scripted.hold = false;
    ASSERT_TRUE(PassesReach(2, scripted)); // long before the hour-long interval
    ASSERT_TRUE(WaitUntil([&] { return t->Findings().adapterCount == 3; }));
}

TEST_F(DetectThreadTest, AFailingPassIsRetriedAtTheNextTurnNotBackToBack) {
    timing.turnMs = 100;
    TDetectThread* t = Start(scripted);
    scripted.raise = true;
    Deliver(t, kPrograms);
    t->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(WaitUntil([&] { return scripted.passStarts.load() >= 1; }));
    // Every turn now runs the failing pass; each must pause a whole turn after
    // it. Three turns that begin and end in the window take three pauses.
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(WholeTurnsPass(t, 3));
    EXPECT_GE(std::chrono::steady_clock::now() - begin,
              std::chrono::milliseconds(3 * timing.turnMs));
    EXPECT_GE(scripted.passStarts.load(), 3);
    EXPECT_EQ(scripted.passes.load(), 0);
    scripted.raise = false;
    EXPECT_TRUE(PassesReach(1, scripted)); // the request is still pending and runs
}

TEST_F(DetectThreadTest, StopCutsLongWaitsShort) {
    timing.turnMs = 3600000;
    TDetectThread* down = Start(scripted); // waiting for link up
    ScriptedDetectors other;
    TDetectThread* up = Start(other); // sleeping between turns after its pass
    Deliver(up, kPrograms);
    up->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(PassesReach(1, other));
    down->Stop();
    up->Stop();
    EXPECT_TRUE(WaitUntil([&] { return down->Finished() && up->Finished(); }, 5000));
}

TEST_F(DetectThreadTest, AReplacedThreadEndsWithoutTouchingTheNewOne) {
    TDetectThread* old = Start(scripted);
    Deliver(old, {1, 4, 32, 0, 28, 0});
    old->LinkUp(kMac, 0, ports.clock.TickCount());
    ASSERT_TRUE(PassesReach(1, scripted)); // started the capture
    scripted.hold = true;
    Deliver(old, kPrograms);
    ASSERT_TRUE(WaitUntil([&] { return scripted.holding.load(); }));

    ScriptedDetectors newer;
    old->Stop();
    TDetectThread* current = Start(newer);
    scripted.hold = false;
    old->WaitFor();
    EXPECT_FALSE(current->Finished());
    EXPECT_EQ(scripted.captureStops.load(), 1);
    EXPECT_EQ(newer.captureStops.load(), 0);
}

} // namespace
