// traywatch: the notification area as the dialer's tests see it.
//
//   traywatch record <file> <Pondo.exe> [ms]
//       Stands in front of the shell's notification area for ms (default 10 min):
//       a hidden window of the class "Shell_TrayWnd", kept topmost so that it is
//       the one Shell_NotifyIcon finds, receives every icon record a program sends
//       and passes it on to the real notification area, so the icon still shows and
//       still answers clicks. One line per record goes to <file>, after a first
//       line "ready":
//         <add|modify|delete|...> hwnd=<hex> id=<n> flags=0x<hex> message=0x<hex>
//             icon=<idle|connected|other|none> tip=<text, UTF-8>
//       The icon is named by comparing its bits with icons 156 and 157 of <Pondo.exe>.
//   traywatch click [mouse message]
//       Clicks the last icon of the real notification area (the taskbar's right
//       end), as a user does: the shell then sends the icon's owner its callback
//       message. Default WM_LBUTTONUP, preceded by WM_LBUTTONDOWN.
//
// The records arrive as Wine's shell32 forwards them (WM_COPYDATA, Wine 8 layout):
// hWnd, uID, uFlags, uCallbackMessage, szTip (128 wide characters), the balloon
// fields, the icon's size, then its mask and colour bits. A record that does not
// fit that layout is written as "undecodable".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kTipOffset = 16;
constexpr size_t kIconInfoOffset = 944; // width, height, planes, bpp
constexpr size_t kHeaderSize = 960;

FILE* g_out = nullptr;
HWND g_self = nullptr;
std::vector<unsigned char> g_idle, g_connected; // mask and colour bits

std::vector<unsigned char> IconBits(HICON icon) {
    std::vector<unsigned char> bits;
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return bits;
    BITMAP mask{}, colour{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    if (info.hbmColor)
        GetObjectA(info.hbmColor, sizeof colour, &colour);
    const LONG maskBytes = mask.bmWidthBytes * mask.bmHeight;
    const LONG colourBytes = info.hbmColor ? colour.bmWidthBytes * colour.bmHeight : 0;
    bits.resize(size_t(maskBytes + colourBytes));
    GetBitmapBits(info.hbmMask, maskBytes, bits.data());
    if (info.hbmColor)
        GetBitmapBits(info.hbmColor, colourBytes, bits.data() + maskBytes);
    DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    return bits;
}

void LoadPondoIcons(const char* path) {
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return;
    // As the dialer loads them: LoadIconA, the system's icon size.
    g_idle = IconBits(LoadIconA(module, MAKEINTRESOURCEA(156)));
    g_connected = IconBits(LoadIconA(module, MAKEINTRESOURCEA(157)));
}

std::string Utf8(const wchar_t* text, size_t maxChars) {
    size_t n = 0;
    while (n < maxChars && text[n] != 0)
        ++n;
    const int m = WideCharToMultiByte(CP_UTF8, 0, text, int(n), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(m > 0 ? m : 0), '\0');
    if (m > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(n), &out[0], m, nullptr, nullptr);
    return out;
}

const char* ActionName(ULONG_PTR action) {
    switch (action) {
    case NIM_ADD:
        return "add";
    case NIM_MODIFY:
        return "modify";
    case NIM_DELETE:
        return "delete";
    case NIM_SETFOCUS:
        return "setfocus";
    case NIM_SETVERSION:
        return "setversion";
    }
    return "other";
}

UINT U32(const unsigned char* data, size_t offset) {
    UINT v;
    std::memcpy(&v, data + offset, sizeof v);
    return v;
}

void Record(const COPYDATASTRUCT& cds) {
    const auto* data = static_cast<const unsigned char*>(cds.lpData);
    if (data == nullptr || cds.cbData < kHeaderSize) {
        std::fprintf(g_out, "undecodable %s size=%lu\n", ActionName(cds.dwData),
                     static_cast<unsigned long>(cds.cbData));
        std::fflush(g_out);
        return;
    }
    const UINT flags = U32(data, 8);
    std::string icon = "none";
    if (flags & NIF_ICON) {
        const std::vector<unsigned char> bits(data + kHeaderSize, data + cds.cbData);
        if (!g_idle.empty() && bits == g_idle)
            icon = "idle";
        else if (!g_connected.empty() && bits == g_connected)
            icon = "connected";
        else
            icon = "other";
    }
    wchar_t tip[128];
    std::memcpy(tip, data + kTipOffset, sizeof tip);
    std::fprintf(g_out, "%s hwnd=%lx id=%u flags=0x%x message=0x%x icon=%s tip=%s\n",
                 ActionName(cds.dwData), static_cast<unsigned long>(U32(data, 0)), U32(data, 4),
                 flags, U32(data, 12), icon.c_str(), Utf8(tip, 128).c_str());
    std::fflush(g_out);
}

// The shell's own notification area: a visible "Shell_TrayWnd" that is not ours.
HWND RealTray(bool visibleOnly) {
    HWND tray = nullptr;
    while ((tray = FindWindowExW(nullptr, tray, L"Shell_TrayWnd", nullptr)) != nullptr) {
        if (tray == g_self)
            continue;
        if (visibleOnly && !IsWindowVisible(tray))
            continue;
        return tray;
    }
    return nullptr;
}

LRESULT CALLBACK TrayProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        Record(*cds);
        DWORD_PTR answer = FALSE;
        if (HWND real = RealTray(false))
            SendMessageTimeoutW(real, WM_COPYDATA, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer);
        return LRESULT(answer);
    }
    if (message == WM_TIMER) {
        // Stay in front of the real one, which the shell may raise when it shows.
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int RecordTray(const char* file, const char* pondo, DWORD ms) {
    g_out = std::fopen(file, "w");
    if (g_out == nullptr)
        return 1;
    LoadPondoIcons(pondo);
    if (g_idle.empty() || g_connected.empty()) {
        std::fprintf(stderr, "traywatch: no icons 156 and 157 in %s\n", pondo);
        return 1;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = TrayProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    if (!RegisterClassW(&wc))
        return 1;
    g_self = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0,
                             0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (g_self == nullptr)
        return 1;
    SetTimer(g_self, 1, 100, nullptr);
    std::fprintf(g_out, "ready\n");
    std::fflush(g_out);
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT) == WAIT_FAILED)
            break;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    std::fclose(g_out);
    return 0;
}

int Click(UINT mouse) {
    HWND tray = RealTray(true);
    if (tray == nullptr) {
        std::fprintf(stderr, "traywatch: no notification area\n");
        return 1;
    }
    RECT rect;
    GetClientRect(tray, &rect);
    // The icons sit at the right end of the taskbar, the first one added last.
    const LPARAM point = MAKELPARAM(rect.right - 10, rect.bottom / 2);
    if (mouse == WM_LBUTTONUP)
        PostMessageW(tray, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(tray, mouse, 0, point);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && !std::strcmp(argv[1], "record"))
        return RecordTray(argv[2], argv[3], argc > 4 ? DWORD(std::atol(argv[4])) : 600000);
    if (argc >= 2 && !std::strcmp(argv[1], "click"))
        return Click(argc > 2 ? UINT(std::strtoul(argv[2], nullptr, 0)) : WM_LBUTTONUP);
    std::fprintf(stderr, "usage: traywatch record <file> <Pondo.exe> [ms] | click [mouse]\n");
    return 64;
}
