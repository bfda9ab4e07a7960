#include "catalogue.h"

#include "ProductVersion.h"
#include "settings.h"

#include <cstring>

namespace {

const char* const kFindings[] = {
    "Unknown Vorlane Message.",
    "Multiple adapters, violate server's request.",
    "Multiple IP addresses, violate server's request.",
    "Change IP after authenticated, violate server's request.",
    "Computer with same IP&MAC exists, violate server's request.",
    "Too many TCP sessions, violate server's request.",
    "Too many UDP ports, violate server's request.",
    "Windows ICS service is running, violate server's request.",
    "Proxy service is running, violate server's request.",
    "DHCP service is running, violate server's request.",
    "BT software is running, violate server's request.",
};

const char* const kErrors[] = {
    "Unkonwn error, please try again later.",     "Client is running !",
    "Client program is broken, please exit.",     "No available adapter !",
    "Please select ethernet adapter !",           "Cannot create PPPOE connection.",
    "Invalid username length, between 3 and 20.", "Invalid password length, between 6 and 20",
};

const char* const kStatus[] = {
    "Welcome to use.",
    "Disconnecting, please wait ...",
    "Connection is disconnected.",
    "Connecting, please wait ...",
    "Connection is established.",
    "Server is not respond.",
};

const char* const kRasStates[] = {
    "Unknown RSA Message", "OpenPort",
    "PortOpened",          "ConnectDevice",
    "DeviceConnected",     "AllDevicesConnected",
    "Authenticate",        "AuthNotify",
    "AuthRetry",           "AuthCallback",
    "AuthChangePassword",  "AuthProject",
    "AuthLinkSpeed",       "AuthAck",
    "ReAuthenticate",      "Authenticated",
    "PrepareForCallback",  "WaitForModemReset",
    "WaitForCallback",     "Interactive",
    "RetryAuthentication", "CallbackSetByCaller",
    "PasswordExpired",     "Connected",
    "Disconnected",
};

template <size_t N> constexpr int Rows(const char* const (&)[N]) {
    return int(N);
}

const CatalogueTable kFindingTable{100, Rows(kFindings), kFindings};
const CatalogueTable kErrorTable{200, Rows(kErrors), kErrors};
const CatalogueTable kStatusTable{300, Rows(kStatus), kStatus};
const CatalogueTable kRasStateTable{400, Rows(kRasStates), kRasStates};

// The one source of every default text of the dialer's windows. The product's name
// and copyright line come from ProductVersion.h, which the version resources and the
// installer read as well, so all of them say the same.
const NamedText kNamed[] = {
    {"MainDlgTitle", PONDO_PRODUCT_NAME},
    {"Username", "Username"},
    {"Password", "Password"},
    {"Adapters", "Please select adapter"},
    {"Connect", "Connect"},
    // No built-in text: without a line in the texts file the button keeps its idle
    // caption while connected. The shipped file gives it.
    {"Disconnect", nullptr, "Disconnect"},
    {"Exit", "Exit"},
    {"SavePw", "Save Password"},
    {"AboutTitle", "About " PONDO_PRODUCT_NAME},
    {"AboutOK", "OK"},
    {"Version", PONDO_PRODUCT_NAME},
    {"CopyRight", PONDO_COPYRIGHT},
};

std::string Lookup(const CatalogueTable& table, int index) {
    if (index < 0 || index >= table.rows)
        index = 0;
    std::string text = table.defaults[index];
    GetSettingText(std::to_string(table.base + index).c_str(), kTextsFile, text);
    return text;
}

} // namespace

const CatalogueTable& FindingTable() {
    return kFindingTable;
}
const CatalogueTable& ErrorTable() {
    return kErrorTable;
}
const CatalogueTable& StatusTable() {
    return kStatusTable;
}
const CatalogueTable& RasStateTable() {
    return kRasStateTable;
}

std::string GetFindingText(int index) {
    return Lookup(kFindingTable, index);
}
std::string GetErrorText(int index) {
    return Lookup(kErrorTable, index);
}
std::string GetStatusText(int index) {
    return Lookup(kStatusTable, index);
}
std::string GetRasStateText(int index) {
    return Lookup(kRasStateTable, index);
}

std::string FindingText(FindingKey key) {
    return GetFindingText(int(key));
}
std::string ErrorText(ErrorKey key) {
    return GetErrorText(int(key));
}
std::string StatusText(StatusKey key) {
    return GetStatusText(int(key));
}

int RasStateIndex(uint32_t state) {
    if (state <= 17)
        return int(state) + 1;
    if (state >= 4096 && state <= 4099)
        return int(state - 4096) + 19;
    if (state == 8192)
        return 23;
    if (state == 8193)
        return 24;
    return 0;
}

const NamedText* NamedTexts(int& count) {
    count = int(sizeof kNamed / sizeof kNamed[0]);
    return kNamed;
}

std::string DefaultText(const char* key) {
    const char* text = NamedTextDefault(key);
    return text != nullptr ? text : "";
}

const char* NamedTextDefault(const char* key) {
    for (const NamedText& named : kNamed)
        if (key != nullptr && std::strcmp(named.key, key) == 0)
            return named.defaultText;
    return nullptr;
}
