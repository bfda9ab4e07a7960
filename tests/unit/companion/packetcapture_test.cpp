// The capture's adapter table, the driver calls it makes, the receive thread, and
// the hand-over of results between detection threads, against a fake driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "DetectByDataAnalysis.h"
#include "companion/FakeCaptureDriver.h"
#include "PacketCapture.h"
#include "Ports.h"
#include "RxTxThread.h"
#include "companion/capture_frames.h"

using namespace capture_test;

namespace {

const std::string kPrefix = "\\Device\\NPF_";

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = Ports();
        Ports().capture = &driver;
        Ports().hostTables = &adapters;
    }
    void TearDown() override {
        analysis.Shutdown();
        EXPECT_FALSE(driver.MisusedClosed()) << "a closed adapter was used";
        EXPECT_EQ(driver.OpenAdapters(), 0) << "an adapter was left open";
        Ports() = saved_;
    }
    // Waits for a result byte to become 1.
    static bool WaitForFlag(const ResultFlag& flag, int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (flag.load() == 0) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    static Bytes BitTorrentBatch() {
        return Batch()
            .Add(TcpFrameOfLength(120, "\x13"
                                       "BitTorrent protocol"))
            .bytes;
    }
    // 20 frames among which a client's proxy request and the proxy's forwarded copy.
    static Bytes RelayBatch() {
        Batch b;
        b.Add(
            Frame(Station(1), Station(2), 40000, 3128, "GET http://site/x HTTP/1.1\r\n\r\n", 120));
        for (int i = 0; i < 18; ++i)
            b.Add(Frame(Station(5), Station(6), 40000, 443, "tls" + std::to_string(i), 200));
        b.Add(Frame(Station(2), Station(3), 40001, 80, "GET /x HTTP/1.1\r\n\r\n", 120));
        return b.bytes;
    }

    FakeCaptureDriver driver;
    ScriptedAdapterList adapters;
    CompanionPorts saved_;
    DataAnalysis analysis; // the library's capture, made afresh for each case
};

TEST_F(CaptureTest, EnumeratesAtMostFiveRowsWithBoundedFields) {
    for (int i = 0; i < 7; ++i)
        adapters.Add("{ADAPTER-" + std::to_string(i) + "}");
    adapters.rows[1].description = std::string(131, 'd'); // the system allows 131 characters
    adapters.rows[2].description = "third";
    ResultFlag a{0}, b{0};
    TPacketCapture capture(&a, &b);
    capture.EnumAdapters();
    ASSERT_EQ(capture.EntryCount, 5);
    EXPECT_STREQ(capture.Adapters[0].DeviceName, "\\Device\\NPF_{ADAPTER-0}");
    EXPECT_STREQ(capture.Adapters[4].DeviceName, "\\Device\\NPF_{ADAPTER-4}");
    EXPECT_EQ(std::string(capture.Adapters[1].Description), std::string(127, 'd'));
    EXPECT_STREQ(capture.Adapters[2].Description, "third");

    adapters.readable = false; // a list that cannot be read leaves an empty table
    capture.EnumAdapters();
    EXPECT_EQ(capture.EntryCount, 0);
    EXPECT_STREQ(capture.Adapters[0].DeviceName, "");
    EXPECT_FALSE(capture.OpenAllAdapters());
}

TEST_F(CaptureTest, OpensEachRowWithPromiscuousFilterBufferAndTimeout) {
    adapters.Add("one");
    adapters.Add("two");
    adapters.Add("three");
    FakeCaptureDriver::Script fails;
    fails.open = FakeCaptureDriver::OpenOutcome::Null;
    driver.SetScript(kPrefix + "two", fails);
    ResultFlag a{0}, b{0};
    TPacketCapture capture(&a, &b);
    capture.EnumAdapters();
    EXPECT_FALSE(capture.OpenAllAdapters());
    EXPECT_NE(capture.Handles[0], nullptr);
    EXPECT_EQ(capture.Handles[1], nullptr);
    EXPECT_EQ(capture.Handles[2], nullptr);
    EXPECT_EQ(capture.OpenIndex[0], 0);
    EXPECT_EQ(capture.OpenIndex[1], -1);
    const std::vector<std::string> expected = {
        "open " + kPrefix + "one",          "filter " + kPrefix + "one 32",
        "buffer " + kPrefix + "one 512000", "timeout " + kPrefix + "one 0",
        "reset " + kPrefix + "one",         "open " + kPrefix + "two"};
    EXPECT_EQ(driver.Calls(), expected);
    EXPECT_TRUE(capture.WakeEvent->IsSet()); // signalled by the successful open

    // Once open, a row is not opened again; an index at EntryCount opens nothing.
    EXPECT_TRUE(capture.OpenAdapter(0));
    EXPECT_FALSE(capture.OpenAdapter(3));
    EXPECT_FALSE(capture.OpenAdapter(-1));
    EXPECT_EQ(driver.CountCalls("open"), 2);
    capture.CloseAllAdapters();
    EXPECT_EQ(capture.OpenIndex[0], -1);
}

