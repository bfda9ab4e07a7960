// The contract between Pondo.exe and Ostrel.dll: the record of five function
// pointers, the request/reply messages and the 22-byte detection records.
// Every call that crosses between the two deliverables goes through this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32) && defined(__i386__)
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

extern "C" {
typedef int32_t(HOST_CALL* SendReplyFn)(const uint8_t* message, uint32_t length);
typedef int32_t(HOST_CALL* GetAdapterMacFn)(uint8_t* mac, uint32_t length);
typedef int32_t(HOST_CALL* DeliverRequestFn)(const uint8_t* message, uint32_t length);
typedef int32_t(HOST_CALL* ReadFindingsFn)(uint8_t* buffer, uint32_t* length);
typedef int32_t(HOST_CALL* NotifyLinkStateFn)(uint32_t up);
typedef int32_t(HOST_CALL* InitThreadFn)(struct HostInterface* host);

// Slots 0 and 1 are filled by the dialer, 2 to 4 by the library inside initThread.
struct HostInterface {
    SendReplyFn SendReply;
    GetAdapterMacFn GetAdapterMac;
    DeliverRequestFn DeliverRequest;
    ReadFindingsFn ReadFindings;
    NotifyLinkStateFn NotifyLinkState;
};
}
static_assert(sizeof(HostInterface) == 5 * sizeof(void*), "five consecutive pointers");

constexpr int32_t kLibraryReady = 0;
constexpr int32_t kLibraryRefuses = 0xffff;
constexpr int32_t kRequestAccepted = 0;
constexpr int32_t kRequestRejected = 1;
constexpr uint8_t kRequestMessage = 1;
constexpr uint8_t kReplyMessage = 2;
constexpr size_t kFindingsSize = 22;
constexpr size_t kMaxMessage = 257;

enum ItemType : uint8_t {
    OptionA = 1,
    OptionB = 2,
    UpdateUrl = 3,
    IpAddress = 5,
    MacAddress = 6,
    DetectOff = 20,
    AdapterCount = 21,
    AddressCount = 22,
    AddressChanged = 23,
    Reserved24 = 24,
    TcpConnections = 25,
    UdpEndpoints = 26,
    ServiceRunning = 27,
    ProgramFeatures = 28,
    LocalProxy = 29,
    RelayedRequest = 30,
    DhcpServer = 31,
    BitTorrentTraffic = 32,
};

// Request kinds held in byte 0 of a DetectionRequest.
enum RequestKind : uint8_t { kNoDetectionItem = 0, kDetectOffRequest = 1, kDetectionRequest = 2 };

#pragma pack(push, 1)
// One layout, two meanings: in a request each field is the switch (or threshold)
// of a detector, in the findings it is what that detector found.
template <class Meaning> struct DetectionRecord {
    uint8_t kind;            // 0: request kind; findings: always 0
    uint8_t adapterCount;    // 1
    uint8_t addressCount;    // 2
    uint8_t addressChanged;  // 3
    uint8_t reserved24;      // 4
    int32_t tcpConnections;  // 5-8
    int32_t udpEndpoints;    // 9-12
    uint8_t serviceRunning;  // 13
    uint8_t programFeatures; // 14
    uint8_t localProxy;      // 15
    uint8_t relayedRequest;  // 16
    int32_t dhcpServer;      // 17-20
    uint8_t bitTorrent;      // 21
};
#pragma pack(pop)
using DetectionRequest = DetectionRecord<struct RequestMeaning>;
using DetectionFindings = DetectionRecord<struct FindingsMeaning>;
static_assert(sizeof(DetectionRequest) == kFindingsSize, "packed 22-byte record");
static_assert(sizeof(DetectionFindings) == kFindingsSize, "packed 22-byte record");

// What DeliverRequest learnt from one request message.
struct ParsedRequest {
    DetectionRequest request{}; // kind 0 when the message held no detection item
    bool addressRequested = false;
};

// Called at the place of an UpdateUrl item (N > 0) while parsing: the value as text
// (cut at a zero byte inside it) and the item's length byte N.
class UpdateUrlSink {
  public:
    virtual ~UpdateUrlSink() = default;
    virtual void OnUpdateUrl(const std::string& text, int length) = 0;
};

// Parses a request message. Returns false when the framing is rejected (nothing
// changes then); true otherwise, also when an item overran the body and ended the
// parse early. Never reads beyond `length` bytes.
bool ParseRequest(const uint8_t* message, size_t length, ParsedRequest& out,
                  UpdateUrlSink* updates = nullptr);

// The FindingsReply for request q and findings f, as a whole message.
std::vector<uint8_t> BuildFindingsReply(const DetectionRequest& q, const DetectionFindings& f);

// The 16-byte AddressReply. accessIp is the IPv4 address in network byte order as
// the library stores it (first octet in the lowest-addressed byte).
std::vector<uint8_t> BuildAddressReply(uint32_t accessIp, const uint8_t mac[6]);

// The request the dialer delivers once per link up: items 21, 27, 28, 29 and 32.
// Writes it into a 200-byte buffer (zeroed first) and returns its length, 12.
constexpr size_t kLinkRequestBuffer = 200;
size_t BuildLinkRequest(uint8_t (&buffer)[kLinkRequestBuffer]);
