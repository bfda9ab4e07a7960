#include "TrayIcon_win.h"

#include "DialogWindow.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>

namespace {

// NOTIFYICONDATAA with the balloon fields (the shell's version 2 layout).
struct TrayIconData {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    UINT uTimeoutOrVersion;
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
};
static_assert(offsetof(TrayIconData, szTip) == offsetof(NOTIFYICONDATAA, szTip), "layout");
static_assert(offsetof(TrayIconData, dwInfoFlags) == offsetof(NOTIFYICONDATAA, dwInfoFlags),
              "layout");
#if defined(__i386__)
static_assert(sizeof(TrayIconData) == 488, "NOTIFYICONDATAA of 488 bytes");
#endif

} // namespace

std::string TrayIconWin::FitTip(const std::string& tip) {
    constexpr size_t kMax = sizeof(TrayIconData::szTip) - 1;
    if (tip.size() <= kMax) return tip;
    size_t kept = 0;
    while (kept < kMax) {
        const size_t step = IsDBCSLeadByte(BYTE(tip[kept])) && kept + 1 < tip.size() ? 2 : 1;
        if (kept + step > kMax) break;
        kept += step;
    }
    return tip.substr(0, kept);
}

void TrayIconWin::Call(DWORD action, HWND window, HICON icon, const std::string& tip) {
    TrayIconData data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = icon;
    const std::string fitted = FitTip(tip);
    std::memcpy(data.szTip, fitted.c_str(), fitted.size() + 1);
    Shell_NotifyIconA(action, reinterpret_cast<PNOTIFYICONDATAA>(&data));
}
