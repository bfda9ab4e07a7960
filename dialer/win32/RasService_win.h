#pragma once

#include "RasService.h"

#include <windows.h>

#include <string>

// The dial notifier hands its reports to DialReports_win.h, which brings them to
// the main dialog's thread.
//
// Every call that names a phonebook names the user's own
// ("%APPDATA%\Microsoft\Network\Connections\Pbk\rasphone.pbk"), never the default:
// from Windows Vista on the default is the all-users phonebook, which only an
// administrator may write, and an entry written in one phonebook is neither
// dialed nor deleted through another.
class Win32RasService : public RasService {
  public:
    Win32RasService();

    uint32_t EnumDevices(RasDevInfoRecord* block, uint32_t* bytes, uint32_t* count) override;
    uint32_t SetEntryProperties(const char* entry, const RasEntryRecord& record,
                                uint32_t size) override;
    uint32_t Dial(const RasDialParamsRecord& params, RasHandle* handle) override;
    uint32_t GetErrorString(uint32_t code, char* buffer, uint32_t size) override;
    uint32_t EnumConnections(RasConnRecord* block, uint32_t* bytes, uint32_t* count) override;
    uint32_t HangUp(RasHandle handle) override;
    uint32_t DeleteEntry(const char* entry) override;

  private:
    // Empty (the default phonebook) only when the user has no application data.
    const char* PhonebookArg() const {
        return m_strPhonebook.empty() ? nullptr : m_strPhonebook.c_str();
    }

    std::string m_strPhonebook;
};
