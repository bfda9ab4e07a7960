// The update description "updateFileInfo.ini" of an update folder, the library's
// own version for the comparison, and the size/CRC-32 check of local files.
#pragma once

#include "UpdateCrypto.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kMaxUpdateFiles = 30;
constexpr int kMaxUpdateName = 63;

// The local files of the update itself, in the program folder. No listed name may
// be one of them.
extern const char kUpdateTempDir[];        // "temp"
extern const char kUpdateInfoName[];       // "updateFileInfo.ini", on the server
extern const char kUpdateSignatureName[];  // "updateFileInfo.sig", on the server
extern const char kLocalInfoName[];        // "updateFileInfoTmp.ini"
extern const char kLocalSignatureName[];   // "updateFileInfoTmp.sig"
extern const char kInstalledReleaseName[]; // "updateRelease.dat"
extern const char kInstalledReleaseTemp[]; // "updateRelease.tmp"

struct UpdateFileEntry {
    int32_t Size;
    uint32_t Crc;
    char Name[kMaxUpdateName + 1];
};
static_assert(sizeof(UpdateFileEntry) == 72, "Size, Crc, 64-byte Name");

struct TVerInfo {
    uint16_t MajorVer = 0;
    uint16_t MinorVer = 0;
    uint16_t BuildNum = 0;
    std::string InfoUrl;
};

// Where a description is read from: the profile-file reader on the downloaded
// file, or the bytes that were checked against the operator's signature.
class ProfileSource {
  public:
    virtual ~ProfileSource() = default;
    virtual std::string String(const std::string& section, const std::string& key) const = 0;
    virtual std::vector<std::string> Section(const std::string& section) const = 0;
};

class TUpdateInfo {
  public:
    // Reads `fileName` through the profile-file reader if it exists.
    TUpdateInfo(const std::string& fileName, const std::string& folderUrl);
    // Reads a description held in memory (the exact bytes whose signature was checked).
    TUpdateInfo(const std::string& fileName, const std::string& bytes,
                const std::string& folderUrl);

    // Raises EConvertError when a version value or a file size is not a number.
    bool Load(const ProfileSource& source, const std::string& folderUrl);
    // Null when `index` is negative or not below FileCount.
    const UpdateFileEntry* GetFile(int index) const;
    // The SHA-256 that the section "file hashes" lists for row `index`; false when
    // the line is missing or is not 64 hexadecimal digits.
    bool GetFileHash(int index, Sha256Digest& digest) const;

    std::string InfoFile;
    uint16_t MajorVer = 0;
    uint16_t MinorVer = 0;
    uint16_t BuildNum = 0;
    std::string BaseUrl;
    int32_t FileCount = 0;
    bool Valid = false;
    UpdateFileEntry Files[kMaxUpdateFiles];
    // The operator's release sequence from section "release" (signed folders);
    // HasReleaseSequence is false when it is missing or not a number from 1 to
    // 4294967295.
    bool HasReleaseSequence = false;
    uint32_t ReleaseSequence = 0;
    // A listed name broke the name rule (IsSafeUpdateName) or was listed twice:
    // the whole description is refused.
    bool RefusedName = false;

  private:
    std::array<std::string, kMaxUpdateFiles> hashTexts_;
};

// The one rule for listed names. True for a plain file name of the program folder
// that the system stores exactly as written: 1 to 63 characters; no path separator
// ("\" or "/": no absolute, UNC or sub-folder path, no ".."), no ":" (drive
// letters, streams), none of < > " | ? *, no control character (NUL and TAB
// included); not ending in a dot or a space (the system drops them, so "a.dll."
// is a.dll); no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$,
// with or without an extension); none of the update's own files (see above).
// Letter case does not matter, as on Windows.
bool IsSafeUpdateName(const std::string& name);

// A decimal release sequence from 1 to 4294967295, digits only.
bool ParseReleaseSequence(const std::string& text, uint32_t& sequence);

// Size (low 32 bits), file-name part and, when asked, CRC-32 of a local file.
bool GetFileInfo(const std::string& path, UpdateFileEntry& entry, bool withChecksum);

// Hexadecimal text to a value; characters that are no hex digit count as 0.
uint32_t HexToInt(const std::string& text);
