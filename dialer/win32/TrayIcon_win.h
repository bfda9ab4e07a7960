// The notification-area icon: one per process, the same record for every call.
#pragma once

#include <windows.h>

#include <string>

class TrayIconWin {
public:
    // NIM_ADD, NIM_MODIFY, NIM_DELETE with id 100, flags 7 and message 1034. The
    // answers are not examined: without a notification area there is no icon.
    static void Call(DWORD action, HWND window, HICON icon, const std::string& tip);
    // The tip as it fits the record: at most 127 bytes, never ending inside a
    // double-byte character.
    static std::string FitTip(const std::string& tip);
};
