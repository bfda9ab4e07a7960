// Port: loading the companion library and finding its one export.
#pragma once

#include "HostInterface.h"

class CompanionModule {
  public:
    virtual ~CompanionModule() = default;
    // LoadLibrary by bare file name; false when it cannot be loaded.
    virtual bool Load(const char* fileName) = 0;
    // GetProcAddress("initThread"); nullptr when missing.
    virtual InitThreadFn FindInitThread() = 0;
    // FreeLibrary when loaded; safe to call when not.
    virtual void Unload() = 0;
};
