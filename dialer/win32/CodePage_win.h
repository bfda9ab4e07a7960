// The system's 8-bit code page, as the window system uses it for the dialer's texts.
#pragma once

#include "CodePage.h"

class Win32CodePage : public CodePage {
  public:
    bool IsLeadByte(uint8_t byte) const override;
};
