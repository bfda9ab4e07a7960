// The standard CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Continues a CRC over more bytes: start with Crc32Begin(), end with Crc32End().
inline uint32_t Crc32Begin() {
    return 0xFFFFFFFFu;
}
uint32_t Crc32Update(uint32_t state, const uint8_t* data, size_t size);
inline uint32_t Crc32End(uint32_t state) {
    return ~state;
}

// CRC-32 of a whole file, read in blocks of 65521 bytes; 0 when it cannot be opened.
uint32_t FileCrc32(const std::string& path);
