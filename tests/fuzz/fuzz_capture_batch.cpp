// The batch walk over arbitrary driver output: no read may leave the batch (or
// the 256000-byte receive buffer, whatever length the driver claims), the walk
// must end, and a queue it fills must analyse cleanly.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MsgQueue.h"
#include "PacketCapture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    static ResultFlag relayed{0}, bitTorrent{0};
    static TPacketCapture capture(&relayed, &bitTorrent);
    static TMsgQueue queue(20);
    static std::vector<uint8_t> buffer(kPacketBufferSize);
    queue.Reset();
    const uint8_t mode = data[0];
    // Bits 1 and 2 pick the kinds looked for; none means both.
    const uint8_t kinds =
        (mode >> 1) & kAllTrafficKinds ? (mode >> 1) & kAllTrafficKinds : kAllTrafficKinds;
    uint32_t claimed;
    std::memcpy(&claimed, data + 1, 4);
    data += 5;
    size -= 5;
    if (size > kPacketBufferSize)
        return 0;

    if (mode & 1) {
        // As a real read: the batch at the start of the full receive buffer, with
        // whatever length the driver reports.
        std::memset(buffer.data(), 0, buffer.size());
        if (size)
            std::memcpy(buffer.data(), data, size);
        ScanCaptureBatch(capture, queue, buffer.data(), claimed, kinds);
    } else {
        // A buffer of exactly the batch's size: any read past it is reported.
        std::vector<uint8_t> exact(data, data + size);
        while (ScanCaptureBatch(capture, queue, exact.data(), uint32_t(exact.size()), kinds)) {
            if (!queue.IsFull())
                break; // stopped on a signature
            queue.Analyse();
            if (queue.IsFull())
                std::abort(); // Analyse always empties a full queue
            break;
        }
    }
    return 0;
}
