#include "DownloadFiles.h"

#include "CRC32.h"
#include "FileStore.h"
#include "MyUtils.h"
#include "Ports.h"
#include "UpdateCrypto.h"

#include <algorithm>

namespace {

FileStore& Files() {
    return *Ports().files;
}

bool Exists(const std::string& path, uint32_t* attributes = nullptr) {
    uint32_t value = 0;
    const bool found = Files().GetAttributes(path, value);
    if (attributes)
        *attributes = value;
    return found;
}

std::string WithScheme(const std::string& url) {
    return LowerCase(url).find("http://") != std::string::npos ? url : "http://" + url;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    auto file = Files().Create(path);
    if (!file)
        return false;
    const bool written = bytes.empty() || file->Write(bytes.data(), uint32_t(bytes.size()));
    return file->Close() && written;
}

} // namespace

UpdateLimits& UpdateSettings() {
    static UpdateLimits limits;
    return limits;
}

bool ReadWholeFile(const std::string& path, uint32_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    auto reader = Files().OpenRead(path);
    if (!reader)
        return false;
    uint32_t size = 0;
    if (!reader->Size(size) || size > limit)
        return false;
    bytes.resize(size);
    uint32_t total = 0, got = 0;
    while (total < size && reader->Read(bytes.data() + total, size - total, got) && got > 0)
        total += got;
    // A file that grew or shrank while it was read is not trusted.
    uint8_t extra = 0;
    return total == size && reader->Read(&extra, 1, got) && got == 0;
}

bool ClearReadOnly(const std::string& path) {
    uint32_t attributes = 0;
    if (!Files().GetAttributes(path, attributes))
        return false;
    if (attributes & kFileAttrReadOnly)
        return Files().SetAttributes(path, kFileAttrNormal);
    return true;
}

bool ForceDeleteFile(const std::string& path) {
    uint32_t attributes = 0;
    if (!Files().GetAttributes(path, attributes))
        return false;
    if ((attributes & kFileAttrReadOnly) && !Files().SetAttributes(path, kFileAttrNormal))
        return false;
    return Files().RemoveFile(path);
}

bool RemoveTree(const std::string& folder) {
    std::string dir = folder;
    if (dir.empty() || dir.back() != '\\')
        dir += '\\';
    std::vector<FolderEntry> entries;
    Files().ListFolder(dir, entries);
    for (const FolderEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..")
            continue;
        if (entry.isFolder)
            RemoveTree(dir + entry.name);
        else
            ForceDeleteFile(dir + entry.name);
    }
    return Files().RemoveFolder(dir);
}

TFileDownLoad::TFileDownLoad(const std::string& baseDir)
    : BaseDir(baseDir), Http(std::make_unique<THTTPSyncGet>(nullptr)) {}

TFileDownLoad::~TFileDownLoad() = default;

std::string TFileDownLoad::GetTempDir() {
    const std::string dir = BaseDir + "temp\\";
    uint32_t attributes = 0;
    if (Exists(dir, &attributes) && (attributes & kFileAttrDirectory))
        return dir;
    return Files().CreateFolder(dir) ? dir : std::string();
}

bool TFileDownLoad::Limit(uint32_t bytes) {
    const UpdateLimits& limits = UpdateSettings();
    const Clock::time_point now = Clock::now();
    if (now >= deadline_)
        return false;
    const uint64_t rate = limits.minBytesPerSecond ? limits.minBytesPerSecond : 1;
    uint64_t ms = limits.transferBaseMs + uint64_t(bytes) * 1000 / rate;
    if (deadline_ != Clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now);
        ms = std::min<uint64_t>(ms, uint64_t(left.count()) + 1);
    }
    Http->TimeLimitMs = uint32_t(std::min<uint64_t>(ms, UINT32_MAX));
    Http->IoTimeoutMs = limits.ioTimeoutMs;
    Http->MaxRedirects = limits.maxRedirects;
    Http->MaxBytes = bytes;
    return true;
}

bool TFileDownLoad::DownloadFile(const std::string& localFile, const std::string& url,
                                 uint32_t maxBytes) {
    if (!Limit(maxBytes))
        return false;
    Http->BinaryData = false;
    Http->UseCache = false;
    Http->UserName.clear();
    Http->Password.clear();
    Http->PostQuery.clear();
    Http->FileName = localFile;
    Http->URL = WithScheme(url);
    return Http->SaveUrlToFile();
}

