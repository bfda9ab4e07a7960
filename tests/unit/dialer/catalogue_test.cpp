// Built-in texts, their replacement from the interface texts file, and the choice
// of the dial-state row.
#include "catalogue.h"

#include "settings.h"

#include "ScratchDir.h"

#include <functional>
#include <string>

namespace {

struct DefaultText {
    const char* key;
    const char* text;
};

// The tables as a subscriber sees them, written out here independently of the code.
const DefaultText kDefaults[] = {
    {"100", "Unknown Vorlane Message."},
    {"101", "Multiple adapters, violate server's request."},
    {"102", "Multiple IP addresses, violate server's request."},
    {"103", "Change IP after authenticated, violate server's request."},
    {"104", "Computer with same IP&MAC exists, violate server's request."},
    {"105", "Too many TCP sessions, violate server's request."},
    {"106", "Too many UDP ports, violate server's request."},
    {"107", "Windows ICS service is running, violate server's request."},
    {"108", "Proxy service is running, violate server's request."},
    {"109", "DHCP service is running, violate server's request."},
    {"110", "BT software is running, violate server's request."},
    {"200", "Unkonwn error, please try again later."},
    {"201", "Client is running !"},
    {"202", "Client program is broken, please exit."},
    {"203", "No available adapter !"},
    {"204", "Please select ethernet adapter !"},
    {"205", "Cannot create PPPOE connection."},
    {"206", "Invalid username length, between 3 and 20."},
    {"207", "Invalid password length, between 6 and 20"},
    {"300", "Welcome to use."},
    {"301", "Disconnecting, please wait ..."},
    {"302", "Connection is disconnected."},
    {"303", "Connecting, please wait ..."},
    {"304", "Connection is established."},
    {"305", "Server is not respond."},
    {"400", "Unknown RSA Message"},
    {"401", "OpenPort"},
    {"402", "PortOpened"},
    {"403", "ConnectDevice"},
    {"404", "DeviceConnected"},
    {"405", "AllDevicesConnected"},
    {"406", "Authenticate"},
    {"407", "AuthNotify"},
    {"408", "AuthRetry"},
    {"409", "AuthCallback"},
    {"410", "AuthChangePassword"},
    {"411", "AuthProject"},
    {"412", "AuthLinkSpeed"},
    {"413", "AuthAck"},
    {"414", "ReAuthenticate"},
    {"415", "Authenticated"},
    {"416", "PrepareForCallback"},
    {"417", "WaitForModemReset"},
    {"418", "WaitForCallback"},
    {"419", "Interactive"},
    {"420", "RetryAuthentication"},
    {"421", "CallbackSetByCaller"},
    {"422", "PasswordExpired"},
    {"423", "Connected"},
    {"424", "Disconnected"},
};

// The lookup for a whole key such as "305".
std::string LookUp(const std::string& key) {
    const int number = std::stoi(key);
    const int index = number % 100;
    switch (number / 100) {
    case 1:
        return GetFindingText(index);
    case 2:
        return GetErrorText(index);
    case 3:
        return GetStatusText(index);
    default:
        return GetRasStateText(index);
    }
}

class Catalogue : public InScratchDir {};

TEST_F(Catalogue, EveryDefaultWithoutTextsFile) {
    for (const DefaultText& d : kDefaults)
        EXPECT_EQ(LookUp(d.key), d.text) << d.key;
}

TEST_F(Catalogue, TablesHaveTheirRows) {
    EXPECT_EQ(FindingTable().rows, 11);
    EXPECT_EQ(ErrorTable().rows, 8);
    EXPECT_EQ(StatusTable().rows, 6);
    EXPECT_EQ(RasStateTable().rows, 25);
    EXPECT_EQ(FindingTable().base, 100);
    EXPECT_EQ(ErrorTable().base, 200);
    EXPECT_EQ(StatusTable().base, 300);
    EXPECT_EQ(RasStateTable().base, 400);
}

TEST_F(Catalogue, FileReplacesRowsItHasAndOnlyThose) {
    WriteFile(kTextsFile, "# replaced texts\n"
                          "301 = Bye for now # status\n"
                          "203 =\n"
                          "110=Torrents seen\n"
                          "400 = Odd state\n");
    EXPECT_EQ(GetStatusText(1), "Bye for now");
    EXPECT_EQ(GetStatusText(2), "Connection is disconnected."); // 302 has no line
    EXPECT_EQ(GetErrorText(3), "");                             // empty value replaces
    EXPECT_EQ(GetFindingText(10), "Torrents seen");
    EXPECT_EQ(GetRasStateText(RasStateIndex(18)), "Odd state");
    EXPECT_EQ(GetErrorText(0), "Unkonwn error, please try again later.");
}

TEST_F(Catalogue, EveryLookupReadsTheFileAgain) {
    EXPECT_EQ(GetStatusText(0), "Welcome to use.");
    WriteFile(kTextsFile, "300 = Hello\n");
    EXPECT_EQ(GetStatusText(0), "Hello");
    WriteFile(kTextsFile, "300 = Hello again\n");
    EXPECT_EQ(GetStatusText(0), "Hello again");
}

TEST_F(Catalogue, IndexOutsideTheTableGivesRowZero) {
    WriteFile(kTextsFile, "200 = zero row\n");
    EXPECT_EQ(GetErrorText(-1), "zero row");
    EXPECT_EQ(GetErrorText(8), "zero row");
    EXPECT_EQ(GetFindingText(11), "Unknown Vorlane Message.");
    EXPECT_EQ(GetStatusText(1000000), "Welcome to use.");
    EXPECT_EQ(GetRasStateText(25), "Unknown RSA Message");
}

TEST(RasStateIndex, MapsEveryState) {
    for (uint32_t state = 0; state <= 17; ++state)
        EXPECT_EQ(RasStateIndex(state), int(state) + 1);
    const struct {
        uint32_t state;
        int index;
    } cases[] = {{18, 0},    {100, 0},   {4095, 0},        {4096, 19},      {4097, 20},
                 {4098, 21}, {4099, 22}, {4100, 0},        {8191, 0},       {8192, 23},
                 {8193, 24}, {8194, 0},  {0xffffffffu, 0}, {0x80000000u, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(RasStateIndex(c.state), c.index) << c.state;
}

TEST_F(Catalogue, DialStateTextsFollowTheState) {
    EXPECT_EQ(GetRasStateText(RasStateIndex(0)), "OpenPort");
    EXPECT_EQ(GetRasStateText(RasStateIndex(17)), "WaitForCallback");
    EXPECT_EQ(GetRasStateText(RasStateIndex(4096)), "Interactive");
    EXPECT_EQ(GetRasStateText(RasStateIndex(4099)), "PasswordExpired");
    EXPECT_EQ(GetRasStateText(RasStateIndex(8192)), "Connected");
    EXPECT_EQ(GetRasStateText(RasStateIndex(8193)), "Disconnected");
    EXPECT_EQ(GetRasStateText(RasStateIndex(18)), "Unknown RSA Message");
}

TEST(NamedTexts, DefaultsAsShown) {
    const DefaultText named[] = {
        {"MainDlgTitle", "TALVEN PPPOE Client"},
        {"Username", "Username"},
        {"Password", "Password"},
        {"Adapters", "Please select adapter"},
        {"Connect", "Connect"},
        {"Exit", "Exit"},
        {"SavePw", "Save Password"},
        {"AboutTitle", "About TALVEN PPPOE Client"},
        {"AboutOK", "OK"},
        {"Version", "TALVEN PPPOE Client"},
    };
    for (const DefaultText& d : named) {
        ASSERT_NE(NamedTextDefault(d.key), nullptr) << d.key;
        EXPECT_STREQ(NamedTextDefault(d.key), d.text) << d.key;
    }
    EXPECT_EQ(NamedTextDefault("Disconnect"), nullptr); // no default: the caption stays
    EXPECT_EQ(NamedTextDefault("Nonsense"), nullptr);
    ASSERT_NE(NamedTextDefault("CopyRight"), nullptr);
    EXPECT_NE(std::string(NamedTextDefault("CopyRight")).find("Copyright"), std::string::npos);

    int count = 0;
    const NamedText* all = NamedTexts(count);
    ASSERT_EQ(count, 12); // the ten above, "Disconnect" and "CopyRight"
    bool sawDisconnect = false;
    for (int i = 0; i < count; ++i)
        sawDisconnect |= std::string(all[i].key) == "Disconnect";
    EXPECT_TRUE(sawDisconnect);
}

// No key of the texts file may be the beginning of another: the reader would
// take the longer key's line for the shorter one.
TEST(NamedTexts, NoKeyIsThePrefixOfAnother) {
    std::vector<std::string> keys;
    int count = 0;
    const NamedText* all = NamedTexts(count);
    for (int i = 0; i < count; ++i)
        keys.push_back(all[i].key);
    for (const CatalogueTable* t :
         {&FindingTable(), &ErrorTable(), &StatusTable(), &RasStateTable()})
        for (int i = 0; i < t->rows; ++i)
            keys.push_back(std::to_string(t->base + i));
    for (const std::string& a : keys)
        for (const std::string& b : keys)
            if (a != b)
                EXPECT_NE(b.rfind(a, 0), 0u) << a << " begins " << b;
}

} // namespace

TEST_F(Catalogue, NamedRowsReadTheirNumberedKeys) {
    // Each named row against the key the texts file knows it by: the file gives
    // every key a text of its own, so a row read under another number shows.
    const struct {
        const char* key;
        std::function<std::string()> read;
    } rows[] = {
        {"100", [] { return FindingText(FindingKey::UnknownMessage); }},
        {"101", [] { return FindingText(FindingKey::MultipleAdapters); }},
        {"102", [] { return FindingText(FindingKey::MultipleAddresses); }},
        {"103", [] { return FindingText(FindingKey::AddressChanged); }},
        {"104", [] { return FindingText(FindingKey::SameHostExists); }},
        {"105", [] { return FindingText(FindingKey::TooManyTcpSessions); }},
        {"106", [] { return FindingText(FindingKey::TooManyUdpPorts); }},
        {"107", [] { return FindingText(FindingKey::SharingService); }},
        {"108", [] { return FindingText(FindingKey::ProxyService); }},
        {"109", [] { return FindingText(FindingKey::DhcpService); }},
        {"110", [] { return FindingText(FindingKey::BitTorrent); }},
        {"200", [] { return ErrorText(ErrorKey::Unknown); }},
        {"201", [] { return ErrorText(ErrorKey::AlreadyRunning); }},
        {"202", [] { return ErrorText(ErrorKey::LibraryBroken); }},
        {"203", [] { return ErrorText(ErrorKey::NoAdapter); }},
        {"204", [] { return ErrorText(ErrorKey::NotEthernet); }},
        {"205", [] { return ErrorText(ErrorKey::EntryRefused); }},
        {"206", [] { return ErrorText(ErrorKey::UserNameLength); }},
        {"207", [] { return ErrorText(ErrorKey::PasswordLength); }},
        {"300", [] { return StatusText(StatusKey::Welcome); }},
        {"301", [] { return StatusText(StatusKey::Disconnecting); }},
        {"302", [] { return StatusText(StatusKey::Disconnected); }},
        {"303", [] { return StatusText(StatusKey::Connecting); }},
        {"304", [] { return StatusText(StatusKey::Connected); }},
        {"305", [] { return StatusText(StatusKey::ServerNotResponding); }},
    };
    std::string file;
    for (const auto& row : rows)
        file += std::string(row.key) + " = text of " + row.key + "\n";
    WriteFile(kTextsFile, file);
    for (const auto& row : rows)
        EXPECT_EQ(row.read(), std::string("text of ") + row.key);
}
