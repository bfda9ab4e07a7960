// A read cursor over untrusted bytes: every read first checks the bytes that remain,
// so no read can leave the buffer and no offset sum can wrap.
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

  private:
    const uint8_t* data_;
    size_t length_;
};
