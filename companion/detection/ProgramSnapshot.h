// Port: what running programs show of themselves - processes and their first
// module, top-level windows, and the version texts of executables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using WindowHandle = uintptr_t;

class ProgramSnapshot {
  public:
    virtual ~ProgramSnapshot() = default;

    // Enables or disables the debug privilege on the library's own process token
    // (lets the module snapshot see other users' processes). Outcome not reported.
    virtual void SetDebugPrivilege(bool enabled) = 0;
    // Identifiers of all processes, in the order a process snapshot reports them.
    virtual bool ListProcesses(std::vector<uint32_t>& pids) = 0;
    // Name and full path of the process's first module; false when its module
    // snapshot fails or has no first module.
    virtual bool FirstModule(uint32_t pid, std::string& name, std::string& path) = 0;

    // Top-level windows in enumeration order; the enumeration stops at `max`.
    virtual void ListTopWindows(std::vector<WindowHandle>& out, size_t max) = 0;
    // Title and class name, each at most 255 characters ("" when unreadable),
    // and the owning process (0 when unreadable).
    virtual std::string WindowTitle(WindowHandle window) = 0;
    virtual std::string WindowClass(WindowHandle window) = 0;
    virtual uint32_t WindowProcessId(WindowHandle window) = 0;

    // The executable's whole version information block; false when it has none.
    virtual bool ReadVersionInfo(const std::string& path, std::vector<uint8_t>& block) = 0;
    // One value of a version block (the query may write its conversions into the
    // block, as the system's does), e.g. "\\StringFileInfo\\040904b0\\CompanyName".
    virtual bool QueryVersionText(std::vector<uint8_t>& block, const std::string& subBlock,
                                  std::string& value) = 0;
};
