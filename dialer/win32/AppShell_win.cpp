#include "AppShell_win.h"

#include "MainDialog_win.h"
#include "MessageKind_win.h"

#include <windows.h>
#include <shlobj.h>

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
                                const std::string& caption, MessageKind kind) {
    MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(),
                MessageBoxStyle(kind));
}

std::string Win32AppShell::ProgramName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name = name.substr(0, dot);
    return name;
}

void Win32AppShell::RunMainDialog(MainDialogStart& start) {
    RunPondoDialog(start);
}

namespace {

std::string KnownFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path) !=
        S_OK)
        return std::string();
    return path;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string Win32AppShell::UserDataFolder() {
    const std::string appData = KnownFolder(CSIDL_APPDATA);
    if (appData.empty())
        return std::string();
    const std::string folder = appData + "\\Pondo";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::string();
    return folder;
}

std::string Win32AppShell::VirtualStoreCopy(const std::string& fileName) {
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(fileName.c_str(), MAX_PATH, full, nullptr);
    // Virtualisation mirrors a path below a drive's root ("C:\Program Files\...")
    // under "%LOCALAPPDATA%\VirtualStore\Program Files\...".
    if (length < 4 || length >= MAX_PATH || full[1] != ':' || full[2] != '\\')
        return std::string();
    const std::string local = KnownFolder(CSIDL_LOCAL_APPDATA);
    if (local.empty())
        return std::string();
    const std::string copy = local + "\\VirtualStore" + (full + 2);
    return IsFile(copy) ? copy : std::string();
}
