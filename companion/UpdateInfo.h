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
    TUpdateInfo(const std::string& fileName, const std::string& bytes, const std::string& folderUrl);

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

private:
    std::array<std::string, kMaxUpdateFiles> hashTexts_;
};

// True for a listed name that stays inside the program folder: not empty, no ":"
// (drive letters, streams), no leading "\" or "/", no ".." component.
bool IsSafeUpdateName(const std::string& name);

// Size (low 32 bits), file-name part and, when asked, CRC-32 of a local file.
bool GetFileInfo(const std::string& path, UpdateFileEntry& entry, bool withChecksum);

// Hexadecimal text to a value; characters that are no hex digit count as 0.
uint32_t HexToInt(const std::string& text);
