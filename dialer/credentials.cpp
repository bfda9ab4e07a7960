#include "credentials.h"

#include "AppShell.h"
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
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
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
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
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
    if (hex.size() % 2 != 0)
        return false;
    std::vector<uint8_t> bytes(hex.size() / 2);
    for (size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = HexPairToByte(hex[2 * k], hex[2 * k + 1]);
    Rc4(bytes);
    size_t end = 0;
    while (end < bytes.size() && bytes[end] != 0)
        ++end;
    result.assign(bytes.begin(), bytes.begin() + end);
    return true;
}

void LoadCredentials(Credentials& fields, const std::string& file) {
    const char* const name = file.c_str();
    GetSettingText("username", name, fields.userName);
    char value[100];
    if (!ReadSettingValue("savepw", name, value, sizeof value) || std::strcmp(value, "on") != 0)
        return;
    fields.savePassword = true;
    // Read the password with the whole line's room: with less, a saved password
    // longer than 49 bytes would be cut to an odd length and silently lost.
    char hex[kMaxSettingLine + 1];
    if (ReadSettingValue("password", name, hex, sizeof hex)) {
        std::string password;
        if (UnscramblePassword(hex, password))
            fields.password = password;
    }
}

void SaveCredentials(const Credentials& fields, const std::string& file) {
    const char* const name = file.c_str();
    WriteSettingValue("username", name, fields.userName.c_str());
    if (fields.savePassword) {
        WriteSettingValue("savepw", name, "on");
        std::string scrambled;
        // A password too long for its line is refused by the writer; clear the line
        // then, so the previous password is not kept under the new user's choice.
        if (!ScramblePassword(fields.password, scrambled) ||
            !WriteSettingValue("password", name, scrambled.c_str()))
            WriteSettingValue("password", name, "");
    } else {
        WriteSettingValue("savepw", name, "off");
        WriteSettingValue("password", name, "");
    }
}

const char* const kNewCredentialsFile =
    "# Remembered by the dialer at each Connect. It only rewrites these lines and never\n"
    "# adds one, so all three must stay. The password is stored scrambled.\n"
    "username = \n"
    "savepw = off\n"
    "password = \n";

namespace {

bool Exists(const std::string& path) {
    if (std::FILE* f = std::fopen(path.c_str(), "r")) {
        std::fclose(f);
        return true;
    }
    return false;
}

// Opening for update changes nothing in the file; it only fails where this user
// may not write it (a read-only file, or a folder the user may not write).
bool IsWritable(const std::string& path) {
    if (std::FILE* f = std::fopen(path.c_str(), "r+")) {
        std::fclose(f);
        return true;
    }
    return false;
}

bool ReadWhole(const std::string& path, std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    char buffer[1024];
    size_t n;
    content.clear();
    // A settings file is small; anything larger is not one.
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 &&
           content.size() <= kMaxSettingContent)
        content.append(buffer, n);
    const bool ok = !std::ferror(f) && content.size() <= kMaxSettingContent;
    std::fclose(f);
    return ok;
}

// Writes a new file; a half-written one is removed, never left to be read.
bool CreateWith(const std::string& path, const std::string& content, const char* mode) {
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    const bool closed = std::fclose(f) == 0;
    if (written && closed)
        return true;
    std::remove(path.c_str());
    return false;
}

} // namespace

std::string LocateCredentialsFile(AppShell& shell) {
    if (IsWritable(kUserFile))
        return kUserFile;
    const std::string folder = shell.UserDataFolder();
    if (folder.empty())
        return kUserFile;
    const char last = folder.back();
    const std::string file = folder + (last == '\\' || last == '/' ? "" : "\\") + kUserFile;
    if (Exists(file))
        return file;
    std::string copied;
    const std::string legacy = shell.VirtualStoreCopy(kUserFile);
    if (!legacy.empty() && ReadWhole(legacy, copied) && CreateWith(file, copied, "wb"))
        return file;
    CreateWith(file, kNewCredentialsFile, "w");
    return file;
}
