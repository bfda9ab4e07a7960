// The service check: whether the one service the library watches is running.
#pragma once

// True when the service whose name is stored scrambled in `scrambledName` (at
// most 63 characters are used) is running. False when any step fails.
bool IsScrambledServiceRunning(const char* scrambledName);

// The watched service: the system's connection-sharing service.
bool IsWatchedServiceRunning();

// The watched service's name as the library stores it (scrambled).
extern const char kWatchedServiceScrambled[];
