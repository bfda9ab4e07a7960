#include "CRC32.h"

#include "FileStore.h"
#include "Ports.h"

#include <array>
#include <vector>

namespace {

// Built once when the library starts; only read afterwards, so threads share it freely.
const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}();

constexpr uint32_t kBlockSize = 65521;

} // namespace

uint32_t Crc32Update(uint32_t state, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        state = kTable[(state ^ data[i]) & 0xFF] ^ (state >> 8);
    return state;
}

uint32_t FileCrc32(const std::string& path) {
    auto reader = Ports().files->OpenRead(path);
    if (!reader)
        return 0;
    std::vector<uint8_t> block(kBlockSize);
    uint32_t state = Crc32Begin();
    uint32_t got = 0;
    while (reader->Read(block.data(), kBlockSize, got) && got > 0)
        state = Crc32Update(state, block.data(), got);
    return Crc32End(state);
}
