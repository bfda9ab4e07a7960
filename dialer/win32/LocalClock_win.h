#pragma once

#include "ConnectionLog.h"

class Win32LocalClock : public LocalClock {
  public:
    LocalTime Now() override;
};
