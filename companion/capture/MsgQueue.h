// Traffic analysis: the BitTorrent test on a single frame, and the queue of larger
// TCP frames in which a request relayed by a sharing computer or proxy shows up as
// the same request head between two different pairs of stations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ThreadBase.h"

// Frame offsets (Ethernet, IPv4 without options, TCP without options).
constexpr size_t kEtherTypeOffset = 12;
constexpr size_t kIpProtocolOffset = 23;
constexpr size_t kSrcIpOffset = 26;
constexpr size_t kDstIpOffset = 30;
constexpr size_t kSrcPortOffset = 34;
constexpr size_t kDstPortOffset = 36;
constexpr size_t kPayloadOffset = 54;

constexpr size_t kSlotStoredBytes = 1600; // frame bytes a queue slot keeps
constexpr size_t kSlotDataSize = 1630;
constexpr size_t kKeySize = 30;
constexpr size_t kBitTorrentWindow = 72; // payload bytes searched for a signature
constexpr uint16_t kQueueTag = 1137;

// The decoded head of one IPv4 TCP frame. Ports in host order, addresses as on the wire.
struct FrameKey {
    uint8_t Protocol = 0;
    uint8_t SrcMac[6] = {};
    uint8_t SrcIp[4] = {};
    uint16_t SrcPort = 0;
    uint8_t DstMac[6] = {};
    uint8_t DstIp[4] = {};
    uint16_t DstPort = 0;
    uint16_t KeyLength = 0;
    uint8_t Key[kKeySize] = {};
};

struct QueueSlot {
    uint16_t Index = 0;
    uint16_t Next = 0;
    uint16_t Prev = 0;
    uint16_t Tag = 0;
    uint16_t Length = 0; // frame length given to Put; Data holds min(Length, 1600) bytes
    uint8_t Data[kSlotDataSize] = {};
};

// Offset of the first occurrence of pattern that lies wholly inside the window of
// `window` bytes starting at `start`, or -1. data must hold start + window bytes.
// An empty pattern matches at start.
long FindBytes(const uint8_t* data, const uint8_t* pattern, size_t patternLength, size_t window,
               size_t start);

// The frame's first payload bytes (up to 72, never past `captured`) carry the
// BitTorrent handshake name or a tracker "announce".
bool IsBitTorrentFrame(const uint8_t* frame, size_t captured);

// Ethernet type IPv4 and IP protocol TCP, read only within the captured bytes.
bool IsIPv4TcpFrame(const uint8_t* frame, size_t captured);

class TMsgQueue {
  public:
    explicit TMsgQueue(uint16_t capacity);
    TMsgQueue(const TMsgQueue&) = delete;
    TMsgQueue& operator=(const TMsgQueue&) = delete;

    // Stores min(length, 1600) bytes of frame; false when this filled the queue.
    bool Put(uint16_t tag, uint16_t length, const uint8_t* frame);
    // As Put, but the slot refers to the caller's frame until KeepFrames copies it
    // in (or Analyse or Reset empties the queue): a frame that fills the queue is
    // then analysed straight from the receive buffer, with no copy at all. The
    // caller keeps the frame's bytes unchanged until then.
    bool PutInPlace(uint16_t tag, uint16_t length, const uint8_t* frame);
    // Copies every frame still referred to into its slot.
    void KeepFrames();
    // Copies the slot before the cursor and steps back onto it; false when there is
    // nothing more to read.
    bool Get(QueueSlot& out);
    void Reset();
    void SaveCursor() { SavedCursor = Cursor; }
    void RestoreCursor() { Cursor = SavedCursor; }

    // Decodes a frame of `length` bytes (only min(length, 1600) are read).
    static bool ParseFrame(const uint8_t* frame, size_t length, FrameKey& key);
    // Frame X (of `length` bytes) and the frame keyed by R are one request relayed
    // between two different pairs of stations.
    static bool IsRelayedCopy(const uint8_t* frame, size_t length, const FrameKey& R);

    // Searches the full queue for a relayed pair, then empties it. A queue that is
    // not full is left as it is and yields false.
    bool Analyse();

    uint16_t CursorForTest() const { return Cursor; }
    bool IsFull() const { return Filled; }

  private:
    // The pair test of IsRelayedCopy on two already decoded frames.
    static bool IsRelayedPair(const FrameKey& x, const FrameKey& r);
    // Where Get would read next (without copying), moving the cursor as Get does.
    bool StepBack(uint16_t& slot);
    bool Store(uint16_t tag, uint16_t length, const uint8_t* frame, bool copy);
    const uint8_t* FrameOf(uint16_t slot) const {
        return Borrowed[slot] != nullptr ? Borrowed[slot] : Slots[slot].Data;
    }

    TLock Lock;
    uint16_t Capacity;
    std::vector<QueueSlot> Slots;
    std::vector<const uint8_t*> Borrowed; // per slot: the caller's frame, not yet copied
    uint16_t Cursor = 0;
    uint16_t LastSlot;
    uint16_t SavedCursor;
    uint8_t NotEmpty = 0;
    // The last slot has been written since the last Reset. NotEmpty alone cannot tell
    // an empty queue from a full one being walked, and Get must not return stale
    // slots of an empty one.
    bool Filled = false;

    // Keys decoded during one Analyse, one per slot; allocated once.
    struct DecodedKey {
        bool ok = false;
        uint16_t prev = 0; // the slot's Prev link
        uint64_t head = 0; // the key's first (up to) 8 bytes, zero-padded
        FrameKey key;
    };
    std::vector<DecodedKey> KeyCache;
};
