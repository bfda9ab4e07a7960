#pragma once

#include "CompanionModule.h"
#include "ScopedHandles_win.h"

#include <windows.h>

class Win32CompanionModule : public CompanionModule {
  public:
    bool Load(const char* fileName) override;
    InitThreadFn FindInitThread() override;
    void Unload() override;

  private:
    ScopedModule m_hModule;
};
