// Built-in English texts and their lookup in the interface texts file.
#pragma once

#include <cstdint>
#include <string>

// A numbered table: key of row i is base + i.
struct CatalogueTable {
    int base;
    int rows;
    const char* const* defaults;
};

const CatalogueTable& FindingTable();  // 100..110
const CatalogueTable& ErrorTable();    // 200..207
const CatalogueTable& StatusTable();   // 300..305
const CatalogueTable& RasStateTable(); // 400..424

// Each looks the row up in "KELSupplicant.ini" at every call; the file's value
// (even empty) replaces the default. An index outside the table gives row 0.
std::string GetFindingText(int index);
std::string GetErrorText(int index);
std::string GetStatusText(int index);
std::string GetRasStateText(int index);

// The rows of the finding, error and status tables by what they say; the file's
// key of a row is its table's base plus the row ("303" is StatusKey::Connecting).
enum class FindingKey {
    UnknownMessage,     // 100
    MultipleAdapters,   // 101
    MultipleAddresses,  // 102
    AddressChanged,     // 103
    SameHostExists,     // 104
    TooManyTcpSessions, // 105
    TooManyUdpPorts,    // 106
    SharingService,     // 107
    ProxyService,       // 108
    DhcpService,        // 109
    BitTorrent,         // 110
};
enum class ErrorKey {
    Unknown,        // 200
    AlreadyRunning, // 201
    LibraryBroken,  // 202
    NoAdapter,      // 203
    NotEthernet,    // 204
    EntryRefused,   // 205
    UserNameLength, // 206
    PasswordLength, // 207
};
enum class StatusKey {
    Welcome,             // 300
    Disconnecting,       // 301
    Disconnected,        // 302
    Connecting,          // 303
    Connected,           // 304
    ServerNotResponding, // 305
};
std::string FindingText(FindingKey key);
std::string ErrorText(ErrorKey key);
std::string StatusText(StatusKey key);

// Row of the dial-state table for a RASCONNSTATE value.
int RasStateIndex(uint32_t state);

// Named interface texts with their defaults ("Disconnect" has none).
struct NamedText {
    const char* key;
    const char* defaultText; // nullptr: no default
    // The text the shipped texts file gives a key without a default, so the shipped
    // dialer shows one; nullptr for the others, where the file repeats the default.
    const char* shippedText = nullptr;
};
const NamedText* NamedTexts(int& count);
const char* NamedTextDefault(const char* key); // nullptr when unknown or without default
// The built-in text of a named text, as every window starts it: "" for a key
// without one.
std::string DefaultText(const char* key);
