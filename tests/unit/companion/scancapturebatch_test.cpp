// The walk over one driver batch: record offsets, which frames are tested and
// queued, and that no read leaves the batch or a frame's captured bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MsgQueue.h"
#include "PacketCapture.h"
#include "companion/capture_frames.h"

using namespace capture_test;

namespace {

struct Walk {
    ResultFlag relayed{0};
    ResultFlag bitTorrent{0};
    TPacketCapture capture{&relayed, &bitTorrent};
    TMsgQueue queue{20};

    // The batch is copied into a buffer of exactly its size, so AddressSanitizer
    // reports any read beyond it. It stays until the next run, as a receive
    // buffer does until the next read.
    bool Run(const Bytes& batch, long reported = -1, uint8_t kinds = kAllTrafficKinds) {
        exact = batch;
        return ScanCaptureBatch(capture, queue, exact.data(),
                                uint32_t(reported < 0 ? exact.size() : size_t(reported)), kinds);
    }
    Bytes exact;
    // Lengths of the queued frames, oldest first.
    std::vector<int> Queued() {
        std::vector<int> lengths;
        for (const Bytes& f : QueuedFrames())
            lengths.push_back(int(f.size()));
        return lengths;
    }
    // The queued frames' stored bytes, oldest first.
    std::vector<Bytes> QueuedFrames() {
        std::vector<Bytes> frames;
        QueueSlot out;
        while (queue.Get(out))
            frames.insert(frames.begin(), Bytes(out.Data, out.Data + out.Length));
        return frames;
    }
};

struct FrameCase {
    const char* what;
    Bytes frame;
    bool bitTorrent;
    std::vector<int> queued;
};

TEST(ScanCaptureBatch, WhichFramesAreTestedAndQueued) {
    const FrameCase cases[] = {
        {"78-byte TCP frame with announce", TcpFrameOfLength(78, "announce"), true, {}},
        {"78-byte TCP frame without", TcpFrameOfLength(78, "GET / HTTP"), false, {}},
        {"72-byte TCP frame with announce is not tested",
         TcpFrameOfLength(72, "announce"),
         false,
         {}},
        {"73-byte TCP frame with announce", TcpFrameOfLength(73, "announce"), true, {}},
        {"80-byte TCP frame is not queued", TcpFrameOfLength(80, "GET / HTTP"), false, {}},
        {"81-byte TCP frame is queued", TcpFrameOfLength(81, "GET / HTTP"), false, {81}},
        {"UDP frame is neither tested nor queued",
         TcpFrameOfLength(200, "announce", 17),
         false,
         {}},
        {"ARP frame", Frame(Station(1), Station(2), 0, 0, "announce", 100, 6, 0x0806), false, {}},
        {"a signature frame is not queued",
         TcpFrameOfLength(300, "\x13"
                               "BitTorrent protocol"),
         true,
         {}},
    };
    for (const FrameCase& c : cases) {
        Walk walk;
        const bool stopped = walk.Run(Batch().Add(c.frame).bytes);
        EXPECT_EQ(stopped, c.bitTorrent) << c.what;
        EXPECT_EQ(walk.bitTorrent.load(), c.bitTorrent ? 1 : 0) << c.what;
        EXPECT_EQ(walk.Queued(), c.queued) << c.what;
        EXPECT_EQ(walk.relayed.load(), 0) << c.what;
    }
}

Bytes Raw(uint32_t caplen, uint32_t datalen, uint16_t hdrlen, size_t total) {
    Bytes b(total, 0);
    packet32::bpf_hdr h = {};
    h.bh_caplen = caplen;
    h.bh_datalen = datalen;
    h.bh_hdrlen = hdrlen;
    std::memcpy(b.data(), &h, std::min(sizeof h, total));
    return b;
}

Bytes Tagged(const Bytes& f) {
    return Vlan(f);
}
Bytes PppoeFramed(const Bytes& f) {
    return Pppoe(f);
}
Bytes TaggedPppoe(const Bytes& f) {
    return Vlan(Pppoe(f));
}

// One flow gives the same findings however it is framed: the sizes count without
// the encapsulation (so a 72-byte frame inside PPPoE, 80 bytes on the wire, is not
// tested, and an 80-byte one, 88 on the wire, is not queued), and a queued frame
// is the plain frame, ready for the relay analysis.
TEST(ScanCaptureBatch, EncapsulatedFramesAreAnalysedAsThePlainFrameInside) {
    const Bytes plains[] = {
        TcpFrameOfLength(78, "announce"),
        TcpFrameOfLength(72, "announce"),
        TcpFrameOfLength(73, "announce"),
        TcpFrameOfLength(80, "GET / HTTP"),
        TcpFrameOfLength(81, "GET / HTTP"),
        TcpFrameOfLength(1514, "GET /big HTTP/1.1"),
        TcpFrameOfLength(200, "announce", 17),
        TcpFrameOfLength(300, "\x13"
                              "BitTorrent protocol"),
    };
    const struct {
        const char* name;
        Bytes (*wrap)(const Bytes&);
    } framings[] = {{"PPPoE", PppoeFramed}, {"one tag", Tagged}, {"tag and PPPoE", TaggedPppoe}};
    for (const auto& framing : framings) {
        for (const Bytes& plain : plains) {
            const std::string what =
                std::string(framing.name) + ", " + std::to_string(plain.size()) + " bytes plain";
            Walk expected, walk;
            const bool plainStopped = expected.Run(Batch().Add(plain).bytes);
            const Bytes framed = framing.wrap(plain);
            ASSERT_GT(framed.size(), plain.size()) << what;
            EXPECT_EQ(walk.Run(Batch().Add(framed).bytes), plainStopped) << what;
            EXPECT_EQ(walk.bitTorrent.load(), expected.bitTorrent.load()) << what;
            EXPECT_EQ(walk.QueuedFrames(), expected.QueuedFrames()) << what;
        }
    }
}

// The proxy's copy of a request is recognised whichever framing each of the two
// frames arrived in.
TEST(ScanCaptureBatch, RelayedPairAcrossFramingsIsFound) {
    const Bytes toProxy =
        Frame(Station(1), Station(2), 40000, 3128, "GET http://site/x HTTP/1.1\r\n\r\n", 120);
    const Bytes forwarded =
        Frame(Station(2), Station(3), 40001, 80, "GET /x HTTP/1.1\r\n\r\n", 120);
    const struct {
        Bytes (*first)(const Bytes&);
        Bytes (*second)(const Bytes&);
    } pairs[] = {{PppoeFramed, PppoeFramed}, {PppoeFramed, Tagged}, {TaggedPppoe, nullptr}};
    for (const auto& pair : pairs) {
        Walk walk;
        Batch b;
        b.Add(pair.first(toProxy));
        for (int i = 0; i < 18; ++i)
            b.Add(PppoeFramed(
                Frame(Station(5), Station(6), 40000, 443, "tls" + std::to_string(i), 200)));
        b.Add(pair.second ? pair.second(forwarded) : forwarded);
        ASSERT_TRUE(walk.Run(b.bytes)); // the 20th frame filled the queue
        EXPECT_TRUE(walk.queue.Analyse());
    }
}

Bytes WithEtherType(Bytes f, uint16_t type) {
    f[12] = uint8_t(type >> 8);
    f[13] = uint8_t(type);
    return f;
}

// Each would be found or queued if it were taken as IPv4 TCP.
TEST(ScanCaptureBatch, OtherFramingsAndMalformedEncapsulationsAreSkipped) {
    const Bytes inner = TcpFrameOfLength(200, "announce");
    const size_t pppLength = inner.size() - 14 + 2; // the PPPoE length of `inner`
    const struct {
        const char* what;
        Bytes frame;
    } cases[] = {
        {"PPPoE discovery (0x8863)", WithEtherType(Pppoe(inner), 0x8863)},
        {"LCP inside PPPoE", Pppoe(inner, 0xc021)},
        {"IPv6 inside PPPoE", Pppoe(inner, 0x0057)},
        {"compressed PPP protocol field", Pppoe(inner, 0x2145)},
        {"PPPoE version 2", Pppoe(inner, 0x0021, 0x00, 0x21)},
        {"PADT code on a session frame", Pppoe(inner, 0x0021, 0xa7)},
        {"PPPoE length one past the frame", Pppoe(inner, 0x0021, 0x00, 0x11, 1)},
        {"PPPoE length without room for the protocol",
         Pppoe(inner, 0x0021, 0x00, 0x11, 1 - int(pppLength))},
        {"UDP inside PPPoE", Pppoe(TcpFrameOfLength(200, "announce", 17))},
        {"two tags", Vlan(Vlan(inner))},
        {"802.1ad outer tag", Vlan(inner, 0x88a8)},
        {"tagged ARP", Vlan(Frame(Station(1), Station(2), 0, 0, "announce", 200, 6, 0x0806))},
        {"tagged PPPoE discovery", Vlan(WithEtherType(Pppoe(inner), 0x8863))},
    };
    for (const auto& c : cases) {
        Walk walk;
        EXPECT_FALSE(walk.Run(Batch().Add(c.frame).bytes)) << c.what;
        EXPECT_EQ(walk.bitTorrent.load(), 0) << c.what;
        EXPECT_TRUE(walk.Queued().empty()) << c.what;
    }
}

TEST(ScanCaptureBatch, TruncatedEncapsulationsAreNotReadPastTheirCapturedBytes) {
    // Every captured length short of the end of the "announce" at the payload's
    // head, of a record that ends the batch (AddressSanitizer reports any read
    // past it): the headers are cut anywhere, then the payload.
    const Bytes inner = TcpFrameOfLength(200, "announce");
    for (const Bytes& framed : {Pppoe(inner), Vlan(inner), Vlan(Pppoe(inner))}) {
        const size_t signatureEnd = framed.size() - inner.size() + kPayloadOffset + 8;
        for (uint32_t captured = 0; captured < signatureEnd; ++captured) {
            Walk walk;
            Bytes batch = Raw(captured, uint32_t(framed.size()), 20, 20 + captured);
            std::memcpy(batch.data() + 20, framed.data(), captured);
            EXPECT_FALSE(walk.Run(batch)) << framed.size() << " " << captured;
            EXPECT_EQ(walk.bitTorrent.load(), 0) << framed.size() << " " << captured;
        }
        Walk whole;
        EXPECT_TRUE(whole.Run(Batch().Add(framed, long(signatureEnd)).bytes)) << framed.size();
    }
}

TEST(ScanCaptureBatch, LooksOnlyForTheKindsAskedFor) {
    // BitTorrent only: nothing is queued, so a full queue never stops the walk.
    Walk btOnly;
    Batch many;
    for (int i = 0; i < 25; ++i)
        many.Add(TcpFrameOfLength(200, "GET /" + std::to_string(i) + " HTTP/1.1"));
    EXPECT_FALSE(btOnly.Run(many.bytes, -1, kBitTorrentTraffic));
    EXPECT_TRUE(btOnly.Queued().empty());

    // Relayed requests only: a signature is not looked for, and its frame is
    // queued like any other.
    Walk relayedOnly;
    const Bytes handshake = TcpFrameOfLength(300, "\x13"
                                                  "BitTorrent protocol");
    EXPECT_FALSE(relayedOnly.Run(Batch().Add(handshake).bytes, -1, kRelayedTraffic));
    EXPECT_EQ(relayedOnly.bitTorrent.load(), 0);
    EXPECT_EQ(relayedOnly.Queued(), std::vector<int>{300});

    Walk neither;
    EXPECT_FALSE(neither.Run(Batch().Add(handshake).bytes, -1, 0));
    EXPECT_EQ(neither.bitTorrent.load(), 0);
    EXPECT_TRUE(neither.Queued().empty());
}

TEST(ScanCaptureBatch, EmptyBatchStoresNothing) {
    Walk walk;
    Bytes batch = Batch().Add(TcpFrameOfLength(200)).bytes;
    EXPECT_FALSE(walk.Run(batch, 0));
    EXPECT_TRUE(walk.Queued().empty());
}

TEST(ScanCaptureBatch, RecordsStartOnFourByteBoundaries) {
    // 20-byte header + 41 captured bytes end at 61: the next record is at 64.
    Walk walk;
    Batch batch;
    batch.Add(TcpFrameOfLength(41));
    ASSERT_EQ(batch.bytes.size(), 64u);
    batch.Add(TcpFrameOfLength(90, "announce"));
    EXPECT_TRUE(walk.Run(batch.bytes));
    EXPECT_EQ(walk.bitTorrent.load(), 1);
}

TEST(ScanCaptureBatch, StopsAtTheFrameThatFillsTheQueueOrCarriesASignature) {
    Walk walk;
    Batch batch;
    for (int i = 0; i < 20; ++i)
        batch.Add(TcpFrameOfLength(size_t(100 + i)));
    batch.Add(TcpFrameOfLength(120, "announce")); // after the full queue: not examined
    EXPECT_TRUE(walk.Run(batch.bytes));
    EXPECT_EQ(walk.bitTorrent.load(), 0);
    EXPECT_TRUE(walk.queue.IsFull());

    Walk second;
    Batch b2;
    b2.Add(TcpFrameOfLength(100)).Add(TcpFrameOfLength(120, "announce")).Add(TcpFrameOfLength(130));
    EXPECT_TRUE(second.Run(b2.bytes));
    EXPECT_EQ(second.Queued(), std::vector<int>{100});
}

TEST(ScanCaptureBatch, QueuedFramesOutliveTheReceiveBuffer) {
    // A batch that leaves the queue partly filled: its frames must be the queue's
    // own before the next read reuses the buffer.
    Walk walk;
    const Bytes first = TcpFrameOfLength(100, "GET /one HTTP/1.1");
    const Bytes second = TcpFrameOfLength(300, "GET /two HTTP/1.1");
    EXPECT_FALSE(walk.Run(Batch().Add(first).Add(second).bytes));
    std::fill(walk.exact.begin(), walk.exact.end(), 0xEE); // the next read
    QueueSlot out;
    ASSERT_TRUE(walk.queue.Get(out));
    EXPECT_EQ(Bytes(out.Data, out.Data + out.Length), second);
    ASSERT_TRUE(walk.queue.Get(out));
    EXPECT_EQ(Bytes(out.Data, out.Data + out.Length), first);
}

TEST(ScanCaptureBatch, QueuesOnlyTheCapturedBytesOfATruncatedFrame) {
    // 1514 bytes on the wire, 96 captured: the slot holds 96 bytes, and a
    // signature that would only lie beyond them is not read.
    Walk walk;
    Bytes frame = TcpFrameOfLength(1514, std::string(50, 'x') + "announce");
    EXPECT_FALSE(walk.Run(Batch().Add(frame, 96, 1514).bytes));
    EXPECT_EQ(walk.bitTorrent.load(), 0);
    EXPECT_EQ(walk.Queued(), std::vector<int>{96});
    // The wire length still decides the thresholds: 81 on the wire but 60 captured
    // is queued with its 60 bytes.
    Walk short60;
    EXPECT_FALSE(short60.Run(Batch().Add(TcpFrameOfLength(81), 60, 81).bytes));
    EXPECT_EQ(short60.Queued(), std::vector<int>{60});
}

struct BadBatchCase {
    const char* what;
    Bytes batch;
    long reported; // -1: the batch's size
};

TEST(ScanCaptureBatch, MalformedBatchesEndTheWalkInsideTheBatch) {
    Bytes good = Batch().Add(TcpFrameOfLength(100)).bytes;
    Bytes truncatedHeader = good;
    truncatedHeader.resize(good.size() + 10, 0); // 10 stray bytes: no room for a header
    Bytes bigBuffer = Batch().Add(TcpFrameOfLength(100)).bytes;
    bigBuffer.resize(kPacketBufferSize, 0);
    // A last header just before the buffer's end whose frame runs past it.
    packet32::bpf_hdr tail = {};
    tail.bh_caplen = 100;
    tail.bh_datalen = 100;
    tail.bh_hdrlen = 20;
    std::memcpy(&bigBuffer[bigBuffer.size() - 40], &tail, sizeof tail);
    for (size_t at = good.size(); at + 20 <= bigBuffer.size() - 40; at += 20) {
        packet32::bpf_hdr pad = {};
        pad.bh_hdrlen = 20; // empty records up to the tail
        std::memcpy(&bigBuffer[at], &pad, sizeof pad);
    }
    const BadBatchCase cases[] = {
        {"header longer than the batch", Raw(0, 0, 20, 10), -1},
        {"both lengths 0 (would never advance)", Raw(0, 0, 0, 64), -1},
        {"header length below the header's size", Raw(40, 40, 8, 64), -1},
        {"header length past the batch", Raw(0, 0, 400, 64), -1},
        {"captured length past the batch", Raw(5000, 5000, 20, 200), -1},
        {"captured length that wraps an offset", Raw(0xFFFFFFF0u, 100, 20, 64), -1},
        {"stray bytes after a good record", truncatedHeader, -1},
        {"driver claims more than its buffer", bigBuffer, 300000},
    };
    for (const BadBatchCase& c : cases) {
        Walk walk;
        EXPECT_FALSE(walk.Run(c.batch, c.reported)) << c.what;
        EXPECT_EQ(walk.bitTorrent.load(), 0) << c.what;
    }
    // The good record before the stray bytes was still walked.
    Walk walk;
    walk.Run(truncatedHeader);
    EXPECT_EQ(walk.Queued(), std::vector<int>{100});
}

TEST(ScanCaptureBatch, ShortFramesAreNotReadPastTheirCapturedBytes) {
    // Fewer captured bytes than the fixed offsets need: skipped without reading
    // them (AddressSanitizer would report it: each record sits at the batch's end).
    for (uint32_t captured : {0u, 12u, 14u, 23u, 24u, 54u, 60u}) {
        Walk walk;
        Bytes frame = TcpFrameOfLength(200, "announce");
        Bytes batch = Raw(captured, 200, 20, 20 + captured);
        std::memcpy(batch.data() + 20, frame.data(), captured);
        EXPECT_FALSE(walk.Run(batch)) << captured;
        EXPECT_EQ(walk.bitTorrent.load(), 0) << captured;
    }
}

} // namespace