TEST_F(CaptureTest, EveryFailedOpenStepLeavesTheRowClosed) {
    struct Case {
        const char* what;
        FakeCaptureDriver::Script script;
        int closes; // records released
    };
    FakeCaptureDriver::Script null, invalid, filter, buffer, timeout;
    null.open = FakeCaptureDriver::OpenOutcome::Null;
    invalid.open = FakeCaptureDriver::OpenOutcome::InvalidHandle;
    filter.failFilter = true;
    buffer.failBuffer = true;
    timeout.failTimeout = true;
    const Case cases[] = {{"null record", null, 0},
                          {"invalid handle", invalid, 1},
                          {"filter refused", filter, 1},
                          {"buffer refused", buffer, 1},
                          {"timeout refused", timeout, 1}};
    adapters.Add("eth");
    for (const Case& c : cases) {
        FakeCaptureDriver fresh;
        Ports().capture = &fresh;
        fresh.SetScript(kPrefix + "eth", c.script);
        ResultFlag a{0}, b{0};
        TPacketCapture capture(&a, &b);
        capture.EnumAdapters();
        EXPECT_FALSE(capture.OpenAdapter(0)) << c.what;
        EXPECT_EQ(capture.Handles[0], nullptr) << c.what;
        EXPECT_EQ(capture.OpenIndex[0], -1) << c.what;
        EXPECT_EQ(fresh.CountCalls("close"), c.closes) << c.what;
        EXPECT_EQ(fresh.OpenAdapters(), 0) << c.what;
        EXPECT_FALSE(capture.WakeEvent->IsSet()) << c.what;
    }
    Ports().capture = &driver;
}

TEST_F(CaptureTest, StartReceiverMakesOneThread) {
    adapters.Add("eth");
    ResultFlag a{0}, b{0};
    TPacketCapture capture(&a, &b);
    capture.EnumAdapters();
    capture.OpenAllAdapters();
    capture.StartReceiver();
    MyRxTxThread* first = capture.Receiver.get();
    capture.StartReceiver();
    EXPECT_EQ(capture.Receiver.get(), first);
    ASSERT_TRUE(driver.WaitForCalls("init 256000", 1, 5000));
    EXPECT_EQ(driver.CountCalls("allocate"), 1);
}

TEST_F(CaptureTest, BitTorrentBatchSetsResultBAndEndsTheReceiver) {
    adapters.Add("idle");
    adapters.Add("busy");
    driver.AddBatch(kPrefix + "busy", BitTorrentBatch());
    ResultFlag a{0}, b{0};
    EXPECT_TRUE(analysis.Start(&a, &b, kBitTorrentTraffic, nullptr));
    ASSERT_TRUE(WaitForFlag(b));
    ASSERT_TRUE(driver.WaitForCalls("free", 1, 5000)); // the thread ended by itself
    EXPECT_EQ(a.load(), 0);
    analysis.Stop(&a, &b);
}

TEST_F(CaptureTest, RelayedRequestSetsResultA) {
    adapters.Add("eth");
    driver.AddBatch(kPrefix + "eth", RelayBatch());
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(WaitForFlag(a));
    EXPECT_EQ(b.load(), 0);
    analysis.Stop(&a, &b);
}

TEST_F(CaptureTest, FullQueueWithoutRelayIsClearedAndTheSweepGoesOn) {
    adapters.Add("eth");
    Batch plain;
    for (int i = 0; i < 20; ++i)
        plain.Add(Frame(Station(5), Station(6), 40000, 443, "tls" + std::to_string(i), 200));
    driver.AddBatch(kPrefix + "eth", plain.bytes);
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(WaitForFlag(b));
    EXPECT_EQ(a.load(), 0);
    EXPECT_EQ(driver.CountCalls("receive"), 2);
    analysis.Stop(&a, &b);
}

