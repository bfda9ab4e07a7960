#include "CompanionModule_win.h"

bool Win32CompanionModule::Load(const char* fileName) {
    module_ = LoadLibraryA(fileName);
    return module_ != nullptr;
}

InitThreadFn Win32CompanionModule::FindInitThread() {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "initThread")));
}

void Win32CompanionModule::Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
}
