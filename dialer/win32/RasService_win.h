#pragma once

#include "RasService.h"

#include <windows.h>

// The dial notifier hands its reports to DialReports_win.h, which brings them to
// the main dialog's thread.
class Win32RasService : public RasService {
public:
    uint32_t EnumDevices(RasDevInfoRecord* block, uint32_t* bytes, uint32_t* count) override;
    uint32_t SetEntryProperties(const char* entry, const RasEntryRecord& record,
                                uint32_t size) override;
    uint32_t Dial(const RasDialParamsRecord& params, RasHandle* handle) override;
    uint32_t GetErrorString(uint32_t code, char* buffer, uint32_t size) override;
    uint32_t EnumConnections(RasConnRecord* block, uint32_t* bytes, uint32_t* count) override;
    uint32_t HangUp(RasHandle handle) override;
    uint32_t DeleteEntry(const char* entry) override;
};
