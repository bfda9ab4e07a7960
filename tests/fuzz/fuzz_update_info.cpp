// The update description, its "file hashes" section and the signature file, as a
// library holding the operator's key reads them from an update server.
// Input: description bytes, then "\n#SIG#\n", signature bytes, "\n#FILE#\n", the
// bytes served for every listed file.
#include "companion/FakeFileStore.cpp"
#include "companion/FakeInternet.cpp"
#include "companion/FakeUserNotice.h"
#include "companion/OpenSslCrypto.cpp"

#include "DownloadFiles.h"
#include "HttpSyncGet.h"
#include "ModuleResources.h"
#include "MyUtils.h"
#include "Ports.h"
#include "UpdateClnt.h"
#include "UpdateInfo.h"

#include <cstdlib>
#include <cstring>

namespace {

// A fixed 3072-bit public key: the signatures the fuzzer makes never match, but
// every malformed length and encoding reaches the check.
const char kPublicKey[] = "-----BEGIN PUBLIC KEY-----\n"
                          "MIIBojANBgkqhkiG9w0BAQEFAAOCAY8AMIIBigKCAYEApqlPX8a+XJdjAY39L8m+\n"
                          "Bwjr4ZDnlOFPlZ9LOtjp+r9MvfQs4cgMVlbhW/9kPgtCHthn6uCNEWkZTGnfBSs1\n"
                          "hGrEdHT51gbrQvVft8NKJfCPguxjP0N9hwiDpSPzVF5JWYXW1+bgBveGhzLexuxZ\n"
                          "3pfSWqH+nO7rlpuszDbje8NwFyzWXNrGc7Foxw4zUzdeVyXGnB5IevBj7kIBgw5S\n"
                          "ei11GLMeAbqCfpMQXSMFQPLJqcuhc81Uz1rB/lqePrBhHuULLBGcY13fJHWCNjWD\n"
                          "30tcI3jcHExMMmKVUr1kDq0g8e9547lhNMOTGRL8YOoz9X/zA2H6Pme2QzWB8fp7\n"
                          "N9eOsOmRxP1LCNsT/Pzj6Vzw4QTiuWQt87375sO1Q2VYWVDUgFobSimfWN/D9l8H\n"
                          "whPvsG3tkYGpQnCwGkbFRTquRv2FZD03DoYfDqykYeIWAFvRXjHQ/5f4YD1FjpFl\n"
                          "nWv9mcgjiLMfUA7iOIEUi/DezcnK+biErr0zE3wtpcflAgMBAAE=\n"
                          "-----END PUBLIC KEY-----\n"
                          "-----END PUBLIC KEY-----\n";

class Resources : public ModuleResources {
  public:
    bool ReadRawData(const std::string&, int id, std::vector<uint8_t>& out) override {
        if (id == kVersionStampResource)
            out = {0xFF, 0xFF, 1, 0, 2, 0, 1, 0, 2, 0};
        else if (id == kUpdateKeyResource)
            out.assign(kPublicKey, kPublicKey + sizeof(kPublicKey) - 1);
        else
            return false;
        return true;
    }
};

// True when some line of `text` lists `name` exactly: blanks, the name, blanks, "=".
bool ListedVerbatim(const std::string& text, const std::string& name) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = TrimBlanks(text.substr(start, end - start));
        if (line.compare(0, name.size(), name) == 0) {
            const std::string rest = TrimBlanks(line.substr(name.size()));
            if (!rest.empty() && rest[0] == '=')
                return true;
        }
        start = end + 1;
    }
    return false;
}

std::string Part(const std::string& all, const std::string& from, const std::string& to) {
    size_t begin = 0;
    if (!from.empty()) {
        begin = all.find(from);
        if (begin == std::string::npos)
            return {};
        begin += from.size();
    }
    const size_t end = to.empty() ? std::string::npos : all.find(to, begin);
    return all.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string description = Part(input, "", "\n#SIG#\n");
    const std::string signature = Part(input, "\n#SIG#\n", "\n#FILE#\n");
    const std::string body = Part(input, "\n#FILE#\n", "");

    // The reading alone: bounded table, only safe names stored whole (a name is
    // never cut at a zero byte into another one), hash lines parsed or refused.
    try {
        TUpdateInfo info("d", description, "http://s/");
        if (info.FileCount < 0 || info.FileCount > kMaxUpdateFiles)
            abort();
        if (info.Valid && info.RefusedName)
            abort();
        for (int i = 0; i < info.FileCount; ++i) {
            const std::string name(info.Files[i].Name);
            if (!IsSafeUpdateName(name) || name.size() > size_t(kMaxUpdateName))
                abort();
            if (!ListedVerbatim(description, name))
                abort();
            Sha256Digest digest{};
            info.GetFileHash(i, digest);
        }
        if (info.GetFile(info.FileCount) || info.GetFile(-1))
            abort();
    } catch (const EConvertError&) {
    }

    // The downloads below run on threads of their own, which costs far more than
    // the reading: only descriptions that read as valid go on to them.
    bool valid = false;
    try {
        valid = TUpdateInfo("d", description, "http://s/").Valid;
    } catch (const EConvertError&) {
    }
    if (!valid)
        return 0;

    // The whole check of a signed folder, with the files served from the input.
    static FakeFileStore* files = new FakeFileStore();
    static FakeInternet* internet = new FakeInternet();
    static FakeUserNotice* notice = new FakeUserNotice();
    static OpenSslCrypto* crypto = new OpenSslCrypto();
    static Resources* resources = new Resources();
    files->files.clear();
    files->folders = {""};
    internet->urls.clear();
    internet->openedUrls.clear();
    Ports().files = files;
    Ports().internet = internet;
    Ports().notice = notice;
    Ports().crypto = crypto;
    Ports().resources = resources;
    internet->urls["http://s/updateFileInfo.ini"].body = description;
    if (input.find("\n#SIG#\n") != std::string::npos)
        internet->urls["http://s/updateFileInfo.sig"].body = signature;
    try {
        TUpdateInfo listed("d", description, "http://s/");
        for (int i = 0; i < listed.FileCount; ++i)
            internet->urls[std::string("http://s/") + listed.Files[i].Name].body = body;
    } catch (const EConvertError&) {
    }
    UpdateClntThread client(9, "http://s/");
    TVerInfo version;
    try {
        if (client.ReadOwnVersion(version, "http://s/updateFileInfo.ini") &&
            client.UpdateFrom(version, "http://s/"))
            abort(); // nothing the fuzzer makes carries the operator's signature
    } catch (const EConvertError&) {
    }
    // A refused folder leaves nothing installed, and nothing of it behind.
    if (!WaitForDownloadThreads(10000))
        abort();
    for (const auto& f : files->files)
        if (f.first != "updatefileinfotmp.ini")
            abort();

    // The hash check itself: whatever it lets through matches its listed SHA-256.
    try {
        TUpdateInfo listed("d", description, "http://s/");
        if (listed.Valid) {
            TFileDownLoad loader("");
            loader.RequireFileHashes(true);
            if (loader.DownloadAll(listed) && loader.InstallAll(listed)) {
                for (int i = 0; i < listed.FileCount; ++i) {
                    Sha256Digest want{}, got{};
                    if (!listed.GetFileHash(i, want) ||
                        !crypto->Sha256(reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                        got) ||
                        want != got || files->Text(listed.Files[i].Name) != body)
                        abort();
                }
            }
        }
    } catch (const EConvertError&) {
    }
    if (!WaitForDownloadThreads(10000))
        abort();
    return 0;
}
