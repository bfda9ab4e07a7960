// Downloading, checking and installing the files of one update folder, and the
// file operations it needs.
#pragma once

#include "HttpSyncGet.h"
#include "UpdateInfo.h"

#include <cstdint>
#include <string>
#include <vector>

class TFileDownLoad {
public:
    explicit TFileDownLoad(const std::string& baseDir);
    ~TFileDownLoad();
    TFileDownLoad(const TFileDownLoad&) = delete;
    TFileDownLoad& operator=(const TFileDownLoad&) = delete;

    // BaseDir + "temp\" once it exists or could be made; empty otherwise.
    std::string GetTempDir();
    bool DownloadFile(const std::string& localFile, const std::string& url);
    bool DownloadAll(const TUpdateInfo& info);
    // Checks size and CRC-32 of every downloaded file and, when the library holds
    // the operator's key, its SHA-256 against the description's "file hashes". The
    // bytes checked are kept and are exactly what InstallAll writes.
    bool VerifyAll(const TUpdateInfo& info);
    // All or nothing: when a row fails, the rows installed by this run are undone
    // in reverse order and the result is false.
    bool InstallAll(const TUpdateInfo& info);

    // Signed updates: every file must carry a matching SHA-256 line.
    void RequireFileHashes(bool required) { requireHashes_ = required; }

    std::string BaseDir;
    THTTPSyncGet* Http;
    std::string TempDir;

private:
    // Deletes the listed files from TempDir, then TempDir itself if it is empty.
    void CleanTempDir(const TUpdateInfo& info);

    bool requireHashes_ = false;
    std::vector<std::vector<uint8_t>> verified_;  // per row, the checked bytes
};

bool ClearReadOnly(const std::string& path);
bool ForceDeleteFile(const std::string& path);
bool RemoveTree(const std::string& folder);

// Whole file into `bytes`; false when it cannot be read or is larger than `limit`.
bool ReadWholeFile(const std::string& path, uint32_t limit, std::vector<uint8_t>& bytes);
