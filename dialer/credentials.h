// The remembered user name, password-saving choice and scrambled password in
// "kelsupplicant.conf".
#pragma once

#include "settings.h"

#include <cstdint>
#include <string>

class AppShell;

struct Credentials {
    std::string userName;
    std::string password;
    bool savePassword = false;
};

// RC4 with the fixed key, as lowercase hex ("%.2x" per byte).
bool ScramblePassword(const std::string& password, std::string& result);
// Undoes ScramblePassword; false (result untouched) for an odd-length text.
bool UnscramblePassword(const std::string& hex, std::string& result);
uint8_t HexPairToByte(char high, char low);

// Fills the fields from the user settings file (missing values leave them as they are).
void LoadCredentials(Credentials& fields, const std::string& file = kUserFile);
// Writes the fields to the user settings file; results are not examined.
void SaveCredentials(const Credentials& fields, const std::string& file = kUserFile);

// The three lines of a new user settings file, as the installer ships it.
extern const char* const kNewCredentialsFile;

// The user settings file this user works with. A per-user install has it in the
// program folder (the current folder), where the user may write it: that one.
// Otherwise (a machine-wide install, whose program folder the user may not write)
// the one in the user's own data folder, made there on first use from the copy an
// earlier, virtualised dialer left in the user's VirtualStore or else with the
// three empty lines. Falls back to the program folder's name when the user has no
// data folder, so reads keep their defaults and nothing is saved.
std::string LocateCredentialsFile(AppShell& shell);
