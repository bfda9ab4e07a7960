// Downloading, checking and installing the files of one update folder, and the
// file operations it needs.
#pragma once

#include "HttpSyncGet.h"
#include "UpdateInfo.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What one update folder may cost. Tests shrink them first.
struct UpdateLimits {
    uint32_t descriptionBytes = 32 * 1024; // 30 rows with their hashes take about 7 KiB
    uint32_t signatureBytes = 2048;        // the signature of a 16384-bit key
    uint32_t folderBytes = 32u << 20;      // all listed files together
    uint32_t folderMs = 10 * 60 * 1000;    // the whole folder: description to last file
    // Each transfer ends after transferBaseMs plus the time its size takes at
    // minBytesPerSecond, and within the folder's time.
    uint32_t transferBaseMs = 10000;
    uint32_t minBytesPerSecond = 8 * 1024;
    uint32_t ioTimeoutMs = 10000; // connect, send and receive time-outs of each request
    int maxRedirects = 5;
};
UpdateLimits& UpdateSettings();

class TFileDownLoad {
  public:
    using Clock = std::chrono::steady_clock;

    explicit TFileDownLoad(const std::string& baseDir);
    ~TFileDownLoad();
    TFileDownLoad(const TFileDownLoad&) = delete;
    TFileDownLoad& operator=(const TFileDownLoad&) = delete;

    // Every transfer of this object ends by `deadline` (the folder's time).
    void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }

    // BaseDir + "temp\" once it exists or could be made; empty otherwise.
    std::string GetTempDir();
    // At most `maxBytes` are fetched into `localFile`; a larger body is refused
    // before anything is written. On failure `localFile` may hold part of the body.
    bool DownloadFile(const std::string& localFile, const std::string& url, uint32_t maxBytes);
    // Fetches every row into TempDir, each stopped at its listed size. When a row
    // fails, or the checks fail, every row fetched so far is removed again (other
    // files in TempDir stay).
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
    std::unique_ptr<THTTPSyncGet> Http;
    std::string TempDir;

  private:
    // Sets the bounds of one transfer of `bytes` at most; false when no time is left.
    bool Limit(uint32_t bytes);
    // Deletes the first `rows` listed files from TempDir, then TempDir itself if it
    // is empty.
    void CleanTempDir(const TUpdateInfo& info, int rows);

    Clock::time_point deadline_ = Clock::time_point::max();

    bool requireHashes_ = false;
    std::vector<std::vector<uint8_t>> verified_; // per row, the checked bytes
};

bool ClearReadOnly(const std::string& path);
bool ForceDeleteFile(const std::string& path);
bool RemoveTree(const std::string& folder);

// Whole file into `bytes`; false when it cannot be read or is larger than `limit`.
bool ReadWholeFile(const std::string& path, uint32_t limit, std::vector<uint8_t>& bytes);
