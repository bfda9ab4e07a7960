// The notification-area icon's record, NOTIFYICONDATAA in the layout with the
// balloon fields (488 bytes in the shipped 32-bit program), filled the same way for
// every call: the main dialog's window, id 100, the message, icon and tip flags,
// callback message 1034, the icon, and the title as tip. The Win32 code passes it
// to Shell_NotifyIconA as it is.
#pragma once

#include "CodePage.h"

#include <cstdint>
#include <string>

constexpr uint32_t kTrayFlagMessage = 0x1; // NIF_MESSAGE
constexpr uint32_t kTrayFlagIcon = 0x2;    // NIF_ICON
constexpr uint32_t kTrayFlagTip = 0x4;     // NIF_TIP

// Field for field the system's record; the window and icon handles are
// pointer-sized, as the system's are.
struct TrayIconRecord {
    uint32_t cbSize;
    uintptr_t hWnd;
    uint32_t uID;
    uint32_t uFlags;
    uint32_t uCallbackMessage;
    uintptr_t hIcon;
    char szTip[128];
    uint32_t dwState;
    uint32_t dwStateMask;
    char szInfo[256];
    uint32_t uTimeoutOrVersion;
    char szInfoTitle[64];
    uint32_t dwInfoFlags;
};
static_assert(sizeof(void*) != 4 || sizeof(TrayIconRecord) == 488,
              "NOTIFYICONDATAA with the balloon fields is 488 bytes in 32 bits");

// The record for `window` showing `icon`, with `tip` cut to the 127 bytes its field
// holds, never inside a character of the code page.
TrayIconRecord BuildTrayRecord(uintptr_t window, uintptr_t icon, const std::string& tip,
                               const CodePage& codePage);
