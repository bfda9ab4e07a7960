#include "BasicInfo.h"

#include "Ports.h"
#include "ServiceControl.h"
#include "utils.h"

// Twelve characters, each with its 4-bit halves exchanged, so the name does not
// show among the library's texts.
const char kWatchedServiceScrambled[] = "\x35\x86\x16\x27\x56\x46\x14\x36\x36\x56\x37\x37";

bool IsScrambledServiceRunning(const char* scrambledName) {
    char name[64];
    CopyTextN(name, scrambledName, 63);
    SwapNibbles(name, 63);
    if (name[0] == 0 || Ports().services == nullptr)
        return false;
    return Ports().services->QueryServiceState(name) == kServiceRunning;
}

bool IsWatchedServiceRunning() {
    return IsScrambledServiceRunning(kWatchedServiceScrambled);
}
