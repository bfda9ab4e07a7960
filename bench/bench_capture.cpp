// Throughput of the capture's batch walk with the relay analysis, against a floor
// that only copies each batch and walks its headers. Run by bench/capture_bench.py.
//
//   bench_capture write PROFILE SEED FRAMES PCAP   writes the generated traffic as pcap
//   bench_capture run PROFILE SEED FRAMES RUNS     times it as driver batches
//
// PROFILE is "mixed" (60 to 1514 bytes: opaque bulk data, ACKs, DNS, HTTP requests
// and responses, a known number of BitTorrent handshakes, tracker announces and
// relayed requests), "pppoe" (the same traffic as the access adapter carries it on a
// PPPoE link: every frame a PPPoE session frame) or "small" (64-byte frames only).
// The same seed gives the same traffic in both forms. "run" fails (exit 1) when
// the detections differ from what the generator put in.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "MsgQueue.h"
#include "PacketCapture.h"
#include "packet32.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Mac {
    uint8_t b[6];
};
const Mac kHost{{0x02, 0xfc, 0, 0, 0, 0x01}};
const Mac kGateway{{0x02, 0xfc, 0, 0, 0, 0xfe}};
const Mac kNeighbours[] = {
    {{0x02, 0xfc, 0, 0, 0, 0x11}}, {{0x02, 0xfc, 0, 0, 0, 0x12}}, {{0x02, 0xfc, 0, 0, 0, 0x13}}};
const Mac kLanClient{{0x02, 0xfc, 0, 0, 0, 0x21}};
const Mac kLanProxy{{0x02, 0xfc, 0, 0, 0, 0x22}};

struct Frame {
    Bytes bytes;
};

