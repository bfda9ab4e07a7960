#include "CodePage_win.h"

#include <windows.h>

bool Win32CodePage::IsLeadByte(uint8_t byte) const {
    return IsDBCSLeadByte(byte) != FALSE;
}
