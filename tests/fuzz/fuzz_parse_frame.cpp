// Frame decoding over arbitrary bytes: reads stay within the stored bytes of the
// frame (at most 1600 of a longer one), keys never exceed 30 bytes, and a frame
// is never a relayed copy of itself.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MsgQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The wire length the frame claims; only min(length, 1600) bytes are stored.
    size_t length = size_t(data[0]) << 8 | data[1];
    data += 2;
    size -= 2;
    if (std::min(length, kSlotStoredBytes) > size)
        length = size;
    std::vector<uint8_t> frame(data, data + std::min(size, std::min(length, kSlotStoredBytes)));

    FrameKey key;
    if (!TMsgQueue::ParseFrame(frame.data(), length, key))
        return 0;
    if (key.KeyLength > kKeySize)
        std::abort();
    if (TMsgQueue::IsRelayedCopy(frame.data(), length, key))
        std::abort();
    IsBitTorrentFrame(frame.data(), frame.size());
    return 0;
}
