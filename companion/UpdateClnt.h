// The library's self-update client. At most one is current; a forgotten client
// runs on to its end.
#pragma once

#include <string>

// Starts an update client for the URL list of an UpdateUrl item (its text and
// its length byte) unless one is current. True when one was started.
bool StartUpdateClientIfNone(const std::string& urlList, int urlLength);

// Link down: forget the current client so that a later item can start a new one.
void ForgetUpdateClient();
