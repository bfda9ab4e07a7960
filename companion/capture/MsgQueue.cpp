#include "MsgQueue.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "ByteCursor.h"

namespace {

const uint8_t kHandshakeName[] = "BitTorrent protocol";
const uint8_t kAnnounce[] = "announce";
const uint8_t kResponseHead[] = "HTTP";
const uint8_t kAbsoluteUrl[] = "http://";
const uint8_t kVersionMark[] = "HTTP/";
const uint8_t kSlash[] = "/";

// NetBIOS name service, session service and SMB: file sharing between stations
// repeats the same request heads as a matter of course.
bool IsFileSharingPort(uint16_t port) {
    return port == 137 || port == 139 || port == 445;
}

bool SameMac(const uint8_t* a, const uint8_t* b) {
    return std::memcmp(a, b, 6) == 0;
}

} // namespace

long FindBytes(const uint8_t* data, const uint8_t* pattern, size_t patternLength, size_t window,
               size_t start) {
    if (patternLength == 0)
        return long(start);
    if (patternLength > window)
        return -1;
    // First occurrence that ends inside the window: the plain forward search, with
    // the scan for the pattern's first byte left to memchr.
    const uint8_t* base = data + start;
    const size_t lastStart = window - patternLength;
    size_t pos = 0;
    while (pos <= lastStart) {
        const void* hit = std::memchr(base + pos, pattern[0], lastStart - pos + 1);
        if (hit == nullptr)
            return -1;
        pos = size_t(static_cast<const uint8_t*>(hit) - base);
        if (std::memcmp(base + pos + 1, pattern + 1, patternLength - 1) == 0)
            return long(start + pos);
        ++pos;
    }
    return -1;
}

bool IsIPv4TcpFrame(const uint8_t* frame, size_t captured) {
    return captured > kIpProtocolOffset && frame[kEtherTypeOffset] == 0x08 &&
           frame[kEtherTypeOffset + 1] == 0x00 && frame[kIpProtocolOffset] == 6;
}

bool IsBitTorrentFrame(const uint8_t* frame, size_t captured) {
    if (captured <= kPayloadOffset)
        return false;
    const size_t window = std::min(kBitTorrentWindow, captured - kPayloadOffset);
    return FindBytes(frame, kHandshakeName, sizeof kHandshakeName - 1, window, kPayloadOffset) >=
               0 ||
           FindBytes(frame, kAnnounce, sizeof kAnnounce - 1, window, kPayloadOffset) >= 0;
}

TMsgQueue::TMsgQueue(uint16_t capacity)
    : Capacity(capacity), Slots(capacity), Borrowed(capacity, nullptr),
      LastSlot(uint16_t(capacity - 1)), SavedCursor(uint16_t(capacity - 1)), KeyCache(capacity) {
    assert(capacity >= 3);
    for (uint16_t i = 0; i < Capacity; ++i) {
        Slots[i].Index = i;
        Slots[i].Next = uint16_t(i + 1 == capacity ? 0 : i + 1);
        Slots[i].Prev = uint16_t(i == 0 ? capacity - 1 : i - 1);
    }
}

bool TMsgQueue::Put(uint16_t tag, uint16_t length, const uint8_t* frame) {
    return Store(tag, length, frame, true);
}

bool TMsgQueue::PutInPlace(uint16_t tag, uint16_t length, const uint8_t* frame) {
    return Store(tag, length, frame, false);
}

void TMsgQueue::KeepFrames() {
    TLockGuard guard(Lock);
    for (uint16_t i = 0; i < Capacity; ++i) {
        if (Borrowed[i] == nullptr)
            continue;
        std::memcpy(Slots[i].Data, Borrowed[i],
                    std::min<size_t>(Slots[i].Length, kSlotStoredBytes));
        Borrowed[i] = nullptr;
    }
}

