#include "credentials.h"

#include "settings.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The fixed scrambling key: 14 bytes, no terminator. Stored files depend on it.
const uint8_t kKey[14] = {'5', '8', '0', '3', '1', '7', '#', 'q', 'a', 'm', '%', '&', '+', '='};

// RC4 over `data` in place, keyed with kKey.
void Rc4(std::vector<uint8_t>& data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + kKey[i % sizeof kKey]) & 0xff;
        std::swap(s[i], s[j]);
    }
    int i = 0, j = 0;
    for (uint8_t& byte : data) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        byte ^= s[(s[i] + s[j]) & 0xff];
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

} // namespace

uint8_t HexPairToByte(char high, char low) {
    return uint8_t((HexDigit(high) << 4) | HexDigit(low));
}

bool ScramblePassword(const std::string& password, std::string& result) {
    std::vector<uint8_t> bytes(password.begin(), password.end());
    Rc4(bytes);
    std::string hex;
    hex.reserve(bytes.size() * 2);
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%.2x", b);
        hex += pair;
    }
    result = hex;
    return true;
}

bool UnscramblePassword(const std::string& hex, std::string& result) {
    if (hex.size() % 2 != 0) return false;
    std::vector<uint8_t> bytes(hex.size() / 2);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = HexPairToByte(hex[2 * k], hex[2 * k + 1]);
    Rc4(bytes);
    size_t end = 0;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    result.assign(bytes.begin(), bytes.begin() + end);
    return true;
}

void LoadCredentials(Credentials& fields) {
    GetSettingText("username", kUserFile, fields.userName);
    char value[100];
    if (!ReadSettingValue("savepw", kUserFile, value, sizeof value) || std::strcmp(value, "on") != 0)
        return;
    fields.savePassword = true;
    // Read the password with the whole line's room: with less, a saved password
    // longer than 49 bytes would be cut to an odd length and silently lost.
    char hex[kMaxSettingLine + 1];
    if (ReadSettingValue("password", kUserFile, hex, sizeof hex)) {
        std::string password;
        if (UnscramblePassword(hex, password)) fields.password = password;
    }
}

void SaveCredentials(const Credentials& fields) {
    WriteSettingValue("username", kUserFile, fields.userName.c_str());
    if (fields.savePassword) {
        WriteSettingValue("savepw", kUserFile, "on");
        std::string scrambled;
        // A password too long for its line is refused by the writer; clear the line
        // then, so the previous password is not kept under the new user's choice.
        if (!ScramblePassword(fields.password, scrambled) ||
            !WriteSettingValue("password", kUserFile, scrambled.c_str()))
            WriteSettingValue("password", kUserFile, "");
    } else {
        WriteSettingValue("savepw", kUserFile, "off");
        WriteSettingValue("password", kUserFile, "");
    }
}
