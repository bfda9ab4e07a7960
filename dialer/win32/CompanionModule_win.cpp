#include "CompanionModule_win.h"

bool Win32CompanionModule::Load(const char* fileName) {
    m_hModule.Reset(LoadLibraryA(fileName));
    return m_hModule.IsValid();
}

InitThreadFn Win32CompanionModule::FindInitThread() {
    if (!m_hModule)
        return nullptr;
    return reinterpret_cast<InitThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(m_hModule.Get(), "initThread")));
}

void Win32CompanionModule::Unload() {
    m_hModule.Reset();
}
