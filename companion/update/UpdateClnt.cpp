#include "UpdateClnt.h"

#include "DownloadFiles.h"
#include "FileStore.h"
#include "ModuleResources.h"
#include "MyUtils.h"
#include "Ports.h"
#include "UpdateCrypto.h"
#include "UserNotice.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

// "认证客户端" and "认证客户端已完成自动更新,请退出以运行新版本" in code page 936, as
// MessageBoxA expects them.
const char kUpdatedCaption[] = "\xc8\xcf\xd6\xa4\xbf\xcd\xbb\xa7\xb6\xcb";
const char kUpdatedText[] =
    "\xc8\xcf\xd6\xa4\xbf\xcd\xbb\xa7\xb6\xcb\xd2\xd1\xcd\xea\xb3\xc9\xd7\xd4\xb6\xaf\xb8\xfc"
    "\xd0\xc2,\xc7\xeb\xcd\xcb\xb3\xf6\xd2\xd4\xd4\xcb\xd0\xd0\xd0\xc2\xb0\xe6\xb1\xbe";

namespace {

const char kLibraryFile[] = "Ostrel.dll";
const std::string kLocalInfo = std::string(".\\") + kLocalInfoName;
const std::string kLocalSignature = std::string(".\\") + kLocalSignatureName;

bool Exists(const std::string& path) {
    uint32_t attributes = 0;
    return Ports().files->GetAttributes(path, attributes);
}

void RemoveIfThere(const std::string& path) {
    if (Exists(path))
        ForceDeleteFile(path);
}

// Held from the download of a description to the end of its install, so that two
// clients (a forgotten one still running beside a new one) never share the local
// description, "temp\" or the installed files.
std::mutex g_updateLock;

} // namespace

UpdateClntThread::UpdateClntThread(int urlLength, const std::string& urlList)
    : UrlLength(urlLength), UrlList(urlList) {}

void UpdateClntThread::Execute() {
    // A description value that is not a number raises EConvertError: the run ends
    // here (the local description stays, later folders are not tried) and the host
    // process keeps running.
    try {
        if (UrlLength < 0)
            UrlLength = 0;
        // The text may have ended early at a zero byte: cut only a longer one.
        if (UrlList.size() > static_cast<size_t>(UrlLength))
            UrlList.resize(static_cast<size_t>(UrlLength));
        else
            UrlLength = static_cast<int32_t>(UrlList.size());
        if (UrlList.empty() || UrlList.back() != '/') {
            UrlList += '/';
            ++UrlLength;
        }

        std::vector<std::string> folders;
        int start = 1;
        for (;;) {
            const int comma = FindFrom(",", UrlList, start);
            const size_t end = comma ? size_t(comma - 1) : UrlList.size();
            folders.push_back(UrlList.substr(size_t(start - 1), end - size_t(start - 1)));
            if (!comma)
                break;
            start = comma + 1;
        }
        for (std::string folder : folders) {
            if (folder.empty())
                continue; // ",," or a leading ",": nothing to try
            if (folder.back() != '/')
                folder += '/';
            if (ReadOwnVersion(version_, folder + kUpdateInfoName) && UpdateFrom(version_, folder))
                break;
        }
    } catch (...) {
    }
}

bool UpdateClntThread::ReadOwnVersion(TVerInfo& version, const std::string& infoUrl) {
    // The operator's key, when the library was built with one, sits beside the stamp.
    publicKey_.clear();
    Ports().resources->ReadRawData(kLibraryFile, kUpdateKeyResource, publicKey_);
    std::vector<uint8_t> release;
    buildRelease_ = 0;
    if (!publicKey_.empty() &&
        Ports().resources->ReadRawData(kLibraryFile, kReleaseSequenceResource, release) &&
        release.size() == 4)
        buildRelease_ = uint32_t(release[0]) | uint32_t(release[1]) << 8 |
                        uint32_t(release[2]) << 16 | uint32_t(release[3]) << 24;
    std::vector<uint8_t> stamp;
    if (!Ports().resources->ReadRawData(kLibraryFile, kVersionStampResource, stamp))
        return true;
    auto word = [&](int i) { return uint16_t(stamp[2 * i] | stamp[2 * i + 1] << 8); };
    if (stamp.size() == 10 && word(0) == 0xFFFF) {
        version.MajorVer = word(1);
        version.MinorVer = word(2);
        version.BuildNum = word(4);
        version.InfoUrl = infoUrl;
    }
    return true;
}