class Generator {
  public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    uint32_t Next(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

    Bytes Tcp(Mac src, Mac dst, uint16_t sport, uint16_t dport, const std::string& payload,
              size_t total = 0) {
        Bytes f(54, 0);
        std::memcpy(&f[0], dst.b, 6);
        std::memcpy(&f[6], src.b, 6);
        f[12] = 0x08;
        f[14] = 0x45;
        f[22] = 64;
        f[23] = 6;
        f[26] = 10;
        f[29] = src.b[5];
        f[30] = 10;
        f[33] = dst.b[5];
        f[34] = uint8_t(sport >> 8);
        f[35] = uint8_t(sport);
        f[36] = uint8_t(dport >> 8);
        f[37] = uint8_t(dport);
        f[46] = 0x50;
        f[47] = 0x18;
        if (!payload.empty())
            f.insert(f.end(), payload.begin(), payload.end());
        if (f.size() < 60)
            f.resize(60, 0);
        if (total > f.size()) {
            const size_t at = f.size();
            f.resize(total);
            for (size_t i = at; i < total; ++i)
                f[i] = uint8_t(rng_()); // opaque bytes
        }
        const size_t ipLength = f.size() - 14;
        f[16] = uint8_t(ipLength >> 8);
        f[17] = uint8_t(ipLength);
        return f;
    }

    Bytes Udp(Mac src, Mac dst, size_t total) {
        Bytes f = Tcp(src, dst, 53000, 53, "", total);
        f[23] = 17;
        return f;
    }

    Mac Peer() { return Next(4) == 0 ? kNeighbours[Next(3)] : kHost; }

    // One frame of ordinary traffic, from one of 64 conversations that come and go.
    // Every conversation runs between a station and the gateway, so none of it can
    // ever look relayed.
    struct FlowSlot {
        Mac peer;
        uint16_t port;
    };
    FlowSlot PickFlow() {
        if (flows_.empty() || Next(50) == 0) {
            const FlowSlot flow{Peer(), uint16_t(49152 + Next(16000))};
            if (flows_.size() < 64)
                flows_.push_back(flow);
            else
                flows_[Next(64)] = flow;
        }
        return flows_[Next(uint32_t(flows_.size()))];
    }

    Bytes Ordinary() {
        const FlowSlot flow = PickFlow();
        const Mac peer = flow.peer;
        const bool up = Next(2) == 0;
        const Mac src = up ? peer : kGateway, dst = up ? kGateway : peer;
        const uint16_t port = flow.port;
        const uint32_t kind = Next(100);
        if (kind < 35)
            return Tcp(src, dst, port, 443, "", 60 + Next(7)); // ACKs
        if (kind < 40)
            return Udp(src, dst, 70 + Next(60)); // DNS and the like
        if (kind < 47)
            return Tcp(src, dst, port, 443, "", 67 + Next(14)); // 67-80: small segments
        if (kind < 52) {
            static const char* paths[] = {"/",
                                          "/index.html",
                                          "/static/app.js",
                                          "/img/logo.png",
                                          "/api/v1/items?page=2",
                                          "/news/today",
                                          "/favicon.ico"};
            std::string req = std::string(Next(5) ? "GET " : "POST ") + paths[Next(7)] +
                              " HTTP/1.1\r\nHost: www.example.com\r\nUser-Agent: Mozilla/5.0\r\n"
                              "Accept: */*\r\nConnection: keep-alive\r\n\r\n";
            return Tcp(peer, kGateway, port, 80, req);
        }
        if (kind < 57)
            return Tcp(kGateway, peer, 80, port,
                       "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1200\r\n\r\n",
                       200 + Next(1300));
        if (kind < 72)
            return Tcp(src, dst, port, 443, "", 81 + Next(520));                // interactive
        return Tcp(src, dst, port, 443, "", Next(3) ? 1514 : 1000 + Next(515)); // bulk
    }

    Bytes Handshake() {
        std::string p = "\x13"
                        "BitTorrent protocol";
        p += std::string(8, '\0') + std::string(20, 'h') + "-qB4450-" + std::string(12, 'p');
        return Tcp(kHost, kNeighbours[0], uint16_t(50000 + Next(1000)), 6881, p);
    }
    Bytes Announce() {
        return Tcp(kHost, kGateway, uint16_t(50000 + Next(1000)), 80,
                   "GET /announce?info_hash=%aa%bb%cc&peer_id=-qB4450-xyz&port=6881&left=0"
                   " HTTP/1.1\r\nHost: tracker.example.org\r\n\r\n");
    }
    std::pair<Bytes, Bytes> RelayedPair() {
        const std::string path = "/doc/" + std::to_string(Next(100000)) + ".html";
        return {Tcp(kLanClient, kLanProxy, uint16_t(50000 + Next(1000)), 3128,
                    "GET http://intranet.example" + path +
                        " HTTP/1.1\r\nHost: intranet.example\r\n\r\n"),
                Tcp(kLanProxy, kGateway, uint16_t(50000 + Next(1000)), 80,
                    "GET " + path + " HTTP/1.1\r\nHost: intranet.example\r\nVia: 1.1 p\r\n\r\n")};
    }

  private:
    std::mt19937 rng_;
    std::vector<FlowSlot> flows_;
};

bool Queued(const Bytes& f) {
    return IsIPv4TcpFrame(f.data(), f.size()) && f.size() > 80;
}

struct Traffic {
    std::vector<Bytes> batches; // bpf records as the driver delivers them
    std::vector<const Bytes*> frames;
    std::vector<Bytes> store;
    size_t frameCount = 0;
    uint64_t capturedBytes = 0;
    int bitTorrent = 0;
    int relayed = 0;
};

// The IPv4 frame as a PPPoE session frame: the same addresses, EtherType 0x8864,
// the PPPoE header, PPP protocol 0x0021, the IPv4 packet without Ethernet padding.
Bytes PppoeSession(const Bytes& frame) {
    const size_t ipLength = size_t(frame[16] << 8 | frame[17]);
    const size_t pppLength = ipLength + 2;
    Bytes f(frame.begin(), frame.begin() + 12);
    const uint8_t header[] = {
        0x88, 0x64, 0x11, 0x00, 0x2a, 0x17, uint8_t(pppLength >> 8), uint8_t(pppLength),
        0x00, 0x21};
    f.insert(f.end(), header, header + sizeof header);
    f.insert(f.end(), frame.begin() + 14, frame.begin() + 14 + ipLength);
    if (f.size() < 60)
        f.resize(60, 0);
    return f;
}

void AppendRecord(Bytes& batch, const Bytes& frame, uint32_t index) {
    packet32::bpf_hdr h = {};
    h.tv_sec = 1700000000 + int32_t(index / 1000);
    h.tv_usec = int32_t(index % 1000) * 1000;
    h.bh_caplen = uint32_t(frame.size());
    h.bh_datalen = uint32_t(frame.size());
    h.bh_hdrlen = sizeof h;
    const size_t at = batch.size();
    batch.resize(packet32::WordAlign(uint32_t(at + sizeof h + frame.size())), 0);
    std::memcpy(&batch[at], &h, sizeof h);
    std::memcpy(&batch[at + sizeof h], frame.data(), frame.size());
}

// Mixed traffic in batches that each end where the receive thread would stop and
// look at its results: at the 20th queued frame (the queue is full, the analysis
// runs) or at a BitTorrent signature. So every generated frame is walked, and each
// planted handshake, announce and relayed pair must be found exactly once.
Traffic MakeMixed(uint32_t seed, size_t frames, bool pppoe) {
    Generator g(seed);
    Traffic t;
    std::vector<std::vector<Bytes>> plan;
    while (t.frameCount < frames) {
        std::vector<Bytes> batch;
        const uint32_t kind = g.Next(100);
        if (kind < 2) {
            // Some traffic, then a handshake or an announce ends the batch.
            const uint32_t before = g.Next(30);
            int queued = 0;
            for (uint32_t i = 0; i < before; ++i) {
                Bytes f = g.Ordinary();
                if (Queued(f) && queued == 18)
                    continue;
                queued += Queued(f);
                batch.push_back(std::move(f));
            }
            batch.push_back(g.Next(2) ? g.Handshake() : g.Announce());
            ++t.bitTorrent;
        } else {
            // Exactly 20 queued frames, the last one last; sometimes a relayed pair
            // at queue positions that the analysis compares.
            const bool relay = kind < 6;
            int a = -1, b = -1;
            if (relay) {
                a = int(g.Next(17));
                b = a + 2 + int(g.Next(uint32_t(18 - a)));
                ++t.relayed;
            }
            const auto pair = relay ? g.RelayedPair() : std::pair<Bytes, Bytes>();
            int queued = 0;
            while (queued < 20) {
                Bytes f = queued == a ? pair.first : queued == b ? pair.second : g.Ordinary();
                queued += Queued(f);
                batch.push_back(std::move(f));
            }
        }
        t.frameCount += batch.size();
        plan.push_back(std::move(batch));
    }
    uint32_t index = 0;
    for (auto& batch : plan) {
        Bytes bytes;
        for (auto& f : batch) {
            if (pppoe)
                f = PppoeSession(f);
            AppendRecord(bytes, f, index++);
            t.capturedBytes += f.size();
            t.store.push_back(std::move(f));
        }
        t.batches.push_back(std::move(bytes));
    }
    return t;
}

// 64-byte frames (ACKs and small UDP), in batches as large as a read takes.
Traffic MakeSmall(uint32_t seed, size_t frames) {
    Generator g(seed);
    Traffic t;
    Bytes batch;
    for (size_t i = 0; i < frames; ++i) {
        const auto flow = g.PickFlow();
        Bytes f = g.Next(5) ? g.Tcp(flow.peer, kGateway, flow.port, 443, "", 64)
                            : g.Udp(flow.peer, kGateway, 64);
        if (batch.size() + 20 + 64 > kPacketBufferSize) {
            t.batches.push_back(std::move(batch));
            batch.clear();
        }
        AppendRecord(batch, f, uint32_t(i));
        t.capturedBytes += f.size();
        ++t.frameCount;
        t.store.push_back(std::move(f));
    }
    if (!batch.empty())
        t.batches.push_back(std::move(batch));
    return t;
}

Traffic Make(const std::string& profile, uint32_t seed, size_t frames) {
    if (profile == "small")
        return MakeSmall(seed, frames);
    return MakeMixed(seed, frames, profile == "pppoe");
}

int WritePcap(const Traffic& t, const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return 1;
    const uint32_t header[6] = {0xa1b2c3d4, 2 | (4u << 16), 0, 0, 65535, 1};
    std::fwrite(header, sizeof header, 1, f);
    uint32_t index = 0;
    for (const Bytes& frame : t.store) {
        const uint32_t rec[4] = {1700000000 + index / 1000, (index % 1000) * 1000,
                                 uint32_t(frame.size()), uint32_t(frame.size())};
        std::fwrite(rec, sizeof rec, 1, f);
        std::fwrite(frame.data(), 1, frame.size(), f);
        ++index;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

// The receive buffer a real read copies each batch into.
uint8_t g_receiveBuffer[kPacketBufferSize];

struct Found {
    int bitTorrent = 0;
    int relayed = 0;
};

// The receive thread's work per batch: the read's copy, the walk, and the analysis
// of a full queue. A finding ends a real receive thread; here the next one starts
// at once with an empty queue, so every planted item is counted.
Found Analyse(const Traffic& t, TPacketCapture& capture, ResultFlag& bt, TMsgQueue& queue) {
    Found found;
    for (const Bytes& batch : t.batches) {
        std::memcpy(g_receiveBuffer, batch.data(), batch.size());
        if (!ScanCaptureBatch(capture, queue, g_receiveBuffer, uint32_t(batch.size()),
                              kAllTrafficKinds))
            continue;
        if (bt.exchange(0) != 0) {
            ++found.bitTorrent;
            queue.Reset();
        } else if (queue.Analyse()) {
            ++found.relayed;
        }
    }
    return found;
}

// The floor: the same copies, and a walk over the record headers only.
uint64_t CopyAndWalk(const Traffic& t) {
    uint64_t sum = 0;
    for (const Bytes& batch : t.batches) {
        std::memcpy(g_receiveBuffer, batch.data(), batch.size());
        size_t offset = 0;
        while (offset + sizeof(packet32::bpf_hdr) <= batch.size()) {
            packet32::bpf_hdr h;
            std::memcpy(&h, g_receiveBuffer + offset, sizeof h);
            sum += h.bh_datalen + g_receiveBuffer[offset + h.bh_hdrlen + 12];
            offset = packet32::WordAlign(uint32_t(offset + h.bh_hdrlen + h.bh_caplen));
        }
    }
    return sum;
}

double Seconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_capture write|run PROFILE SEED FRAMES [PCAP|RUNS]\n");
        return 2;
    }
    const std::string mode = argv[1], profile = argv[2];
    const uint32_t seed = uint32_t(std::strtoul(argv[3], nullptr, 10));
    const size_t frames = size_t(std::strtoull(argv[4], nullptr, 10));
    const Traffic traffic = Make(profile, seed, frames);
    if (mode == "write")
        return argc > 5 ? WritePcap(traffic, argv[5]) : 2;

    const int runs = std::max(5, argc > 5 ? std::atoi(argv[5]) : 5);
    ResultFlag relayedFlag{0}, btFlag{0};
    TPacketCapture capture(&relayedFlag, &btFlag);
    TMsgQueue queue(20);

    Found found;
    volatile uint64_t sink = 0;
    auto scan = [&] {
        queue.Reset();
        found = Analyse(traffic, capture, btFlag, queue);
    };
    auto walk = [&] { sink = sink + CopyAndWalk(traffic); };
    // One warm-up of each, then the two alternate so both see the same machine.
    scan();
    walk();
    std::vector<double> scanTimes, floorTimes;
    for (int i = 0; i < runs; ++i) {
        scanTimes.push_back(Seconds(scan));
        floorTimes.push_back(Seconds(walk));
    }
    const double ours = Median(scanTimes), floor = Median(floorTimes);

    const double n = double(traffic.frameCount);
    const double avgBytes = double(traffic.capturedBytes) / n;
    // At 1 Gbit/s line rate a frame also occupies its FCS, preamble and gap (24 bytes).
    const double framesPerSecondAtLineRate = 1e9 / 8.0 / (avgBytes + 24.0);
    std::printf("profile %s frames %zu batches %zu avg_bytes %.1f runs %d\n", profile.c_str(),
                traffic.frameCount, traffic.batches.size(), avgBytes, runs);
    std::printf("planted bittorrent %d relayed %d\n", traffic.bitTorrent, traffic.relayed);
    std::printf("found bittorrent %d relayed %d\n", found.bitTorrent, found.relayed);
    std::printf("scan ns_per_frame %.1f gbit_per_s %.2f core_share_at_1gbit %.3f\n", ours * 1e9 / n,
                double(traffic.capturedBytes) * 8 / ours / 1e9,
                framesPerSecondAtLineRate * ours / n);
    std::printf("floor ns_per_frame %.1f gbit_per_s %.2f core_share_at_1gbit %.3f\n",
                floor * 1e9 / n, double(traffic.capturedBytes) * 8 / floor / 1e9,
                framesPerSecondAtLineRate * floor / n);
    if (found.bitTorrent != traffic.bitTorrent || found.relayed != traffic.relayed) {
        std::printf("FAIL: detections differ from the generated traffic\n");
        return 1;
    }
    return 0;
}
