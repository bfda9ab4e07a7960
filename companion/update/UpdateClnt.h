// The library's self-update client. At most one is current; a forgotten client
// runs on to its end.
#pragma once

#include "DownloadFiles.h"
#include "ResourceIds.h"
#include "ThreadBase.h"
#include "UpdateInfo.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// RCDATA resource of Ostrel.dll holding the operator's public key (PEM). A library
// built without it installs unsigned updates.
constexpr int kUpdateKeyResource = IDR_UPDATE_KEY;
// RCDATA resource of a library built with a key: the operator's release sequence
// it was built at (32 bits, little-endian). It installs only signed folders of a
// higher sequence than this and than any it has installed.
constexpr int kReleaseSequenceResource = IDR_RELEASE_SEQUENCE;

// The highest release sequence installed in the program folder (from
// "updateRelease.dat"), 0 when none is recorded or the record is unreadable.
uint32_t ReadInstalledRelease();
// Records `sequence` as installed; the old record stays until the new one is whole.
bool WriteInstalledRelease(uint32_t sequence);

class UpdateClntThread : public TThread {
  public:
    UpdateClntThread(int urlLength, const std::string& urlList);

    bool ReadOwnVersion(TVerInfo& version, const std::string& infoUrl);
    bool UpdateFrom(TVerInfo& version, const std::string& folderUrl);
    void ShowUpdatedMessage();

    int32_t UrlLength;
    std::string UrlList;

  protected:
    void Execute() override;

  private:
    // The description's bytes when they carry a good signature by the operator.
    bool FetchSignedDescription(TFileDownLoad& loader, const std::string& folderUrl,
                                const std::string& localFile, std::string& bytes);

    TVerInfo version_;
    std::vector<uint8_t> publicKey_; // empty: a key-less library
    uint32_t buildRelease_ = 0;      // the release sequence it was built at
};

// The library's update clients: the current one, which a later UpdateUrl item
// finds running, and the forgotten ones still running to their end. The Library
// owns them.
class UpdateClients {
  public:
    UpdateClients() = default;
    // WaitForAll.
    ~UpdateClients();
    UpdateClients(const UpdateClients&) = delete;
    UpdateClients& operator=(const UpdateClients&) = delete;

    // Starts an update client for the URL list of an UpdateUrl item (its text and
    // its length byte) unless one is current. True when one was started.
    bool StartIfNone(const std::string& urlList, int urlLength);

    // Link down: forget the current client so that a later item can start a new
    // one.
    void Forget();

    // Joins and frees every client started so far (current or forgotten). For the
    // library's end and for tests; a client showing its message box holds this up
    // until the box is closed.
    void WaitForAll();

  private:
    std::mutex lock_;
    UpdateClntThread* current_ = nullptr; // one of clients_, or null
    std::vector<std::unique_ptr<UpdateClntThread>> clients_;
};

// The texts of the update message box, in the system's code page 936 (GBK).
extern const char kUpdatedCaption[];
extern const char kUpdatedText[];
