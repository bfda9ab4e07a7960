#include "TrayRecord.h"

#include "DialogWindow.h"

#include <cstring>

TrayIconRecord BuildTrayRecord(uintptr_t window, uintptr_t icon, const std::string& tip,
                               const CodePage& codePage) {
    TrayIconRecord record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = sizeof record;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = kTrayFlagMessage | kTrayFlagIcon | kTrayFlagTip;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.hIcon = icon;
    // The tip is shown as the system converts it from the code page: half a
    // character at the cut would show as a stray sign.
    const std::string fitted = CutToWholeCharacters(tip, sizeof record.szTip - 1, codePage);
    std::memcpy(record.szTip, fitted.data(), fitted.size());
    return record;
}
