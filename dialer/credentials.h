// The remembered user name, password-saving choice and scrambled password in
// "kelsupplicant.conf".
#pragma once

#include <cstdint>
#include <string>

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
void LoadCredentials(Credentials& fields);
// Writes the fields to the user settings file; results are not examined.
void SaveCredentials(const Credentials& fields);
