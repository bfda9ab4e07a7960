#include "UserDataFolder.h"

#include <windows.h>
#include <shlobj.h>

std::string UserDataFolder() {
    char path[MAX_PATH] = {};
    // CSIDL_FLAG_CREATE: a profile that has never had the folder gets it now.
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
        return std::string();
    std::string folder = std::string(path) + "\\Pondo";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return std::string();
    return folder + "\\";
}
