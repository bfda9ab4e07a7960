// The single-frame BitTorrent test, request keys, the relay test between two
// frames, and the queue that compares 20 frames pairwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MsgQueue.h"
#include "companion/capture_frames.h"

using namespace capture_test;

namespace {

const uint8_t* U(const char* s) {
    return reinterpret_cast<const uint8_t*>(s);
}

std::string KeyText(const FrameKey& k) {
    return std::string(reinterpret_cast<const char*>(k.Key), k.KeyLength);
}

struct FindCase {
    const char* data;
    const char* pattern;
    size_t window;
    size_t start;
    long expected;
};

TEST(FindBytes, FirstMatchThatEndsInsideTheWindow) {
    const FindCase cases[] = {
        {"abcdef", "abc", 6, 0, 0},  {"xxabcx", "abc", 6, 0, 2},
        {"xxabcx", "abc", 5, 0, 2},  // match ends at the window's last byte
        {"xxabcx", "abc", 4, 0, -1}, // match would end one byte past the window
        {"abcabc", "abc", 5, 1, 3},  // the search starts at `start`
        {"aaab", "aab", 4, 0, 1},    // a partial match restarts one byte later
        {"ab", "abc", 2, 0, -1},     // window shorter than the pattern
        {"abc", "", 3, 1, 1},        // an empty pattern matches at the start
        {"abc", "z", 3, 0, -1},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(FindBytes(U(c.data), U(c.pattern), strlen(c.pattern), c.window, c.start),
                  c.expected)
            << c.data << " / " << c.pattern << " window " << c.window << " start " << c.start;
    }
}

struct BitTorrentCase {
    const char* text;
    size_t payloadOffset; // where the text starts in the payload
    size_t captured;      // bytes of the frame present (0: the whole frame)
    bool expected;
};

TEST(IsBitTorrentFrame, SignaturesInTheFirst72PayloadBytes) {
    const BitTorrentCase cases[] = {
        {"\x13"
         "BitTorrent protocol",
         0, 0, true},
        {"BitTorrent protocol", 53, 0, true},  // ends at frame offset 125
        {"BitTorrent protocol", 54, 0, false}, // one byte too far
        {"BitTorrentprotocol", 0, 0, false},   // the name needs its blank
        {"GET /announce?info_hash=", 0, 0, true},
        {"announce", 64, 0, true},
        {"announce", 65, 0, false},
        // Only captured bytes count, even when the wire frame was longer.
        {"announce", 10, 54 + 18, true},
        {"announce", 10, 54 + 17, false},
        {"announce", 0, 54, false},
    };
    for (const BitTorrentCase& c : cases) {
        std::string payload(c.payloadOffset, 'x');
        payload += c.text;
        Bytes frame = Frame(Station(1), Station(2), 6881, 51413, payload, 200);
        const size_t captured = c.captured ? c.captured : frame.size();
        Bytes present(frame.begin(), frame.begin() + captured); // exactly the captured bytes
        EXPECT_EQ(IsBitTorrentFrame(present.data(), present.size()), c.expected)
            << c.text << " at " << c.payloadOffset << " captured " << captured;
    }
}

struct KeyCase {
    std::string payload;
    std::string key;
};

TEST(ParseFrame, KeysOfRequestAndResponseHeads) {
    const KeyCase cases[] = {
        {"GET /b HTTP/1.1\r\nHost: a\r\n\r\n", "GET /b "},
        {"GET http://a/b HTTP/1.1\r\nHost: a\r\n\r\n", "GET /b "}, // proxy form, same key
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n", "HTTP/1.1 200 OK\r\nContent-Type:"},
        {"HTTP/1.0 204", "HTTP/1.0 204"},
        {"0123456789ab", "0123456789ab"}, // neither URL nor version: all 12 bytes
        // "http://" starting inside the first 30 bytes but ending after them is not
        // an absolute URL; the version mark further on decides.
        {std::string(25, 'p') + "http://h/x HTTP/1.1",
         std::string(30, 'p').replace(25, 5, "http:")},
        // Absolute URL with no path or no version after the host: keyed by its head.
        {"GET http://hostonly", "GET http://hostonly"},
        {"GET http://h/path-without-version", "GET http://h/path-without-vers"},
        // A version mark starting inside the first 30 bytes ends the key there.
        {std::string(29, 'x') + "HTTP/1.1", std::string(29, 'x')},
        {std::string(30, 'x') + "HTTP/1.1", std::string(30, 'x')},
        // Keys longer than 30 bytes are cut.
        {"POST /a/very/long/path/that/goes/on HTTP/1.1", "POST /a/very/long/path/that/go"},
        {"GET http://h/a/very/long/path/that/goes/on HTTP/1.1", "GET /a/very/long/path/that/goe"},
    };
    for (const KeyCase& c : cases) {
        Bytes frame = Frame(Station(1), Station(2), 40000, 80, c.payload);
        FrameKey key;
        ASSERT_TRUE(TMsgQueue::ParseFrame(frame.data(), frame.size(), key)) << c.payload;
        EXPECT_EQ(KeyText(key), c.key) << c.payload;
    }
}

TEST(ParseFrame, HeaderFieldsAndShortFrames) {
    Bytes frame = Frame(Station(7), Station(9), 0x1234, 0x0050, "GET / HTTP/1.1");
    FrameKey key;
    ASSERT_TRUE(TMsgQueue::ParseFrame(frame.data(), frame.size(), key));
    EXPECT_EQ(int(key.Protocol), 6);
    EXPECT_EQ(key.SrcPort, 0x1234);
    EXPECT_EQ(key.DstPort, 0x0050);
    EXPECT_EQ(int(key.SrcMac[5]), 7);
    EXPECT_EQ(int(key.DstMac[5]), 9);
    EXPECT_EQ(int(key.SrcIp[3]), 7);
    EXPECT_EQ(int(key.DstIp[3]), 9);

    EXPECT_FALSE(TMsgQueue::ParseFrame(frame.data(), 54, key)); // no payload
    EXPECT_FALSE(TMsgQueue::ParseFrame(nullptr, 100, key));
}

TEST(ParseFrame, ReadsOnlyTheStoredBytesOfALongFrame) {
    // A queue slot keeps 1600 bytes of a longer frame: the searches stay inside
    // them (AddressSanitizer reports any read past this exact-size buffer), and a
    // version mark that would only lie beyond them is not seen.
    Bytes frame = Frame(Station(1), Station(2), 40000, 80, std::string(1546, 'z'));
    ASSERT_EQ(frame.size(), 1600u);
    FrameKey key;
    ASSERT_TRUE(TMsgQueue::ParseFrame(frame.data(), 3000, key));
    EXPECT_EQ(KeyText(key), std::string(30, 'z'));

    Bytes proxied =
        Frame(Station(1), Station(2), 40000, 3128, "GET http://h" + std::string(1534, 'q'));
    ASSERT_EQ(proxied.size(), 1600u);
    ASSERT_TRUE(TMsgQueue::ParseFrame(proxied.data(), 65535, key));
    EXPECT_EQ(KeyText(key), ("GET http://h" + std::string(18, 'q')));
}

struct RelayCase {
    const char* what;
    Mac rSrc, rDst, xSrc, xDst;
    uint16_t xPort;
    bool expected;
};

TEST(IsRelayedCopy, StationPairsAndFileSharingPorts) {
    const Mac A = Station(1), B = Station(2), C = Station(3), D = Station(4);
    const RelayCase cases[] = {
        {"A to B, then B to C (forwarded)", A, B, B, C, 80, true},
        {"A to B, then C to A", A, B, C, A, 80, true},
        {"A to B, then C to D", A, B, C, D, 80, true},
        {"A to B, then B to A (one conversation)", A, B, B, A, 80, false},
        {"A to B, then A to C (one sender)", A, B, A, C, 80, false},
        {"A to B, then C to B (one receiver)", A, B, C, B, 80, false},
        {"A to B, then A to B", A, B, A, B, 80, false},
        {"file sharing port 445", A, B, B, C, 445, false},
        {"file sharing port 139", A, B, B, C, 139, false},
        {"NetBIOS name port 137", A, B, B, C, 137, false},
    };
    for (const RelayCase& c : cases) {
        Bytes r = Frame(c.rSrc, c.rDst, 40000, 3128, "GET http://a/b HTTP/1.1\r\n");
        Bytes x = Frame(c.xSrc, c.xDst, 40001, c.xPort, "GET /b HTTP/1.1\r\n");
        FrameKey rk, xk;
        ASSERT_TRUE(TMsgQueue::ParseFrame(r.data(), r.size(), rk));
        EXPECT_EQ(TMsgQueue::IsRelayedCopy(x.data(), x.size(), rk), c.expected) << c.what;
        // The relation is symmetric: swap the roles.
        ASSERT_TRUE(TMsgQueue::ParseFrame(x.data(), x.size(), xk));
        EXPECT_EQ(TMsgQueue::IsRelayedCopy(r.data(), r.size(), xk), c.expected)
            << c.what << " (swapped)";
    }
    // A port on the keyed frame's side counts as well, and different heads never match.
    Bytes smb = Frame(Station(1), Station(2), 445, 40000, "GET /b HTTP/1.1\r\n");
    Bytes other = Frame(Station(2), Station(3), 40000, 80, "GET /c HTTP/1.1\r\n");
    Bytes same = Frame(Station(2), Station(3), 40000, 80, "GET /b HTTP/1.1\r\n");
    FrameKey k;
    ASSERT_TRUE(TMsgQueue::ParseFrame(smb.data(), smb.size(), k));
    EXPECT_FALSE(TMsgQueue::IsRelayedCopy(same.data(), same.size(), k));
    Bytes plain = Frame(Station(1), Station(2), 40000, 80, "GET /b HTTP/1.1\r\n");
    ASSERT_TRUE(TMsgQueue::ParseFrame(plain.data(), plain.size(), k));
    EXPECT_FALSE(TMsgQueue::IsRelayedCopy(other.data(), other.size(), k));
    EXPECT_TRUE(TMsgQueue::IsRelayedCopy(same.data(), same.size(), k));
    EXPECT_FALSE(TMsgQueue::IsRelayedCopy(same.data(), 54, k)); // empty payload never matches
}

// Opaque frames that never pair with anything: one conversation, distinct heads.
Bytes Filler(int n) {
    const Mac host = Station(1), gateway = Station(2);
    return Frame(n % 2 ? host : gateway, n % 2 ? gateway : host, 40000, 443,
                 "opaque-" + std::to_string(n) + std::string(60, char('a' + n % 26)));
}

TEST(TMsgQueue, PutFillsAfter19AndGetWalksBack) {
    TMsgQueue queue(20);
    QueueSlot out;
    EXPECT_FALSE(queue.Get(out)); // a fresh queue yields nothing
    Bytes frame = Filler(0);
    for (int i = 0; i < 19; ++i)
        EXPECT_TRUE(queue.Put(kQueueTag, uint16_t(frame.size()), frame.data())) << i;
    EXPECT_FALSE(queue.Put(kQueueTag, uint16_t(frame.size()), frame.data()));
    EXPECT_TRUE(queue.IsFull());
    queue.Reset();
    EXPECT_FALSE(queue.Get(out)); // nor does a reset one

    // A partly filled queue gives its frames back newest first, then stops.
    for (int i = 0; i < 3; ++i) {
        Bytes f = Filler(i);
        queue.Put(uint16_t(100 + i), uint16_t(f.size()), f.data());
    }
    std::vector<int> tags;
    while (queue.Get(out))
        tags.push_back(out.Tag);
    EXPECT_EQ(tags, (std::vector<int>{102, 101, 100}));
}

TEST(TMsgQueue, PutKeepsAtMost1600Bytes) {
    TMsgQueue queue(3);
    Bytes big = Frame(Station(1), Station(2), 1, 2, std::string(2000, 'b'));
    queue.Put(kQueueTag, uint16_t(big.size()), big.data());
    QueueSlot out;
    ASSERT_TRUE(queue.Get(out));
    EXPECT_EQ(out.Length, big.size());
    EXPECT_EQ(out.Data[1599], 'b');
    EXPECT_EQ(out.Data[1600], 0);
}

// Which pairs of a full queue of 20 are compared: every pair whose positions
// differ by 2 or more, and the last frame with every other; neighbours are not.
TEST(TMsgQueue, AnalyseComparesTheSpecifiedPairs) {
    const Mac A = Station(10), B = Station(11), C = Station(12);
    const Bytes toProxy = Frame(A, B, 40000, 3128, "GET http://site/page HTTP/1.1\r\n");
    const Bytes forwarded = Frame(B, C, 40001, 80, "GET /page HTTP/1.1\r\n");
    TMsgQueue queue(20);
    for (int i = 0; i < 20; ++i) {
        for (int j = i + 1; j < 20; ++j) {
            for (int n = 0; n < 20; ++n) {
                const Bytes f = n == i ? toProxy : n == j ? forwarded : Filler(n);
                const bool more = queue.Put(kQueueTag, uint16_t(f.size()), f.data());
                ASSERT_EQ(more, n < 19);
            }
            const bool expected = j - i >= 2 || j == 19;
            EXPECT_EQ(queue.Analyse(), expected) << "pair " << i << ", " << j;
            // Either way the queue is empty again and fills anew.
            QueueSlot out;
            EXPECT_FALSE(queue.Get(out));
        }
    }
}

TEST(TMsgQueue, AnalyseFindsNothingAmongUnrelatedFramesAndLeavesAPartialQueue) {
    TMsgQueue queue(20);
    for (int n = 0; n < 5; ++n) {
        Bytes f = Filler(n);
        queue.Put(kQueueTag, uint16_t(f.size()), f.data());
    }
    EXPECT_FALSE(queue.Analyse());
    EXPECT_EQ(queue.CursorForTest(), 5); // not full: untouched
    for (int n = 5; n < 20; ++n) {
        Bytes f = Filler(n);
        queue.Put(kQueueTag, uint16_t(f.size()), f.data());
    }
    EXPECT_FALSE(queue.Analyse());
    EXPECT_EQ(queue.CursorForTest(), 0);
}

} // namespace
