#include <windows.h>

#include "SystemClock.h"
#include "Win32Ports.h"

namespace {

class SystemClockWin : public SystemClock {
  public:
    uint32_t TickCount() override { return GetTickCount(); }
    uint64_t HighResolution() override {
        LARGE_INTEGER now;
        if (!QueryPerformanceCounter(&now))
            return GetTickCount();
        return uint64_t(now.QuadPart);
    }
};

} // namespace

std::unique_ptr<SystemClock> CreateWin32SystemClock() {
    return std::make_unique<SystemClockWin>();
}