// Results go to the bytes of the detection thread that started the capture last,
// never to those of one that has stopped; a stop by an older thread leaves the
// capture to the newer one; a stop by the owner joins the receive thread and
// closes every adapter, and a later start reopens them with a new thread.
TEST_F(CaptureTest, ResultsReachOnlyTheCurrentDetectionThreadsBytes) {
    adapters.Add("eth");
    ResultFlag a1{0}, b1{0}, a2{0}, b2{0}, a3{0}, b3{0};
    analysis.Start(&a1, &b1, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(driver.WaitForCalls("wait", 1, 5000));
    analysis.Start(&a2, &b2, kAllTrafficKinds, nullptr); // a newer detection thread
    analysis.Stop(&a1, &b1); // the older one ends: not the owner any more
    EXPECT_EQ(driver.CountCalls("close"), 0);
    EXPECT_EQ(driver.CountCalls("open"), 1);

    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    ASSERT_TRUE(WaitForFlag(b2));
    EXPECT_EQ(b1.load(), 0);

    analysis.Stop(&a2, &b2);
    EXPECT_EQ(driver.OpenAdapters(), 0);
    EXPECT_EQ(driver.CountCalls("free"), 1); // the receive thread has ended

    b2 = 0;
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    analysis.Start(&a3, &b3, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(WaitForFlag(b3));
    EXPECT_EQ(driver.CountCalls("open"), 2);
    EXPECT_EQ(driver.CountCalls("allocate"), 2);
    EXPECT_EQ(b2.load(), 0);
    EXPECT_EQ(b1.load(), 0);
    analysis.Stop(&a3, &b3);
}

TEST_F(CaptureTest, AFinishedReceiverIsReplacedForANewDetectionThread) {
    adapters.Add("eth");
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    ResultFlag a1{0}, b1{0}, a2{0}, b2{0};
    analysis.Start(&a1, &b1, kBitTorrentTraffic, nullptr);
    ASSERT_TRUE(WaitForFlag(b1));
    ASSERT_TRUE(driver.WaitForCalls("free", 1, 5000));
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    // The first thread's capture found what it was asked for and ended.
    analysis.Start(&a2, &b2, kBitTorrentTraffic, nullptr);
    ASSERT_TRUE(WaitForFlag(b2));
    analysis.Stop(&a1, &b1); // no effect: not the owner
    analysis.Stop(&a2, &b2);
}

// One finding must never end the search for the other: the receive thread runs
// until every kind that is switched on has been found, and a finding of a kind
// that is switched off is not reported.
TEST_F(CaptureTest, FindingsNeverSilenceEachOther) {
    const struct {
        const char* what;
        uint8_t kinds;
        bool relayFirst;
        uint8_t a, b;
    } cases[] = {
        {"BitTorrent only, relayed traffic first", kBitTorrentTraffic, true, 0, 1},
        {"relayed only, BitTorrent traffic first", kRelayedTraffic, false, 1, 0},
        {"both, BitTorrent first", kAllTrafficKinds, false, 1, 1},
        {"both, relayed first", kAllTrafficKinds, true, 1, 1},
    };
    adapters.Add("eth");
    for (const auto& c : cases) {
        FakeCaptureDriver fresh;
        Ports().capture = &fresh;
        // The announce frame is tested but too small to be queued, so the relay
        // batch fills the queue with the pair whichever comes first.
        const Bytes announce = Batch().Add(TcpFrameOfLength(80, "announce")).bytes;
        fresh.AddBatch(kPrefix + "eth", c.relayFirst ? RelayBatch() : announce);
        fresh.AddBatch(kPrefix + "eth", c.relayFirst ? announce : RelayBatch());
        ResultFlag a{0}, b{0};
        analysis.Start(&a, &b, c.kinds, nullptr);
        // The receiver ends once it has found everything asked of it.
        EXPECT_TRUE(fresh.WaitForCalls("free", 1, 10000)) << c.what;
        EXPECT_EQ(a.load(), c.a) << c.what;
        EXPECT_EQ(b.load(), c.b) << c.what;
        EXPECT_EQ(fresh.CountCalls("receive"), 2) << c.what;
        analysis.Shutdown();
        EXPECT_FALSE(fresh.MisusedClosed()) << c.what;
    }
    Ports().capture = &driver;
}

// Between its last finding and its end a receive thread must not take over a
// newer detection thread's bytes: it would end without ever reporting to them.
TEST_F(CaptureTest, AReceiverThatIsEndingIsReplacedForANewerDetectionThread) {
    adapters.Add("eth");
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    driver.HoldFree(true);
    ResultFlag a1{0}, b1{0}, a2{0}, b2{0};
    analysis.Start(&a1, &b1, kBitTorrentTraffic, nullptr);
    ASSERT_TRUE(WaitForFlag(b1));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!driver.FreeHeld() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(driver.FreeHeld()); // reported, not yet finished

    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    std::thread release([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        driver.HoldFree(false);
    });
    analysis.Start(&a2, &b2, kBitTorrentTraffic, nullptr);
    release.join();
    EXPECT_TRUE(WaitForFlag(b2));
    EXPECT_EQ(driver.CountCalls("open"), 2); // the capture started afresh
    analysis.Stop(&a2, &b2);
}

// The detection thread's later passes say what is switched on now: a receive
// thread that ended after finding all it was asked for starts again when there is
// something new to find, and not otherwise.
TEST_F(CaptureTest, AnEndedCaptureStartsAgainWhenThereIsSomethingNewToFind) {
    adapters.Add("eth");
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kBitTorrentTraffic, nullptr);
    ASSERT_TRUE(WaitForFlag(b));
    ASSERT_TRUE(driver.WaitForCalls("free", 1, 5000));
    analysis.Update(&a, &b, kBitTorrentTraffic, nullptr); // found already
    EXPECT_EQ(driver.CountCalls("open"), 1);

    driver.AddBatch(kPrefix + "eth", RelayBatch());
    analysis.Update(&a, &b, kAllTrafficKinds, nullptr); // relayed requests switched on
    ASSERT_TRUE(WaitForFlag(a));
    EXPECT_EQ(driver.CountCalls("open"), 2);
    ASSERT_TRUE(driver.WaitForCalls("free", 2, 5000));

    // Both switched off: the detection thread clears its bytes, nothing is looked
    // for. Switched on again, BitTorrent is looked for afresh.
    a = 0, b = 0;
    analysis.Update(&a, &b, 0, nullptr);
    EXPECT_EQ(driver.CountCalls("open"), 2);
    driver.AddBatch(kPrefix + "eth", BitTorrentBatch());
    analysis.Update(&a, &b, kBitTorrentTraffic, nullptr);
    EXPECT_TRUE(WaitForFlag(b));
    EXPECT_EQ(driver.CountCalls("open"), 3);

    // Another caller's update changes nothing.
    ResultFlag other{0};
    analysis.Update(&other, &other, kAllTrafficKinds, nullptr);
    EXPECT_EQ(driver.CountCalls("open"), 3);
    analysis.Stop(&a, &b);
}

std::vector<uint8_t> TestMac(uint8_t n) {
    return {0x02, 0x00, 0x5e, 0x00, 0x00, n};
}

std::vector<std::string> RowNames(const TPacketCapture& capture) {
    std::vector<std::string> names;
    for (int i = 0; i < capture.EntryCount; ++i)
        names.push_back(std::string(capture.Adapters[i].DeviceName).substr(kPrefix.size()));
    return names;
}

TEST_F(CaptureTest, TheAccessAdapterIsAlwaysAmongTheRows) {
    // Seven adapters (VPN and virtual ones before the access adapter), one of them
    // without a hardware address and two sharing one.
    for (uint8_t i = 0; i < 7; ++i)
        adapters.Add("A" + std::to_string(i), "Test adapter", TestMac(i));
    adapters.rows[1].mac.clear();
    adapters.rows[4].mac = TestMac(5);
    const struct {
        const char* what;
        std::vector<uint8_t> mac;
        std::vector<std::string> rows;
    } cases[] = {
        {"listed last", TestMac(6), {"A6", "A0", "A1", "A2", "A3"}},
        {"listed third", TestMac(2), {"A2", "A0", "A1", "A3", "A4"}},
        {"listed first", TestMac(0), {"A0", "A1", "A2", "A3", "A4"}},
        {"two with its address: the first", TestMac(5), {"A4", "A0", "A1", "A2", "A3"}},
        {"not listed", TestMac(9), {"A0", "A1", "A2", "A3", "A4"}},
        {"not known (zero)", std::vector<uint8_t>(6, 0), {"A0", "A1", "A2", "A3", "A4"}},
    };
    for (const auto& c : cases) {
        ResultFlag a{0}, b{0};
        TPacketCapture capture(&a, &b);
        capture.SetAccessMac(c.mac.data());
        capture.EnumAdapters();
        EXPECT_EQ(RowNames(capture), c.rows) << c.what;
    }
    ResultFlag a{0}, b{0};
    TPacketCapture capture(&a, &b);
    capture.SetAccessMac(nullptr);
    capture.EnumAdapters();
    EXPECT_EQ(RowNames(capture), cases[2].rows) << "no address given";
}

TEST_F(CaptureTest, ACaptureFollowsTheAccessAdapterToAnotherRow) {
    for (uint8_t i = 0; i < 7; ++i)
        adapters.Add("A" + std::to_string(i), "Test adapter", TestMac(i));
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, TestMac(6).data());
    ASSERT_EQ(driver.CountCalls("open"), 5);
    EXPECT_EQ(driver.Calls().front(), "open " + kPrefix + "A6");

    analysis.Update(&a, &b, kAllTrafficKinds, TestMac(6).data());
    analysis.Update(&a, &b, kAllTrafficKinds, TestMac(1).data()); // captured already
    EXPECT_EQ(driver.CountCalls("open"), 5);

    // The user connects through another adapter, one the rows do not hold.
    driver.AddBatch(kPrefix + "A5", BitTorrentBatch());
    analysis.Update(&a, &b, kAllTrafficKinds, TestMac(5).data());
    EXPECT_EQ(driver.CountCalls("open"), 10);
    EXPECT_EQ(driver.CountCalls("open " + kPrefix + "A5"), 1);
    EXPECT_TRUE(WaitForFlag(b));

    // An access address no adapter has does not restart the capture at every pass.
    analysis.Update(&a, &b, kAllTrafficKinds, TestMac(9).data());
    const int opens = driver.CountCalls("open");
    analysis.Update(&a, &b, kAllTrafficKinds, TestMac(9).data());
    EXPECT_EQ(driver.CountCalls("open"), opens);
    analysis.Stop(&a, &b);
}

