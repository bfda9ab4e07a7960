// Port: time and randomness for the library's loops.
#pragma once

#include <cstdint>

class SystemClock {
  public:
    virtual ~SystemClock() = default;
    virtual uint32_t TickCount() = 0;      // milliseconds, wraps at 2^32
    virtual uint64_t HighResolution() = 0; // seed for the pseudo-random generator
};
