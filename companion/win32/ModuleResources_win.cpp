// ModuleResources over the loader's resource functions, for a module found by
// its file name among those loaded in the process.
#include <windows.h>

#include "ModuleResources.h"
#include "Win32Ports.h"

namespace {

class ModuleResourcesWin : public ModuleResources {
  public:
    bool ReadRawData(const std::string& moduleName, int resourceId,
                     std::vector<uint8_t>& out) override {
        out.clear();
        HMODULE module = GetModuleHandleA(moduleName.c_str());
        if (module == nullptr)
            return false;
        HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(10));
        if (info == nullptr)
            return false;
        const DWORD size = SizeofResource(module, info);
        HGLOBAL loaded = LoadResource(module, info);
        if (loaded == nullptr)
            return false;
        const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
        if (bytes == nullptr && size != 0)
            return false;
        out.assign(bytes, bytes + size);
        return true;
    }
};

} // namespace

std::unique_ptr<ModuleResources> CreateWin32ModuleResources() {
    return std::make_unique<ModuleResourcesWin>();
}