bool TMsgQueue::Store(uint16_t tag, uint16_t length, const uint8_t* frame, bool copy) {
    TLockGuard guard(Lock);
    QueueSlot& slot = Slots[Cursor];
    slot.Tag = tag;
    slot.Length = length;
    if (copy) {
        std::memcpy(slot.Data, frame, std::min<size_t>(length, kSlotStoredBytes));
        Borrowed[Cursor] = nullptr;
    } else {
        Borrowed[Cursor] = frame;
    }
    NotEmpty = 1;
    if (Cursor == LastSlot) {
        NotEmpty = 0;
        Filled = true;
        return false;
    }
    Cursor = slot.Next;
    Slots[Cursor].Prev = slot.Index;
    return true;
}

bool TMsgQueue::StepBack(uint16_t& slot) {
    if (Filled) {
        // Walking a full queue: the ring leads back round to the last slot.
        if (Cursor == LastSlot && NotEmpty == 0)
            return false;
    } else if (Cursor == 0 || NotEmpty == 0) {
        return false; // nothing stored before the cursor
    }
    slot = Slots[Cursor].Prev;
    Cursor = Slots[slot].Index;
    return true;
}

bool TMsgQueue::Get(QueueSlot& out) {
    TLockGuard guard(Lock);
    uint16_t index;
    if (!StepBack(index))
        return false;
    const QueueSlot& slot = Slots[index];
    out.Tag = slot.Tag;
    out.Length = slot.Length;
    std::memcpy(out.Data, FrameOf(index), std::min<size_t>(slot.Length, kSlotStoredBytes));
    return true;
}

void TMsgQueue::Reset() {
    std::fill(Borrowed.begin(), Borrowed.end(), nullptr);
    Cursor = 0;
    NotEmpty = 0;
    Filled = false;
}

bool TMsgQueue::ParseFrame(const uint8_t* frame, size_t length, FrameKey& key) {
    if (frame == nullptr)
        return false;
    // Only the stored bytes exist: a queued frame keeps at most 1600 of them.
    ByteCursor cursor(frame, std::min(length, kSlotStoredBytes));
    const uint8_t *dstMac, *srcMac, *srcIp, *dstIp;
    uint8_t protocol;
    uint16_t srcPort, dstPort;
    if (!cursor.ReadBytes(6, dstMac) || !cursor.ReadBytes(6, srcMac) ||
        !cursor.Skip(kIpProtocolOffset - 12) || !cursor.ReadU8(protocol) ||
        !cursor.Skip(kSrcIpOffset - kIpProtocolOffset - 1) || !cursor.ReadBytes(4, srcIp) ||
        !cursor.ReadBytes(4, dstIp) || !cursor.ReadU16BigEndian(srcPort) ||
        !cursor.ReadU16BigEndian(dstPort) || !cursor.Skip(kPayloadOffset - kDstPortOffset - 2) ||
        cursor.Remaining() == 0)
        return false;

    key.Protocol = protocol;
    std::memcpy(key.SrcMac, srcMac, 6);
    std::memcpy(key.SrcIp, srcIp, 4);
    key.SrcPort = srcPort;
    std::memcpy(key.DstMac, dstMac, 6);
    std::memcpy(key.DstIp, dstIp, 4);
    key.DstPort = dstPort;

    const uint8_t* payload = cursor.Data();
    const size_t L = cursor.Remaining();
    const size_t head = std::min(L, kKeySize);
    auto keyOfHead = [&] {
        std::memcpy(key.Key, payload, head);
        key.KeyLength = uint16_t(head);
        return true;
    };

    if (L >= 4 && std::memcmp(payload, kResponseHead, 4) == 0)
        return keyOfHead();

    const long c = FindBytes(payload, kAbsoluteUrl, sizeof kAbsoluteUrl - 1, head, 0);
    if (c < 0) {
        // Only a version mark starting inside the first 30 bytes shortens the key;
        // one further on, or none, leaves the 30-byte head. So the search may stop
        // there instead of running through a payload of up to 1546 bytes.
        const size_t window = std::min(L, kKeySize - 1 + sizeof kVersionMark - 1);
        const long d = FindBytes(payload, kVersionMark, sizeof kVersionMark - 1, window, 0);
        if (d < 0)
            return keyOfHead();
        const size_t n = std::min(size_t(d), kKeySize);
        std::memcpy(key.Key, payload, n);
        key.KeyLength = uint16_t(n);
        return true;
    }

    // An absolute URL (a request sent to a proxy): drop the scheme and host so the
    // key equals that of the origin-form request the proxy forwards.
    const size_t afterScheme = size_t(c) + sizeof kAbsoluteUrl - 1; // <= head <= L
    const long s = FindBytes(payload, kSlash, 1, L - afterScheme, afterScheme);
    const long e = s < 0 ? -1
                         : FindBytes(payload, kVersionMark, sizeof kVersionMark - 1,
                                     L - size_t(s) - 1, size_t(s) + 1);
    // Without a path and a version mark after the host there is no request line
    // to normalise: key by the head as for any other payload.
    if (s < 0 || e < 0)
        return keyOfHead();
    const size_t method = std::min(size_t(c), kKeySize);
    const size_t path = std::min(size_t(e - s), kKeySize - method);
    std::memcpy(key.Key, payload, method);
    std::memcpy(key.Key + method, payload + s, path);
    key.KeyLength = uint16_t(method + path);
    return true;
}