bool UpdateClntThread::FetchSignedDescription(TFileDownLoad& loader, const std::string& folderUrl,
                                              const std::string& localFile, std::string& bytes) {
    std::vector<uint8_t> signature, description;
    const UpdateLimits& limits = UpdateSettings();
    const bool fetched = loader.DownloadFile(kLocalSignature, folderUrl + kUpdateSignatureName,
                                             limits.signatureBytes);
    const bool readSignature =
        fetched && ReadWholeFile(kLocalSignature, limits.signatureBytes, signature);
    RemoveIfThere(kLocalSignature);
    if (!readSignature || signature.empty())
        return false;
    if (!ReadWholeFile(localFile, limits.descriptionBytes, description))
        return false;
    if (!Ports().crypto || !Ports().crypto->VerifySignature(publicKey_, description.data(),
                                                            description.size(), signature))
        return false;
    bytes.assign(description.begin(), description.end());
    return true;
}

bool UpdateClntThread::UpdateFrom(TVerInfo& version, const std::string& folderUrl) {
    if (version.InfoUrl.empty())
        return false;
    bool result = false;
    {
        std::lock_guard<std::mutex> hold(g_updateLock);
        const UpdateLimits& limits = UpdateSettings();
        TFileDownLoad loader("");
        // One deadline for the whole folder: its description, signature and files.
        loader.SetDeadline(TFileDownLoad::Clock::now() +
                           std::chrono::milliseconds(limits.folderMs));
        if (!loader.DownloadFile(kLocalInfo, version.InfoUrl, limits.descriptionBytes)) {
            RemoveIfThere(kLocalInfo);
            return false;
        }
        const bool keyed = !publicKey_.empty();
        std::unique_ptr<TUpdateInfo> info;
        if (!keyed) {
            info = std::make_unique<TUpdateInfo>(kLocalInfo, folderUrl);
        } else {
            // Signed updates: only the bytes that carry the operator's signature are
            // read, and every file must match its listed SHA-256.
            std::string bytes;
            if (!FetchSignedDescription(loader, folderUrl, kLocalInfo, bytes)) {
                RemoveIfThere(kLocalInfo);
                return false;
            }
            info = std::make_unique<TUpdateInfo>(kLocalInfo, bytes, folderUrl);
            loader.RequireFileHashes(true);
        }
        Ports().files->RemoveFile(kLocalInfo);
        if (!info->Valid)
            return false;
        if (info->MajorVer == version.MajorVer && info->MinorVer == version.MinorVer &&
            info->BuildNum == version.BuildNum)
            return true;
        // Freshness: a signed folder is installed only when it is newer than the
        // library's own build and than every folder installed here, so an old
        // signed folder replayed by whoever holds the server changes nothing.
        if (keyed && (!info->HasReleaseSequence ||
                      info->ReleaseSequence <= std::max(buildRelease_, ReadInstalledRelease())))
            return false;
        result = loader.DownloadAll(*info) && loader.InstallAll(*info);
        if (result && keyed)
            WriteInstalledRelease(info->ReleaseSequence);
    }
    if (result)
        ShowUpdatedMessage();
    return result;
}

uint32_t ReadInstalledRelease() {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(kInstalledReleaseName, 32, bytes))
        return 0;
    const std::string text = TrimBlanks(std::string(bytes.begin(), bytes.end()));
    const size_t end = text.find_first_of("\r\n");
    uint32_t sequence = 0;
    return ParseReleaseSequence(text.substr(0, end), sequence) ? sequence : 0;
}

bool WriteInstalledRelease(uint32_t sequence) {
    const std::string text = std::to_string(sequence) + "\r\n";
    auto file = Ports().files->Create(kInstalledReleaseTemp);
    if (!file)
        return false;
    const bool written =
        file->Write(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    if (file->Close() && written &&
        Ports().files->MoveReplacing(kInstalledReleaseTemp, kInstalledReleaseName))
        return true;
    RemoveIfThere(kInstalledReleaseTemp);
    return false;
}

void UpdateClntThread::ShowUpdatedMessage() {
    Ports().notice->ShowSystemModal(kUpdatedCaption, kUpdatedText);
}

UpdateClients::~UpdateClients() {
    WaitForAll();
}

bool UpdateClients::StartIfNone(const std::string& urlList, int urlLength) {
    std::lock_guard<std::mutex> hold(lock_);
    if (current_)
        return false;
    // Free the clients that have ended since the last start.
    for (auto it = clients_.begin(); it != clients_.end();) {
        if ((*it)->Finished())
            it = clients_.erase(it); // the destructor joins
        else
            ++it;
    }
    clients_.push_back(std::make_unique<UpdateClntThread>(urlLength, urlList));
    current_ = clients_.back().get();
    current_->Start();
    return true;
}

void UpdateClients::Forget() {
    std::lock_guard<std::mutex> hold(lock_);
    current_ = nullptr;
}

void UpdateClients::WaitForAll() {
    std::vector<std::unique_ptr<UpdateClntThread>> clients;
    {
        std::lock_guard<std::mutex> hold(lock_);
        clients.swap(clients_);
        current_ = nullptr;
    }
    for (auto& client : clients)
        client->WaitFor();
}
