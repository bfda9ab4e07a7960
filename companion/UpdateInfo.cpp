#include "UpdateInfo.h"

#include "CRC32.h"
#include "FileStore.h"
#include "MyUtils.h"
#include "Ports.h"

#include <cstring>

namespace {

const char kVersionSection[] = "version";
const char kFileListSection[] = "file list";
const char kHashSection[] = "file hashes";

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
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

TUpdateInfo::TUpdateInfo(const std::string& fileName, const std::string& folderUrl)
    : InfoFile(fileName) {
    std::memset(Files, 0, sizeof(Files));
    if (FileExists(fileName)) Valid = Load(FileProfile(fileName), folderUrl);
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
        if (value.empty()) return false;
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
    for (const std::string& line : lines) {
        if (line == "End=OK") {
            closed = true;
            break;
        }
        const int eq = FindFrom("=", line, 1);
        if (eq == 0 || eq - 1 > kMaxUpdateName) continue;
        const std::string name = line.substr(0, eq - 1);
        // The name becomes a local path: refuse any that could leave the program folder.
        if (!IsSafeUpdateName(name)) continue;
        const int comma = FindFrom(",", line, eq + 1);
        if (comma == 0) continue;
        const int32_t size = StrToInt(TrimBlanks(line.substr(eq, comma - eq - 1)));
        if (line.size() != static_cast<size_t>(comma) + 8) continue;
        // A name listed twice would make the second row replace the first row's
        // previous copy, which could then not be restored.
        bool duplicate = false;
        for (int i = 0; i < FileCount && i < kMaxUpdateFiles; ++i)
            duplicate = duplicate || LowerCase(Files[i].Name) == LowerCase(name);
        if (duplicate) continue;
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
    return closed && FileCount > 0 && !overflow;
}

const UpdateFileEntry* TUpdateInfo::GetFile(int index) const {
    if (index < 0 || index >= FileCount) return nullptr;
    return &Files[index];
}

bool TUpdateInfo::GetFileHash(int index, Sha256Digest& digest) const {
    if (index < 0 || index >= FileCount) return false;
    const std::string& text = hashTexts_[index];
    if (text.size() != digest.size() * 2) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool IsSafeUpdateName(const std::string& name) {
    if (name.empty() || name.find(':') != std::string::npos) return false;
    if (name[0] == '\\' || name[0] == '/') return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        // The system drops trailing dots and blanks of a component, so "..." and
        // ".. " climb out as ".." does.
        const std::string part = name.substr(start, end - start);
        if (part.find("..") != std::string::npos &&
            part.find_first_not_of(". ") == std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

bool GetFileInfo(const std::string& path, UpdateFileEntry& entry, bool withChecksum) {
    if (!FileExists(path)) return false;
    auto reader = Ports().files->OpenRead(path);
    if (!reader) return false;
    uint32_t size = 0;
    if (!reader->Size(size)) return false;
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t length = name.size() < size_t(kMaxUpdateName) ? name.size() : kMaxUpdateName;
    std::memcpy(entry.Name, name.data(), length);
    entry.Name[length] = '\0';
    entry.Size = static_cast<int32_t>(size);
    reader.reset();
    if (withChecksum) entry.Crc = FileCrc32(path);
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