TEST_F(CaptureTest, StopReturnsPromptlyWhileTheReceiverWaits) {
    adapters.Add("quiet");
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(driver.WaitForCalls("wait", 1, 5000));
    const auto start = std::chrono::steady_clock::now();
    analysis.Stop(&a, &b);
    const auto took = std::chrono::steady_clock::now() - start;
    // Well below the receive thread's 3000 ms wait: the wait was cut short.
    EXPECT_LT(took, std::chrono::milliseconds(2000));
    // The receive thread had ended (its packet freed) before any adapter closed.
    const std::vector<std::string> calls = driver.Calls();
    const auto freed = std::find(calls.begin(), calls.end(), "free");
    const auto closed = std::find(calls.begin(), calls.end(), "close " + kPrefix + "quiet");
    ASSERT_NE(freed, calls.end());
    ASSERT_NE(closed, calls.end());
    EXPECT_LT(freed, closed);
}

TEST_F(CaptureTest, FailingReceivesArePacedNotSpun) {
    adapters.Add("broken");
    FakeCaptureDriver::Script broken;
    broken.failReceive = true;
    driver.SetScript(kPrefix + "broken", broken);
    driver.AddBatch(kPrefix + "broken", BitTorrentBatch()); // the read event stays signalled
    ResultFlag a{0}, b{0};
    const auto start = std::chrono::steady_clock::now();
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(driver.WaitForCalls("receive", 5, 10000));
    // Four pauses of 100 ms lie between the first and the fifth attempt.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(380));
    analysis.Stop(&a, &b);
    EXPECT_EQ(b.load(), 0);
}

double ProcessCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

TEST_F(CaptureTest, NoAdaptersMeansAnIdleReceiver) {
    // No adapter at all: the receive thread has nothing to wait on but WakeEvent.
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(driver.WaitForCalls("init", 1, 5000));
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // a spinning thread burns this
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
    analysis.Stop(&a, &b);
}

TEST_F(CaptureTest, ShutdownEndsTheReceiverWhoeverOwnsIt) {
    adapters.Add("eth");
    ResultFlag a{0}, b{0};
    analysis.Start(&a, &b, kAllTrafficKinds, nullptr);
    ASSERT_TRUE(driver.WaitForCalls("wait", 1, 5000));
    analysis.Shutdown();
    EXPECT_EQ(driver.CountCalls("free"), 1);
    EXPECT_EQ(driver.OpenAdapters(), 0);
    EXPECT_EQ(TThread::Running(), 0);
}

} // namespace
