// A read cursor over untrusted bytes: every read first checks the bytes that remain,
// so no read can leave the buffer and no offset sum can wrap. Byte order is in the
// name of each multi-byte read. Every parser of bytes from outside (request
// messages, capture batches and frames, queued frames, signature resources) reads
// through it.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteCursor {
  public:
    ByteCursor(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    const uint8_t* Data() const { return data_; }
    size_t Remaining() const { return length_; }

    bool Skip(size_t n) {
        if (length_ < n)
            return false;
        data_ += n;
        length_ -= n;
        return true;
    }
    // The next n bytes, read in place: out points at them.
    bool ReadBytes(size_t n, const uint8_t*& out) {
        if (length_ < n)
            return false;
        out = data_;
        Skip(n);
        return true;
    }
    // A cursor over the next n bytes, which this one steps over.
    bool ReadCursor(size_t n, ByteCursor& out) {
        const uint8_t* bytes;
        if (!ReadBytes(n, bytes))
            return false;
        out = ByteCursor(bytes, n);
        return true;
    }
    bool ReadU8(uint8_t& out) {
        if (length_ < 1)
            return false;
        out = data_[0];
        Skip(1);
        return true;
    }
    bool ReadU16BigEndian(uint16_t& out) {
        if (length_ < 2)
            return false;
        out = uint16_t(data_[0] << 8 | data_[1]);
        Skip(2);
        return true;
    }
    bool ReadU32BigEndian(uint32_t& out) {
        if (length_ < 4)
            return false;
        out = uint32_t(data_[0]) << 24 | uint32_t(data_[1]) << 16 | uint32_t(data_[2]) << 8 |
              uint32_t(data_[3]);
        Skip(4);
        return true;
    }

  private:
    const uint8_t* data_;
    size_t length_;
};

// Exchanges the two bytes of a 16-bit value: network order <-> host order, as for
// the ports of the endpoint tables. The one byte swap of the library.
inline uint16_t SwapBytes16(uint16_t v) {
    return uint16_t((v << 8) | (v >> 8));
}
