#include "TrayIcon_win.h"

#include <shellapi.h>

#include <cstddef>

// The portable record is the system's, field for field, in both the shipped 32-bit
// program and the 64-bit test build.
static_assert(sizeof(TrayIconRecord) == NOTIFYICONDATAA_V2_SIZE, "NOTIFYICONDATAA");
static_assert(offsetof(TrayIconRecord, hWnd) == offsetof(NOTIFYICONDATAA, hWnd), "hWnd");
static_assert(offsetof(TrayIconRecord, uID) == offsetof(NOTIFYICONDATAA, uID), "uID");
static_assert(offsetof(TrayIconRecord, uFlags) == offsetof(NOTIFYICONDATAA, uFlags), "uFlags");
static_assert(offsetof(TrayIconRecord, uCallbackMessage) ==
                  offsetof(NOTIFYICONDATAA, uCallbackMessage),
              "uCallbackMessage");
static_assert(offsetof(TrayIconRecord, hIcon) == offsetof(NOTIFYICONDATAA, hIcon), "hIcon");
static_assert(offsetof(TrayIconRecord, szTip) == offsetof(NOTIFYICONDATAA, szTip), "szTip");
static_assert(sizeof(TrayIconRecord::szTip) == sizeof(NOTIFYICONDATAA::szTip), "szTip");
static_assert(offsetof(TrayIconRecord, szInfo) == offsetof(NOTIFYICONDATAA, szInfo), "szInfo");
static_assert(offsetof(TrayIconRecord, dwInfoFlags) == offsetof(NOTIFYICONDATAA, dwInfoFlags),
              "dwInfoFlags");
static_assert(NIF_MESSAGE == kTrayFlagMessage && NIF_ICON == kTrayFlagIcon &&
                  NIF_TIP == kTrayFlagTip,
              "flags");

void PassTrayRecord(DWORD action, const TrayIconRecord& record) {
    Shell_NotifyIconA(action,
                      reinterpret_cast<PNOTIFYICONDATAA>(const_cast<TrayIconRecord*>(&record)));
}
