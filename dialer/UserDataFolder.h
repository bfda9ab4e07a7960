// Port: the dialer's folder of per-user data, %APPDATA%\Pondo (the user's roaming
// application-data folder), made when it does not exist yet.
#pragma once

#include <string>

// The folder with its separator at the end; empty when it cannot be found or made.
std::string UserDataFolder();
