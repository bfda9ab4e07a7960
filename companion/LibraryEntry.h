// The library's side of the host interface: initThread and the three entry
// points it writes into the dialer's record. Portable; the Win32 export in
// win32/Ostrel_win.cpp installs the real ports and then calls InitThreadEntry.
#pragma once

#include <cstdint>

#include "DetectThread.h"
#include "HostInterface.h"

struct LibrarySettings {
    DetectTiming timing;
    Detectors detectors;
    uint32_t replaceWaitMs = 2000; // a second initThread gives the old thread this long
};
// Read by initThread when it creates a detection thread. Tests change it first.
LibrarySettings& EntrySettings();

// initThread's steps: 0 = ready, 0xffff = refuses. Slots 2 to 4 are written
// whatever the answer. Never raises.
int32_t InitThreadEntry(HostInterface* host);

extern "C" {
int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length);
int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length);
int32_t HOST_CALL NotifyLinkState(uint32_t up);
}
