#include "UpdateInfo.h"

#include "CRC32.h"
#include "FileStore.h"
#include "MyUtils.h"
#include "Ports.h"

#include <cstring>

const char kUpdateTempDir[] = "temp";
const char kUpdateInfoName[] = "updateFileInfo.ini";
const char kUpdateSignatureName[] = "updateFileInfo.sig";
const char kLocalInfoName[] = "updateFileInfoTmp.ini";
const char kLocalSignatureName[] = "updateFileInfoTmp.sig";
const char kInstalledReleaseName[] = "updateRelease.dat";
const char kInstalledReleaseTemp[] = "updateRelease.tmp";

namespace {

const char kVersionSection[] = "version";
const char kFileListSection[] = "file list";
const char kHashSection[] = "file hashes";
const char kReleaseSection[] = "release";
const char kReleaseKey[] = "sequence";

class FileProfile : public ProfileSource {
  public:
    explicit FileProfile(const std::string& path) : path_(path) {}
    std::string String(const std::string& section, const std::string& key) const override {
        return Ports().files->ProfileString(path_, section, key);
    }
    std::vector<std::string> Section(const std::string& section) const override {
        return Ports().files->ProfileSection(path_, section);
    }

  private:
    std::string path_;
};

class MemoryProfile : public ProfileSource {
  public:
    explicit MemoryProfile(const std::string& bytes) : text_(bytes) {}
    std::string String(const std::string& section, const std::string& key) const override {
        return text_.String(section, key);
    }
    std::vector<std::string> Section(const std::string& section) const override {
        return text_.Section(section);
    }

  private:
    ProfileText text_;
};

bool FileExists(const std::string& path) {
    uint32_t attributes = 0;
    return Ports().files->GetAttributes(path, attributes) && !(attributes & kFileAttrDirectory);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

TUpdateInfo::TUpdateInfo(const std::string& fileName, const std::string& folderUrl)
    : InfoFile(fileName) {
    std::memset(Files, 0, sizeof(Files));
    if (FileExists(fileName))
        Valid = Load(FileProfile(fileName), folderUrl);
}

TUpdateInfo::TUpdateInfo(const std::string& fileName, const std::string& bytes,
                         const std::string& folderUrl)
    : InfoFile(fileName) {
    std::memset(Files, 0, sizeof(Files));
    Valid = Load(MemoryProfile(bytes), folderUrl);
}

bool TUpdateInfo::Load(const ProfileSource& source, const std::string& folderUrl) {
    uint16_t* const targets[] = {&MajorVer, &MinorVer, &BuildNum};
    const char* const keys[] = {"major Ver", "minor Ver", "build num"};
    for (int i = 0; i < 3; ++i) {
        const std::string value = source.String(kVersionSection, keys[i]);
        if (value.empty())
            return false;
        *targets[i] = static_cast<uint16_t>(StrToInt(value));
    }
    BaseUrl = folderUrl;

    const std::vector<std::string> lines = source.Section(kFileListSection);
    std::memset(Files, 0, sizeof(Files));
    FileCount = 0;
    bool closed = false;
    // A list longer than the table is refused whole: installing only its first
    // rows would leave a mix of two versions behind.
    bool overflow = false;
    RefusedName = false;
    for (const std::string& line : lines) {
        if (line == "End=OK") {
            closed = true;
            break;
        }
        const int eq = FindFrom("=", line, 1);
        if (eq == 0 || eq - 1 > kMaxUpdateName)
            continue;
        const std::string name = line.substr(0, eq - 1);
        // The name becomes a local path and part of a URL. One that could leave the
        // program folder, that the system would store under another name, or that
        // the update itself uses refuses the whole folder: installing the rest
        // would leave a mix of two versions.
        if (!IsSafeUpdateName(name)) {
            RefusedName = true;
            break;
        }
        const int comma = FindFrom(",", line, eq + 1);
        if (comma == 0)
            continue;
        const int32_t size = StrToInt(TrimBlanks(line.substr(eq, comma - eq - 1)));
        if (line.size() != static_cast<size_t>(comma) + 8)
            continue;
        // A name listed twice would make the second row replace the first row's
        // previous copy, which could then not be restored.
        bool duplicate = false;
        for (int i = 0; i < FileCount && i < kMaxUpdateFiles; ++i)
            duplicate = duplicate || LowerCase(Files[i].Name) == LowerCase(name);
        if (duplicate) {
            RefusedName = true;
            break;
        }
        if (FileCount >= kMaxUpdateFiles) {
            overflow = true;
            continue;
        }
        UpdateFileEntry& row = Files[FileCount];
        std::memcpy(row.Name, name.data(), name.size());
        row.Name[name.size()] = '\0';
        row.Size = size;
        row.Crc = HexToInt(line.substr(comma, 8));
        hashTexts_[FileCount] = source.String(kHashSection, name);
        ++FileCount;
    }
    HasReleaseSequence =
        ParseReleaseSequence(source.String(kReleaseSection, kReleaseKey), ReleaseSequence);
    return closed && FileCount > 0 && !overflow && !RefusedName;
}

const UpdateFileEntry* TUpdateInfo::GetFile(int index) const {
    if (index < 0 || index >= FileCount)
        return nullptr;
    return &Files[index];
}

bool TUpdateInfo::GetFileHash(int index, Sha256Digest& digest) const {
    if (index < 0 || index >= FileCount)
        return false;
    const std::string& text = hashTexts_[index];
    if (text.size() != digest.size() * 2)
        return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool IsSafeUpdateName(const std::string& name) {
    if (name.empty() || name.size() > size_t(kMaxUpdateName))
        return false;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr)
            return false;
    }
    // The system drops trailing dots and blanks: "a.dll." and "a.dll " are a.dll,
    // and "." and ".." are no file names at all.
    if (name.back() == '.' || name.back() == ' ')
        return false;

    // Device names stay devices with any extension and with blanks before it.
    std::string base = LowerCase(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (base == device)
            return false;
    if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
        base[3] >= '0' && base[3] <= '9')
        return false;

    const std::string lower = LowerCase(name);
    for (const char* own : {kUpdateTempDir, kUpdateInfoName, kUpdateSignatureName, kLocalInfoName,
                            kLocalSignatureName, kInstalledReleaseName, kInstalledReleaseTemp})
        if (lower == LowerCase(own))
            return false;
    return true;
}

bool ParseReleaseSequence(const std::string& text, uint32_t& sequence) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value == 0 || value > UINT32_MAX)
        return false;
    sequence = static_cast<uint32_t>(value);
    return true;
}

bool GetFileInfo(const std::string& path, UpdateFileEntry& entry, bool withChecksum) {
    if (!FileExists(path))
        return false;
    auto reader = Ports().files->OpenRead(path);
    if (!reader)
        return false;
    uint32_t size = 0;
    if (!reader->Size(size))
        return false;
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t length = name.size() < size_t(kMaxUpdateName) ? name.size() : kMaxUpdateName;
    std::memcpy(entry.Name, name.data(), length);
    entry.Name[length] = '\0';
    entry.Size = static_cast<int32_t>(size);
    reader.reset();
    if (withChecksum)
        entry.Crc = FileCrc32(path);
    return true;
}

uint32_t HexToInt(const std::string& text) {
    uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        value = (value << 4) + static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    return value;
}
