// ProgramSnapshot over the tool-help snapshots, window enumeration, the
// version-information functions and the process token.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "ProgramSnapshot.h"
#include "ScopedHandle.h"
#include "Win32Ports.h"

namespace {

struct WindowCollector {
    std::vector<WindowHandle>* out;
    size_t max;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* c = reinterpret_cast<WindowCollector*>(context);
    if (c->out->size() >= c->max)
        return FALSE;
    c->out->push_back(reinterpret_cast<WindowHandle>(window));
    return c->out->size() < c->max;
}

class ProgramSnapshotWin : public ProgramSnapshot {
  public:
    void SetDebugPrivilege(bool enabled) override {
        ScopedKernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                              token.Receive()))
            return;
        TOKEN_PRIVILEGES tp{};
        if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &tp.Privileges[0].Luid))
            return;
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
        AdjustTokenPrivileges(token.Get(), FALSE, &tp, sizeof tp, nullptr, nullptr);
    }

    bool ListProcesses(std::vector<uint32_t>& pids) override {
        pids.clear();
        ScopedFileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snap)
            return false;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL ok = Process32First(snap.Get(), &entry); ok;
             ok = Process32Next(snap.Get(), &entry))
            pids.push_back(entry.th32ProcessID);
        return true;
    }

    bool FirstModule(uint32_t pid, std::string& name, std::string& path) override {
        ScopedFileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
        if (!snap)
            return false;
        MODULEENTRY32 entry{};
        entry.dwSize = sizeof entry;
        if (!Module32First(snap.Get(), &entry))
            return false;
        name.assign(entry.szModule, strnlen(entry.szModule, sizeof entry.szModule));
        path.assign(entry.szExePath, strnlen(entry.szExePath, sizeof entry.szExePath));
        return true;
    }

    void ListTopWindows(std::vector<WindowHandle>& out, size_t max) override {
        out.clear();
        if (max == 0)
            return;
        WindowCollector c{&out, max};
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&c));
    }

    std::string WindowTitle(WindowHandle window) override {
        char text[256];
        const int n = GetWindowTextA(reinterpret_cast<HWND>(window), text, sizeof text);
        return n > 0 ? std::string(text, strnlen(text, sizeof text)) : std::string();
    }

    std::string WindowClass(WindowHandle window) override {
        char text[256];
        const int n = GetClassNameA(reinterpret_cast<HWND>(window), text, sizeof text);
        return n > 0 ? std::string(text, strnlen(text, sizeof text)) : std::string();
    }

    uint32_t WindowProcessId(WindowHandle window) override {
        DWORD pid = 0;
        if (GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &pid) == 0)
            return 0;
        return pid;
    }

    bool ReadVersionInfo(const std::string& path, std::vector<uint8_t>& block) override {
        block.clear();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (size == 0)
            return false;
        block.assign(size, 0);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
            block.clear();
            return false;
        }
        return true;
    }

    bool QueryVersionText(std::vector<uint8_t>& block, const std::string& subBlock,
                          std::string& value) override {
        if (block.empty())
            return false;
        void* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), subBlock.c_str(), &text, &length) || text == nullptr)
            return false;
        // The answer lies inside the block; never read past the block's end.
        const auto* begin = static_cast<const char*>(text);
        const auto* blockEnd = reinterpret_cast<const char*>(block.data() + block.size());
        if (begin < reinterpret_cast<const char*>(block.data()) || begin >= blockEnd)
            return false;
        const size_t room = size_t(blockEnd - begin);
        value.assign(begin, strnlen(begin, length < room ? length : room));
        return true;
    }
};

} // namespace

std::unique_ptr<ProgramSnapshot> CreateWin32ProgramSnapshot() {
    return std::make_unique<ProgramSnapshotWin>();
}
