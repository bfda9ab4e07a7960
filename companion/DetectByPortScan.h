// Local port probing: one sweep per library lifetime, on a thread of its own.
#pragma once

#include <functional>

// Creates and starts the library's probe thread unless one was created before.
// `onProxyFound` runs on the probe thread when a working proxy answers; it must
// stay callable for the life of the library.
void StartPortProbeOnce(std::function<void()> onProxyFound);
