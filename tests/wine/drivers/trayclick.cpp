// trayclick <title> [mouse message]: sends the dialer's notification-area callback
// (message 1034, icon id 100) to the top-level window with that title, visible or
// hidden, as the shell does when the icon is clicked. Default: WM_LBUTTONUP.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const LPARAM mouse = argc > 2 ? LPARAM(std::strtoul(argv[2], nullptr, 0)) : WM_LBUTTONUP;
    HWND window = FindWindowA(nullptr, argv[1]);
    if (window == nullptr)
        return 1;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_USER + 10, 100, mouse, SMTO_NORMAL, 10000, &result))
        return 3;
    return 0;
}
