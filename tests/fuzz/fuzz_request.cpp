// Request parsing and reply building over arbitrary bytes: nothing may be read
// beyond the message, and every reply must be a well-formed message.
#include "HostInterface.h"

#include <cstdlib>
#include <cstring>

namespace {
struct Sink : UpdateUrlSink {
    void OnUpdateUrl(const std::string& text, int length) override {
        if (text.size() > size_t(length) || length <= 0 || length > 255)
            std::abort();
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParsedRequest parsed;
    Sink sink;
    if (!ParseRequest(data, size, parsed, &sink))
        return 0;
    DetectionFindings f{};
    if (size >= sizeof f)
        std::memcpy(&f, data, sizeof f);
    const std::vector<uint8_t> reply = BuildFindingsReply(parsed.request, f);
    if (reply.size() < 4 || reply[0] != 2 || reply[1] + 2u != reply.size())
        std::abort();
    return 0;
}
