// Port: the remote-access service, one call per function the dialer uses. Records
// travel as the service's own bytes (RasRecords.h); answers are the service's
// result codes (0 = success). Every call that takes a phonebook names the same
// one, the user's own, so no call needs administrator rights.
#pragma once

#include "RasRecords.h"

#include <cstdint>

class RasService {
  public:
    virtual ~RasService() = default;
    // RasEnumDevicesA: `block` may be null to ask for the size in *bytes.
    virtual uint32_t EnumDevices(RasDevInfoRecord* block, uint32_t* bytes, uint32_t* count) = 0;
    // RasSetEntryPropertiesA on the user's own phonebook, no device-specific data.
    virtual uint32_t SetEntryProperties(const char* entry, const RasEntryRecord& record,
                                        uint32_t size) = 0;
    // RasDialA on the user's own phonebook with a RasDialFunc1 notifier. The notifier
    // does not run the dialog's code: it hands the connection handle, state and
    // error to the window's own thread, which delivers them to
    // PondoDlg::OnDialNotification.
    virtual uint32_t Dial(const RasDialParamsRecord& params, RasHandle* handle) = 0;
    // RasGetErrorStringA into a caller's buffer.
    virtual uint32_t GetErrorString(uint32_t code, char* buffer, uint32_t size) = 0;
    // RasEnumConnectionsA: the caller sets block[0].dwSize.
    virtual uint32_t EnumConnections(RasConnRecord* block, uint32_t* bytes, uint32_t* count) = 0;
    virtual uint32_t HangUp(RasHandle handle) = 0;
    // RasDeleteEntryA on the user's own phonebook.
    virtual uint32_t DeleteEntry(const char* entry) = 0;
};
