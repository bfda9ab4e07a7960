// The remote-access service's published records, laid out byte for byte as the
// 32-bit service reads and writes them. The portable code fills and reads them as
// plain bytes, so the same layout is checked natively and handed to the real API
// unchanged (the Win32 side static_asserts each offset against the system headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// HRASCONN as the service hands it out: pointer-sized in the 64-bit test build of
// the Windows tree, 32 bits in the shipped build and everywhere else.
#if defined(_WIN64)
using RasHandle = uint64_t;
#else
using RasHandle = uint32_t;
#endif

constexpr uint32_t kRasErrorBufferTooSmall = 603;
constexpr uint32_t kRasErrorNoAnswer = 678;

constexpr uint32_t kRasConnected = 0x2000;
constexpr uint32_t kRasDisconnected = 0x2001;

// The service's headers lay every record out on 4-byte packing, also in 64 bits.
#pragma pack(push, 4)
struct RasDevInfoRecord { // RASDEVINFOA
    uint32_t dwSize;
    char szDeviceType[17];
    char szDeviceName[129];
};

struct RasEntryRecord { // RASENTRYA in the layout of Windows 2000
    uint32_t dwSize;
    uint32_t dwfOptions;
    uint32_t dwCountryID;
    uint32_t dwCountryCode;
    char szAreaCode[11];
    char szLocalPhoneNumber[129];
    uint32_t dwAlternateOffset;
    uint32_t ipaddr;
    uint32_t ipaddrDns;
    uint32_t ipaddrDnsAlt;
    uint32_t ipaddrWins;
    uint32_t ipaddrWinsAlt;
    uint32_t dwFrameSize;
    uint32_t dwfNetProtocols;
    uint32_t dwFramingProtocol;
    char szScript[260];
    char szAutodialDll[260];
    char szAutodialFunc[260];
    char szDeviceType[17];
    char szDeviceName[129];
    char szX25PadType[33];
    char szX25Address[201];
    char szX25Facilities[201];
    char szX25UserData[201];
    uint32_t dwChannels;
    uint32_t dwReserved1;
    uint32_t dwReserved2;
    uint32_t dwSubEntries;
    uint32_t dwDialMode;
    uint32_t dwDialExtraPercent;
    uint32_t dwDialExtraSampleSeconds;
    uint32_t dwHangUpExtraPercent;
    uint32_t dwHangUpExtraSampleSeconds;
    uint32_t dwIdleDisconnectSeconds;
    uint32_t dwType;
    uint32_t dwEncryptionType;
    uint32_t dwCustomAuthKey;
    uint8_t guidId[16];
    char szCustomDialDll[260];
    uint32_t dwVpnStrategy;
};

struct RasDialParamsRecord { // RASDIALPARAMSA with dwSubEntry and dwCallbackId
    uint32_t dwSize;
    char szEntryName[257];
    char szPhoneNumber[129];
    char szCallbackNumber[129];
    char szUserName[257];
    char szPassword[257];
    char szDomain[16];
    uint32_t dwSubEntry;
    uint32_t dwCallbackId;
};

struct RasConnRecord { // RASCONNA with guidEntry
    uint32_t dwSize;
    RasHandle hrasconn;
    char szEntryName[257];
    char szDeviceType[17];
    char szDeviceName[129];
    char szPhonebook[260];
    uint32_t dwSubEntry;
    uint8_t guidEntry[16];
};
#pragma pack(pop)

static_assert(sizeof(RasDevInfoRecord) == 152, "RASDEVINFOA");
static_assert(sizeof(RasEntryRecord) == 2088, "RASENTRYA (Windows 2000 layout)");
static_assert(offsetof(RasEntryRecord, dwfNetProtocols) == 184, "RASENTRYA");
static_assert(offsetof(RasEntryRecord, szDeviceType) == 972, "RASENTRYA");
static_assert(offsetof(RasEntryRecord, szDeviceName) == 989, "RASENTRYA");
static_assert(offsetof(RasEntryRecord, dwChannels) == 1756, "RASENTRYA");
static_assert(offsetof(RasEntryRecord, dwType) == 1796, "RASENTRYA");
static_assert(sizeof(RasDialParamsRecord) == 1060, "RASDIALPARAMSA");
static_assert(offsetof(RasDialParamsRecord, szUserName) == 519, "RASDIALPARAMSA");
static_assert(offsetof(RasDialParamsRecord, szPassword) == 776, "RASDIALPARAMSA");
static_assert(offsetof(RasDialParamsRecord, dwSubEntry) == 1052, "RASDIALPARAMSA");
#if defined(_WIN64)
static_assert(sizeof(RasConnRecord) == 696, "RASCONNA, 64-bit");
#else
static_assert(sizeof(RasConnRecord) == 692, "RASCONNA");
static_assert(offsetof(RasConnRecord, dwSubEntry) == 672, "RASCONNA");
#endif

// Copies a zero-terminated text into a fixed field, cutting it so the terminator
// always fits. Answers whether the whole text fitted.
template <size_t N> bool CopyField(char (&field)[N], const char* text) {
    const size_t length = std::strlen(text);
    const size_t kept = length < N ? length : N - 1;
    std::memcpy(field, text, kept);
    field[kept] = '\0';
    return kept == length;
}