bool TFileDownLoad::DownloadAll(const TUpdateInfo& info) {
    if (!Http)
        return false;
    // The listed sizes bound the disk and memory an update takes; refuse a folder
    // that lists more than a library update can need before anything is fetched.
    uint64_t total = 0;
    for (int i = 0; i < info.FileCount; ++i) {
        if (info.Files[i].Size < 0)
            return false;
        total += uint64_t(info.Files[i].Size);
    }
    if (total > UpdateSettings().folderBytes)
        return false;
    TempDir = GetTempDir();
    if (TempDir.empty())
        return false;
    Http->BinaryData = false;
    Http->UseCache = false;
    Http->UserName.clear();
    Http->Password.clear();
    Http->PostQuery.clear();
    const std::string source = WithScheme(info.BaseUrl);
    for (int i = 0; i < info.FileCount; ++i) {
        const UpdateFileEntry& row = info.Files[i];
        Http->FileName = TempDir + row.Name;
        Http->URL = source + row.Name;
        // The download stops at the listed size: a longer body is refused unread.
        if (!Limit(uint32_t(row.Size)) || !Http->SaveUrlToFile()) {
            CleanTempDir(info, i + 1);
            return false;
        }
    }
    const bool verified = VerifyAll(info);
    if (!verified)
        CleanTempDir(info, info.FileCount);
    return verified;
}

bool TFileDownLoad::VerifyAll(const TUpdateInfo& info) {
    verified_.assign(static_cast<size_t>(info.FileCount), {});
    for (int i = 0; i < info.FileCount; ++i) {
        const UpdateFileEntry& row = info.Files[i];
        const std::string path = TempDir + row.Name;
        UpdateFileEntry found{};
        if (!GetFileInfo(path, found, false) || found.Size != row.Size)
            return false;
        // One read serves every check and the install, so the bytes installed are
        // the bytes checked even if the file changes on disk in between.
        std::vector<uint8_t>& bytes = verified_[static_cast<size_t>(i)];
        if (row.Size < 0 || !ReadWholeFile(path, uint32_t(row.Size), bytes))
            return false;
        if (bytes.size() != static_cast<size_t>(row.Size))
            return false;
        if (Crc32End(Crc32Update(Crc32Begin(), bytes.data(), bytes.size())) != row.Crc)
            return false;
        if (requireHashes_) {
            Sha256Digest listed{}, actual{};
            if (!info.GetFileHash(i, listed) || !Ports().crypto ||
                !Ports().crypto->Sha256(bytes.data(), bytes.size(), actual) || listed != actual)
                return false;
        }
    }
    return true;
}

bool TFileDownLoad::InstallAll(const TUpdateInfo& info) {
    // Only bytes that VerifyAll checked are ever installed.
    if (verified_.size() != static_cast<size_t>(info.FileCount))
        return false;
    struct Done {
        std::string target;
        bool hadPrevious;
    };
    std::vector<Done> done;
    bool ok = true;
    for (int i = 0; i < info.FileCount && ok; ++i) {
        const std::string target = BaseDir + info.Files[i].Name;
        if (Exists(target)) {
            const std::string old = target + "old";
            ok = (!Exists(old) || ForceDeleteFile(old)) && ClearReadOnly(target) &&
                 Files().RenameFile(target, old);
            if (!ok)
                break;
            done.push_back({target, true});
        } else {
            done.push_back({target, false});
        }
        ok = WriteWholeFile(target, verified_[static_cast<size_t>(i)]);
    }
    if (!ok) {
        // Undo newest first: the new copy goes, the previous one gets its name back.
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            if (Exists(it->target))
                ForceDeleteFile(it->target);
            if (it->hadPrevious)
                Files().RenameFile(it->target + "old", it->target);
        }
        return false;
    }
    CleanTempDir(info, info.FileCount);
    return true;
}

void TFileDownLoad::CleanTempDir(const TUpdateInfo& info, int rows) {
    if (TempDir.empty())
        return;
    for (int i = 0; i < rows && i < info.FileCount; ++i) {
        const std::string path = TempDir + info.Files[i].Name;
        if (Exists(path))
            ForceDeleteFile(path);
    }
    // RemoveFolder removes only an empty folder: anything else in it stays.
    Files().RemoveFolder(TempDir);
}