bool TMsgQueue::IsRelayedPair(const FrameKey& x, const FrameKey& r) {
    // Every test must hold; the cheapest ones that usually fail come first.
    if (x.KeyLength != r.KeyLength || x.Key[0] != r.Key[0])
        return false;
    if (IsFileSharingPort(r.SrcPort) || IsFileSharingPort(r.DstPort))
        return false;
    if (IsFileSharingPort(x.SrcPort) || IsFileSharingPort(x.DstPort))
        return false;
    const bool toRSender = SameMac(x.DstMac, r.SrcMac);
    const bool fromRReceiver = SameMac(x.SrcMac, r.DstMac);
    const bool toRReceiver = SameMac(x.DstMac, r.DstMac);
    const bool fromRSender = SameMac(x.SrcMac, r.SrcMac);
    const bool stationsDiffer = (toRSender && !fromRReceiver) || (fromRReceiver && !toRSender) ||
                                (!toRSender && !fromRReceiver && !toRReceiver && !fromRSender);
    if (!stationsDiffer)
        return false;
    return std::memcmp(x.Key, r.Key, x.KeyLength) == 0;
}

bool TMsgQueue::IsRelayedCopy(const uint8_t* frame, size_t length, const FrameKey& R) {
    if (IsFileSharingPort(R.SrcPort) || IsFileSharingPort(R.DstPort))
        return false;
    FrameKey x;
    if (!ParseFrame(frame, length, x))
        return false;
    return IsRelayedPair(x, R);
}

bool TMsgQueue::Analyse() {
    TLockGuard guard(Lock);
    if (!Filled)
        return false;

    // Every slot's key is decoded once up front, instead of once per pair, and the
    // walk runs over a copy of the ring's back links; neither changes which pairs
    // are compared or the outcome.
    for (uint16_t i = 0; i < Capacity; ++i) {
        DecodedKey& d = KeyCache[i];
        d.ok = ParseFrame(FrameOf(i), Slots[i].Length, d.key);
        d.head = 0;
        if (d.ok)
            std::memcpy(&d.head, d.key.Key, std::min<size_t>(8, d.key.KeyLength));
        d.prev = Slots[i].Prev;
    }

    // The walk of Get on a full queue: back along Prev until the last slot.
    auto stepBack = [this](uint16_t& slot) {
        if (Cursor == LastSlot)
            return false;
        slot = KeyCache[Cursor].prev;
        Cursor = slot;
        return true;
    };
    bool firstPass = true;
    uint16_t current = Cursor;
    while (Cursor != LastSlot || firstPass) {
        firstPass = false;
        SaveCursor();
        const DecodedKey& r = KeyCache[current];
        if (r.ok) {
            uint16_t partner;
            while (stepBack(partner)) {
                const DecodedKey& x = KeyCache[partner];
                // Keys whose first 8 bytes differ cannot be equal.
                if (x.ok && x.head == r.head && IsRelayedPair(x.key, r.key)) {
                    Reset();
                    return true;
                }
            }
        }
        RestoreCursor();
        current = Cursor;
        Cursor = KeyCache[current].prev;
    }
    Reset();
    return false;
}
