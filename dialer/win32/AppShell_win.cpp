#include "AppShell_win.h"

#include "MainDialog_win.h"

#include <windows.h>

bool Win32AppShell::CreateInstanceMutex(const std::string& name) {
    // Owned from the start and never closed: the system releases it at exit.
    CreateMutexA(nullptr, TRUE, name.c_str());
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

WindowRef Win32AppShell::FindTopWindow(const std::string& title) {
    return reinterpret_cast<WindowRef>(FindWindowA(nullptr, title.c_str()));
}

void Win32AppShell::ShowAndRaise(WindowRef window) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
}

void Win32AppShell::ShowMessage(WindowRef owner, const std::string& text,
                                const std::string& caption, unsigned style) {
    MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
}

std::string Win32AppShell::ProgramName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name = name.substr(0, dot);
    return name;
}

void Win32AppShell::RunMainDialog(PondoApp& app) { RunPondoDialog(app); }
