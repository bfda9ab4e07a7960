// The library's self-update client. At most one is current; a forgotten client
// runs on to its end.
#pragma once

#include "ThreadBase.h"
#include "UpdateInfo.h"

#include <cstdint>
#include <string>
#include <vector>

// RCDATA resource of Ostrel.dll holding the operator's public key (PEM). A library
// built without it installs unsigned updates.
constexpr int kUpdateKeyResource = 133;

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
    bool FetchSignedDescription(const std::string& folderUrl, const std::string& localFile,
                                std::string& bytes);

    TVerInfo version_;
    std::vector<uint8_t> publicKey_;  // empty: a key-less library
};

// Starts an update client for the URL list of an UpdateUrl item (its text and
// its length byte) unless one is current. True when one was started.
bool StartUpdateClientIfNone(const std::string& urlList, int urlLength);

// Link down: forget the current client so that a later item can start a new one.
void ForgetUpdateClient();

// Joins and frees every client started so far (current or forgotten). For the
// library's end and for tests; a client showing its message box holds this up
// until the box is closed.
void WaitForUpdateClients();

// The texts of the update message box, in the system's code page 936 (GBK).
extern const char kUpdatedCaption[];
extern const char kUpdatedText[];
