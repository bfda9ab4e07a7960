#include "CRC32.h"
#include "DownloadFiles.h"
#include "UpdateClnt.h"
#include "UpdateTestSupport.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

namespace {

std::string CrcHex(const std::string& bytes) {
    char text[9];
    std::snprintf(text, sizeof(text), "%08X",
                  Crc32End(Crc32Update(Crc32Begin(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                       bytes.size())));
    return text;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256Digest d{};
    OpenSslCrypto().Sha256(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d);
    std::string hex;
    char two[3];
    for (uint8_t b : d) {
        std::snprintf(two, sizeof(two), "%02x", b);
        hex += two;
    }
    return hex;
}

struct Folder {
    std::string version = "1.2.3";                          // major.minor.build
    std::vector<std::pair<std::string, std::string>> files; // name, content
    bool withHashes = false;
    uint32_t sequence = 1; // the release sequence; 0: no section "release"
};

// An operator's key pair, made once for the whole test program.
struct KeyPair {
    KeyPair() {
        key = EVP_RSA_gen(3072);
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, key);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        publicPem.assign(data, data + size);
        BIO_free(bio);
    }
    std::string Sign(const std::string& bytes) const {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        size_t size = 0;
        EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key);
        EVP_DigestSign(ctx, nullptr, &size, reinterpret_cast<const uint8_t*>(bytes.data()),
                       bytes.size());
        std::string sig(size, '\0');
        EVP_DigestSign(ctx, reinterpret_cast<uint8_t*>(&sig[0]), &size,
                       reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EVP_MD_CTX_free(ctx);
        return sig;
    }
    EVP_PKEY* key = nullptr;
    std::vector<uint8_t> publicPem;
};

const KeyPair& OperatorKey() {
    static KeyPair* pair = new KeyPair();
    return *pair;
}

class UpdateClientTest : public PortsFixture {
  protected:
    void SetUp() override {
        PortsFixture::SetUp();
        savedLimits_ = UpdateSettings();
    }
    void TearDown() override {
        clients.WaitForAll();
        UpdateSettings() = savedLimits_;
        PortsFixture::TearDown();
    }

    // The description text of a folder.
    static std::string Describe(const Folder& f) {
        int major = 0, minor = 0, build = 0;
        std::sscanf(f.version.c_str(), "%d.%d.%d", &major, &minor, &build);
        std::string text = "[version]\r\nmajor Ver=" + std::to_string(major) +
                           "\r\nminor Ver=" + std::to_string(minor) +
                           "\r\nbuild num=" + std::to_string(build) + "\r\n[file list]\r\n";
        for (const auto& file : f.files)
            text += file.first + "=" + std::to_string(file.second.size()) + "," +
                    CrcHex(file.second) + "\r\n";
        text += "End=OK\r\n";
        if (f.withHashes) {
            text += "[file hashes]\r\n";
            for (const auto& file : f.files)
                text += file.first + "=" + Sha256Hex(file.second) + "\r\n";
        }
        if (f.sequence)
            text += "[release]\r\nsequence=" + std::to_string(f.sequence) + "\r\n";
        return text;
    }

    // Serves a folder at `url` (ending in "/"): its description and its files.
    std::string Publish(const std::string& url, const Folder& f) {
        const std::string text = Describe(f);
        internet.urls[url + "updateFileInfo.ini"].body = text;
        for (const auto& file : f.files)
            internet.urls[url + file.first].body = file.second;
        return text;
    }

    void Sign(const std::string& url, const std::string& text) {
        internet.urls[url + "updateFileInfo.sig"].body = OperatorKey().Sign(text);
    }

    void HoldKey() { resources.data[kUpdateKeyResource] = OperatorKey().publicPem; }

    void Run(const std::string& list, int length = -1) {
        UpdateClntThread client(length < 0 ? int(list.size()) : length, list);
        client.Start();
        client.WaitFor();
        lastUrlLength = client.UrlLength;
        lastUrlList = client.UrlList;
    }

    bool Contacted(const std::string& prefix) {
        for (const auto& u : internet.openedUrls)
            if (u.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    // The library as built with the operator's key at release sequence `built`.
    void HoldKey(uint32_t built) {
        HoldKey();
        resources.data[kReleaseSequenceResource] = {uint8_t(built), uint8_t(built >> 8),
                                                    uint8_t(built >> 16), uint8_t(built >> 24)};
    }

    // Serves a signed folder of one file a.dll at http://s/.
    void PublishSigned(const std::string& version, const std::string& content, uint32_t sequence,
                       const std::string& url = "http://s/") {
        Folder f{version, {{"a.dll", content}}, true, sequence};
        Sign(url, Publish(url, f));
    }

    // Bytes of every file in the program folder and below it.
    size_t BytesOnDisk() {
        size_t total = 0;
        for (const auto& f : files.files)
            total += f.second.bytes.size();
        return total;
    }

    int lastUrlLength = 0;
    std::string lastUrlList;

    UpdateClients clients; // the library's update clients, made afresh for each case

  private:
    UpdateLimits savedLimits_;
};

TEST_F(UpdateClientTest, OneFolderInstallsAndTellsTheUser) {
    Publish("http://s/u/", {"1.2.3", {{"a.dll", "new-a"}, {"b.txt", "new-b"}}});
    files.Put("a.dll", "old-a");
    Run("http://s/u");
    EXPECT_EQ(internet.openedUrls.front(), "http://s/u/updateFileInfo.ini");
    EXPECT_EQ(lastUrlList, "http://s/u/");
    EXPECT_EQ(files.Text("a.dll"), "new-a");
    EXPECT_EQ(files.Text("a.dllold"), "old-a");
    EXPECT_EQ(files.Text("b.txt"), "new-b");
    EXPECT_FALSE(files.Has("b.txtold"));
    EXPECT_FALSE(files.Has("updateFileInfoTmp.ini"));
    EXPECT_FALSE(files.HasFolder("temp"));
    ASSERT_EQ(notice.Count(), 1u);
    EXPECT_EQ(notice.shown[0].first, "\xc8\xcf\xd6\xa4\xbf\xcd\xbb\xa7\xb6\xcb");
    EXPECT_EQ(
        notice.shown[0].second,
        "\xc8\xcf\xd6\xa4\xbf\xcd\xbb\xa7\xb6\xcb\xd2\xd1\xcd\xea\xb3\xc9\xd7\xd4\xb6\xaf\xb8"
        "\xfc\xd0\xc2,\xc7\xeb\xcd\xcb\xb3\xf6\xd2\xd4\xd4\xcb\xd0\xd0\xd0\xc2\xb0\xe6\xb1\xbe");
}

TEST_F(UpdateClientTest, FolderOrder) {
    // The first folder offers the library's own version: the second is not contacted.
    Publish("http://one/", {"1.2.2", {{"a.dll", "x"}}});
    Publish("http://two/", {"1.2.3", {{"a.dll", "y"}}});
    Run("http://one/,http://two/");
    EXPECT_FALSE(Contacted("http://two/"));
    EXPECT_FALSE(files.Has("a.dll"));
    EXPECT_EQ(notice.Count(), 0u);

    // A first folder without a description: the second is tried.
    internet.openedUrls.clear();
    Run("http://none,http://two");
    EXPECT_TRUE(Contacted("http://none/updateFileInfo.ini"));
    EXPECT_EQ(files.Text("a.dll"), "y");
    EXPECT_EQ(notice.Count(), 1u);
}

TEST_F(UpdateClientTest, VersionComparison) {
    const struct {
        const char* offered;
        bool updates;
    } cases[] = {
        {"1.2.3", true}, {"1.2.2", false}, {"1.0.0", true}, {"0.9.2", true}, {"1.3.2", true}};
    for (const auto& c : cases) {
        files.files.clear();
        Publish("http://s/", {c.offered, {{"a.dll", "x"}}});
        Run("http://s/");
        EXPECT_EQ(files.Has("a.dll"), c.updates) << c.offered;
    }
}

TEST_F(UpdateClientTest, SchemePrefix) {
    const struct {
        const char* list;
        const char* descriptionUrl;
    } cases[] = {{"HTTP://S/u", "HTTP://S/u/updateFileInfo.ini"},
                 {"https://s/u", "http://https://s/u/updateFileInfo.ini"},
                 {"s/u", "http://s/u/updateFileInfo.ini"}};
    for (const auto& c : cases) {
        internet.openedUrls.clear();
        Run(c.list);
        ASSERT_FALSE(internet.openedUrls.empty()) << c.list;
        EXPECT_EQ(internet.openedUrls[0], c.descriptionUrl);
    }
}

TEST_F(UpdateClientTest, UrlListIsCutToTheItemLength) {
    const struct {
        const char* text;
        int length;
        const char* list;
        int finalLength;
    } cases[] = {{"http://s/uXYZ", 10, "http://s/u/", 11},
                 {"http://s/u/", 11, "http://s/u/", 11},
                 // a text that ended early at a zero byte keeps its own length
                 {"http://s/u", 40, "http://s/u/", 11},
                 {"", 5, "/", 1}};
    for (const auto& c : cases) {
        Run(c.text, c.length);
        EXPECT_EQ(lastUrlList, c.list) << c.text;
        EXPECT_EQ(lastUrlLength, c.finalLength) << c.text;
    }
}

TEST_F(UpdateClientTest, EmptyPiecesAreSkipped) {
    Publish("http://s/", {"1.2.3", {{"a.dll", "x"}}});
    Run(",,http://s/");
    EXPECT_EQ(internet.openedUrls.front(), "http://s/updateFileInfo.ini");
    EXPECT_TRUE(files.Has("a.dll"));
}

TEST_F(UpdateClientTest, ReadOnlyOldCopyIsReplacedInOrder) {
    Publish("http://s/", {"1.2.3", {{"a.dll", "new"}}});
    files.Put("a.dll", "current", kFileAttrReadOnly);
    files.Put("a.dllold", "older", kFileAttrReadOnly);
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "new");
    EXPECT_EQ(files.Text("a.dllold"), "current");
    std::vector<std::string> install;
    for (const auto& step : files.log)
        if (step.find("temp") == std::string::npos &&
            step.find("updatefileinfo") == std::string::npos)
            install.push_back(step);
    const std::vector<std::string> expected = {"attributes a.dllold", "delete a.dllold",
                                               "attributes a.dll", "rename a.dll -> a.dllold",
                                               "create a.dll"};
    EXPECT_EQ(install, expected);
}

TEST_F(UpdateClientTest, ShortFileFailsTheCheckAndTouchesNothing) {
    Folder f{"1.2.3", {{"a.dll", "0123456789"}, {"b.dll", "bb"}}};
    Publish("http://s/", f);
    internet.urls["http://s/a.dll"].body = "012345678"; // one byte short
    files.Put("a.dll", "installed");
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "installed");
    EXPECT_FALSE(files.Has("a.dllold"));
    EXPECT_FALSE(files.Has("b.dll"));
    EXPECT_FALSE(files.HasFolder("temp"));
    EXPECT_EQ(notice.Count(), 0u);
}

TEST_F(UpdateClientTest, TempFolderKeepsWhatWasNotOurs) {
    Publish("http://s/", {"1.2.3", {{"a.dll", "x"}}});
    files.MakeFolder("temp");
    files.Put("temp\\notes.txt", "mine", kFileAttrReadOnly);
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "x");
    EXPECT_FALSE(files.Has("temp\\a.dll"));
    EXPECT_EQ(files.Text("temp\\notes.txt"), "mine");
    EXPECT_TRUE(files.HasFolder("temp"));

    // The same after a failed check.
    files.Put("a.dll", "x");
    internet.urls["http://s/a.dll"].body = "y";
    Run("http://s/");
    EXPECT_FALSE(files.Has("temp\\a.dll"));
    EXPECT_EQ(files.Text("temp\\notes.txt"), "mine");
}

TEST_F(UpdateClientTest, FailedInstallIsUndoneWhole) {
    enum Fault { CreateNew, RenameSecond, DeleteOldCopy, WriteSecond };
    for (Fault fault : {CreateNew, RenameSecond, DeleteOldCopy, WriteSecond}) {
        files.files.clear();
        files.failCreate.clear();
        files.failRename.clear();
        files.failDelete.clear();
        files.failWrite.clear();
        notice.shown.clear();
        Publish("http://s/",
                {"1.2.3", {{"Ostrel.dll", "lib-2"}, {"b.dll", "b-2"}, {"c.dll", "c-2"}}});
        files.Put("Ostrel.dll", "lib-1");
        files.Put("b.dll", "b-1", kFileAttrReadOnly);
        files.Put("b.dllold", "b-0");
        switch (fault) {
        case CreateNew:
            files.failCreate.insert("c.dll");
            break;
        case RenameSecond:
            files.failRename.insert("b.dll");
            break;
        case DeleteOldCopy:
            files.failDelete.insert("b.dllold");
            break;
        case WriteSecond:
            files.failWrite.insert("b.dll");
            break;
        }
        Run("http://s/");
        EXPECT_EQ(files.Text("Ostrel.dll"), "lib-1") << fault;
        EXPECT_FALSE(files.Has("Ostrel.dllold")) << fault;
        EXPECT_EQ(files.Text("b.dll"), "b-1") << fault;
        EXPECT_FALSE(files.Has("c.dll")) << fault;
        EXPECT_EQ(notice.Count(), 0u) << fault;
    }
}

TEST_F(UpdateClientTest, NonNumericValueEndsTheRunAndTheHostGoesOn) {
    internet.urls["http://one/updateFileInfo.ini"].body =
        "[version]\nmajor Ver=1\nminor Ver=x\nbuild num=3\n[file list]\na=1,00000000\nEnd=OK\n";
    Publish("http://two/", {"1.2.3", {{"a.dll", "x"}}});
    ASSERT_TRUE(clients.StartIfNone("http://one/,http://two/", 23));
    clients.WaitForAll();
    EXPECT_TRUE(files.Has("updateFileInfoTmp.ini")); // stays, as after any conversion error
    EXPECT_FALSE(Contacted("http://two/"));
    EXPECT_EQ(notice.Count(), 0u);
}

TEST_F(UpdateClientTest, VersionStampDecidesWhetherAnythingIsFetched) {
    Publish("http://s/", {"1.2.3", {{"a.dll", "x"}}});
    resources.data.erase(129);
    Run("http://s/");
    resources.data[129] = {0xFF, 0xFF, 1, 0, 2, 0, 1, 0, 2}; // nine bytes
    Run("http://s/");
    resources.data[129] = {0xFE, 0xFF, 1, 0, 2, 0, 1, 0, 2, 0}; // no marker
    Run("http://s/");
    resources.data[129] = {0xFF, 0xFF, 1, 0, 2, 0, 1, 0, 2, 0};
    resources.loaded = false;
    Run("http://s/");
    EXPECT_TRUE(internet.openedUrls.empty());
    resources.loaded = true;
    Run("http://s/");
    EXPECT_TRUE(files.Has("a.dll"));
}

TEST_F(UpdateClientTest, OneCurrentClientUntilForgotten) {
    ASSERT_TRUE(clients.StartIfNone("http://s/", 9));
    EXPECT_FALSE(clients.StartIfNone("http://s/", 9));
    clients.Forget();
    EXPECT_TRUE(clients.StartIfNone("http://s/", 9));
    clients.WaitForAll();
    EXPECT_EQ(internet.openedUrls.size(), 2u);
}

TEST_F(UpdateClientTest, SecondClientWaitsForTheFirstToFinish) {
    Publish("http://a/", {"1.2.3", {{"a.dll", "from-a"}}});
    Publish("http://b/", {"1.2.4", {{"a.dll", "from-b"}}});
    std::mutex m;
    std::condition_variable cv;
    bool bStarted = false;
    bool bContactedEarly = false;
    internet.onOpenUrl = [&](const std::string& url) {
        if (url.rfind("http://b/", 0) == 0) {
            std::lock_guard<std::mutex> hold(m);
            bStarted = true;
            cv.notify_all();
        }
        if (url == "http://a/a.dll") {
            // The first client is mid-download: a forgotten client, then a new one.
            clients.Forget();
            clients.StartIfNone("http://b/", 9);
            std::unique_lock<std::mutex> lock(m);
            bContactedEarly =
                cv.wait_for(lock, std::chrono::milliseconds(300), [&] { return bStarted; });
        }
    };
    ASSERT_TRUE(clients.StartIfNone("http://a/", 9));
    // Wait (bounded) until the second client has run too.
    for (int i = 0; i < 500 && notice.Count() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    clients.WaitForAll();
    EXPECT_FALSE(bContactedEarly);
    EXPECT_EQ(notice.Count(), 2u);
    EXPECT_EQ(files.Text("a.dll"), "from-b");
    EXPECT_EQ(files.Text("a.dllold"), "from-a");
}

TEST_F(UpdateClientTest, SignedFolderInstalls) {
    HoldKey();
    Folder f{"1.2.3", {{"a.dll", "signed-a"}}, true};
    Sign("http://s/", Publish("http://s/", f));
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "signed-a");
    EXPECT_EQ(notice.Count(), 1u);
    EXPECT_FALSE(files.Has("updateFileInfoTmp.sig"));
    EXPECT_FALSE(files.Has("updateFileInfoTmp.ini"));
}

TEST_F(UpdateClientTest, SignedLibraryRefusesWhatTheOperatorDidNotSign) {
    HoldKey();
    enum Case {
        WrongHash,
        MissingHashLine,
        EditedAfterSigning,
        NoSignature,
        GarbledSignature,
        EmptySignature,
        OtherKey
    };
    for (Case c : {WrongHash, MissingHashLine, EditedAfterSigning, NoSignature, GarbledSignature,
                   EmptySignature, OtherKey}) {
        internet.urls.clear();
        files.files.clear();
        files.Put("a.dll", "installed");
        Folder f{"1.2.3", {{"a.dll", "good"}}, true};
        std::string text = Describe(f);
        if (c == WrongHash) {
            // The file served is another one of the same size and CRC-32 as listed;
            // the listed hash is of the good file.
            Folder other{"1.2.3", {{"a.dll", "evil"}}, true};
            std::string o = Describe(other);
            text = Describe(f);
            internet.urls["http://s/a.dll"].body = "evil";
            // keep the size/CRC line of the served file so only the hash differs
            text.replace(
                text.find("a.dll="), o.find("\r\n", o.find("a.dll=")) - o.find("a.dll="),
                o.substr(o.find("a.dll="), o.find("\r\n", o.find("a.dll=")) - o.find("a.dll=")));
        } else {
            internet.urls["http://s/a.dll"].body = "good";
        }
        if (c == MissingHashLine)
            text = text.substr(0, text.find("[file hashes]"));
        internet.urls["http://s/updateFileInfo.ini"].body = text;
        const std::string sig = OperatorKey().Sign(text);
        if (c == EditedAfterSigning)
            internet.urls["http://s/updateFileInfo.ini"].body = text + "; one more line\r\n";
        if (c == GarbledSignature) {
            std::string bad = sig;
            bad[bad.size() / 2] ^= 1;
            internet.urls["http://s/updateFileInfo.sig"].body = bad;
        } else if (c == EmptySignature) {
            internet.urls["http://s/updateFileInfo.sig"].body = "";
        } else if (c == OtherKey) {
            static KeyPair* other = new KeyPair();
            internet.urls["http://s/updateFileInfo.sig"].body = other->Sign(text);
        } else if (c != NoSignature) {
            internet.urls["http://s/updateFileInfo.sig"].body = sig;
        }
        // A good second folder is tried after a refused first one.
        Folder g{"1.2.3", {{"a.dll", "second"}}, true};
        Sign("http://t/", Publish("http://t/", g));
        Run("http://s/,http://t/");
        EXPECT_EQ(files.Text("a.dll"), "second") << c;
        EXPECT_EQ(files.Text("a.dllold"), "installed") << c;
        EXPECT_FALSE(files.Has("temp\\a.dll")) << c;
        EXPECT_FALSE(files.Has("updateFileInfoTmp.ini")) << c;
        EXPECT_FALSE(files.Has("updateFileInfoTmp.sig")) << c;
    }
}

TEST_F(UpdateClientTest, KeylessLibraryTrustsSizeAndCrcAndIgnoresHashes) {
    Folder f{"1.2.3", {{"a.dll", "x"}}, true};
    f.files[0].second = "x";
    std::string text = Describe(f);
    // A wrong hash line means nothing to a library without a key.
    text.replace(text.find(Sha256Hex("x")), 64, std::string(64, '0'));
    internet.urls["http://s/updateFileInfo.ini"].body = text;
    internet.urls["http://s/a.dll"].body = "x";
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "x");
    EXPECT_FALSE(Contacted("http://s/updateFileInfo.sig"));
}

TEST_F(UpdateClientTest, SignedFolderMustBeNewerThanTheBuildAndEveryInstall) {
    const struct {
        uint32_t built;
        const char* record; // "updateRelease.dat" before the run; null: none
        uint32_t folder;    // 0: the folder carries no sequence
        bool installs;
    } cases[] = {
        {0, nullptr, 1, true},  {5, nullptr, 5, false}, {5, nullptr, 4, false},
        {5, nullptr, 6, true},  {5, "9\r\n", 7, false}, {5, "9\r\n", 9, false},
        {5, "9\r\n", 10, true}, {9, "5\r\n", 7, false}, {5, nullptr, 0, false},
        {5, "junk", 6, true},   {5, "junk", 5, false},  {0, "4294967295", 4294967295u, false},
    };
    for (const auto& c : cases) {
        const std::string label = std::to_string(c.built) + "/" + (c.record ? c.record : "-") +
                                  "/" + std::to_string(c.folder);
        files.files.clear();
        internet.urls.clear();
        internet.openedUrls.clear();
        notice.shown.clear();
        HoldKey(c.built);
        files.Put("a.dll", "installed");
        if (c.record)
            files.Put("updateRelease.dat", c.record);
        PublishSigned("1.2.3", "new", c.folder);
        Run("http://s/");
        EXPECT_EQ(files.Text("a.dll"), c.installs ? "new" : "installed") << label;
        EXPECT_EQ(notice.Count(), c.installs ? 1u : 0u) << label;
        // Refused before any file is fetched; the record moves only with an install.
        EXPECT_EQ(Contacted("http://s/a.dll"), c.installs) << label;
        const std::string record = c.record ? c.record : "<missing>";
        EXPECT_EQ(files.Text("updateRelease.dat"),
                  c.installs ? std::to_string(c.folder) + "\r\n" : record)
            << label;
        EXPECT_FALSE(files.Has("updateRelease.tmp")) << label;
    }
}

TEST_F(UpdateClientTest, ReplayedOlderSignedFoldersChangeNothing) {
    HoldKey(5);
    files.Put("a.dll", "v1");
    PublishSigned("1.2.3", "v7", 7, "http://new/");
    PublishSigned("1.2.4", "v6", 6, "http://old6/");
    PublishSigned("1.2.5", "v3", 3, "http://old3/");
    Run("http://new/");
    ASSERT_EQ(files.Text("a.dll"), "v7");
    ASSERT_EQ(files.Text("a.dllold"), "v1");
    // Whoever holds the server serves the older signed folders, as often as it likes.
    for (int i = 0; i < 3; ++i)
        Run("http://old6/,http://old3/,http://new/");
    EXPECT_EQ(files.Text("a.dll"), "v7");
    EXPECT_EQ(files.Text("a.dllold"), "v1");
    EXPECT_EQ(notice.Count(), 1u);
    EXPECT_FALSE(Contacted("http://old6/a.dll"));
    EXPECT_FALSE(Contacted("http://old3/a.dll"));
    // A deliberate rollback: the operator signs the old files as a new release.
    PublishSigned("1.2.4", "v6", 8, "http://rollback/");
    Run("http://rollback/");
    EXPECT_EQ(files.Text("a.dll"), "v6");
    EXPECT_EQ(files.Text("updateRelease.dat"), "8\r\n");
}

TEST_F(UpdateClientTest, RecordIsWrittenOnlyAfterASuccessfulInstall) {
    HoldKey(1);
    files.Put("a.dll", "installed");
    files.Put("updateRelease.dat", "3\r\n");
    PublishSigned("1.2.3", "new", 4);
    files.failCreate.insert("a.dll"); // the install fails and is undone
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "installed");
    EXPECT_EQ(files.Text("updateRelease.dat"), "3\r\n");

    // The record cannot be replaced: the install stands, the old record stays whole.
    files.failCreate.clear();
    files.failRename.insert(FakeFileStore::Norm("updateRelease.tmp"));
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "new");
    EXPECT_EQ(files.Text("updateRelease.dat"), "3\r\n");
    EXPECT_FALSE(files.Has("updateRelease.tmp"));
}

TEST_F(UpdateClientTest, KeylessLibraryKeepsNoRecord) {
    files.Put("a.dll", "installed");
    Publish("http://s/", {"1.2.3", {{"a.dll", "new"}}, false, 0});
    Run("http://s/");
    EXPECT_EQ(files.Text("a.dll"), "new");
    EXPECT_FALSE(files.Has("updateRelease.dat"));
}

// Every hostile server ends the folder within its bounds, with nothing over the
// listed sizes written and nothing of the folder left behind.
TEST_F(UpdateClientTest, HostileServersEndTheFolderWithinItsBounds) {
    UpdateLimits& limits = UpdateSettings();
    limits.transferBaseMs = 300;
    limits.minBytesPerSecond = 1 << 20;
    limits.folderMs = 2000;
    limits.descriptionBytes = 4096;
    const std::string content(2000, 'n'), second(500, 's');
    struct Case {
        const char* name;
        const char* url; // the answer that misbehaves
        std::function<void(FakeInternet::Response&)> answer;
        int64_t atLeastMs; // the time a hostile answer holds the folder
    };
    const Case cases[] = {
        {"endless description", "http://s/updateFileInfo.ini",
         [](FakeInternet::Response& r) {
             r.endless = true;
             r.contentLength = "100000000";
         },
         0},
        {"oversized file", "http://s/a.dll",
         [&](FakeInternet::Response& r) { r.body = std::string(5000, 'x'); }, 0},
        {"endless file behind the listed length", "http://s/a.dll",
         [&](FakeInternet::Response& r) {
             r.endless = true;
             r.body = std::string(100, 'y');
             r.contentLength = std::to_string(content.size());
         },
         0},
        {"drip description", "http://s/updateFileInfo.ini",
         [](FakeInternet::Response& r) { r.dripMs = 20; }, 300},
        {"silent description", "http://s/updateFileInfo.ini",
         [](FakeInternet::Response& r) { r.silent = true; }, 300},
        {"drip file", "http://s/b.dll", [](FakeInternet::Response& r) { r.dripMs = 20; }, 300},
        {"stalled file", "http://s/b.dll", [](FakeInternet::Response& r) { r.stallAfter = 10; },
         300},
        {"self-redirect", "http://s/a.dll",
         [](FakeInternet::Response& r) {
             r.status = 302;
             r.location = "http://s/a.dll";
         },
         0},
        {"not found", "http://s/b.dll", [](FakeInternet::Response& r) { r.status = 404; }, 0},
    };
    for (const Case& c : cases) {
        internet.urls.clear();
        internet.Rearm();
        internet.openedUrls.clear();
        internet.bytesServed = 0;
        notice.shown.clear();
        files.files.clear();
        files.MakeFolder("temp");
        files.Put("temp\\notes.txt", "mine");
        files.Put("a.dll", "installed");
        Publish("http://s/", {"1.2.3", {{"a.dll", content}, {"b.dll", second}}});
        c.answer(internet.urls[c.url]);
        const auto start = std::chrono::steady_clock::now();
        Run("http://s/");
        const int64_t took = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        EXPECT_LT(took, 2000 + 500) << c.name;
        EXPECT_GE(took, c.atLeastMs - 5) << c.name;
        EXPECT_EQ(files.Text("a.dll"), "installed") << c.name;
        EXPECT_EQ(notice.Count(), 0u) << c.name;
        // What the folder fetched is gone; what was in temp\ before stays.
        EXPECT_FALSE(files.Has("temp\\a.dll")) << c.name;
        EXPECT_FALSE(files.Has("temp\\b.dll")) << c.name;
        EXPECT_EQ(files.Text("temp\\notes.txt"), "mine") << c.name;
        EXPECT_FALSE(files.Has("updateFileInfoTmp.ini")) << c.name;
        EXPECT_LE(BytesOnDisk(), std::string("installed").size() + 4) << c.name;
        internet.Release();
        ASSERT_TRUE(WaitForDownloadThreads(5000)) << c.name;
        EXPECT_LE(internet.bytesServed, limits.descriptionBytes + content.size() + second.size())
            << c.name;
        EXPECT_LE(internet.openedUrls.size(), size_t(2 * (limits.maxRedirects + 1) + 2)) << c.name;
    }
}

TEST_F(UpdateClientTest, FolderDeadlineCapsManySlowFiles) {
    // Each file alone is within its own time; together they outlast the folder's.
    UpdateLimits& limits = UpdateSettings();
    limits.transferBaseMs = 1000;
    limits.folderMs = 700;
    Folder f{"1.2.3", {}};
    for (int i = 0; i < 6; ++i)
        f.files.push_back({"f" + std::to_string(i), "12345678"});
    Publish("http://s/", f);
    for (const auto& file : f.files)
        internet.urls["http://s/" + file.first].dripMs = 40;
    const auto start = std::chrono::steady_clock::now();
    Run("http://s/");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_LT(took, 700 + 300);
    EXPECT_FALSE(files.Has("f0"));
    EXPECT_FALSE(files.HasFolder("temp"));
    EXPECT_EQ(notice.Count(), 0u);
}

TEST_F(UpdateClientTest, FolderListingMoreThanItsBoundIsRefusedUnfetched) {
    UpdateSettings().folderBytes = 1000;
    internet.urls["http://s/updateFileInfo.ini"].body =
        "[version]\r\nmajor Ver=1\r\nminor Ver=2\r\nbuild num=3\r\n[file list]\r\n"
        "a.dll=600,00000000\r\nb.dll=600,00000000\r\nEnd=OK\r\n";
    Run("http://s/");
    EXPECT_FALSE(Contacted("http://s/a.dll"));
    EXPECT_FALSE(files.HasFolder("temp"));
    internet.urls["http://s/updateFileInfo.ini"].body =
        "[version]\r\nmajor Ver=1\r\nminor Ver=2\r\nbuild num=3\r\n[file list]\r\n"
        "a.dll=-1,00000000\r\nEnd=OK\r\n";
    Run("http://s/");
    EXPECT_FALSE(Contacted("http://s/a.dll"));
}

TEST_F(UpdateClientTest, DescriptionAndSignatureHaveSmallBounds) {
    HoldKey(0);
    PublishSigned("1.2.3", "new", 1);
    // A signature longer than any key's, and a description beyond its bound.
    internet.urls["http://s/updateFileInfo.sig"].body += std::string(3000, 's');
    Run("http://s/");
    EXPECT_FALSE(files.Has("a.dll"));
    EXPECT_LE(internet.bytesServed, UpdateSettings().descriptionBytes);
    PublishSigned("1.2.3", "new", 1);
    UpdateSettings().descriptionBytes = 100;
    internet.openedUrls.clear();
    Run("http://s/");
    EXPECT_FALSE(files.Has("a.dll"));
    EXPECT_FALSE(Contacted("http://s/updateFileInfo.sig"));
    EXPECT_FALSE(files.Has("updateFileInfoTmp.ini"));
}

TEST_F(UpdateClientTest, RemoveTreeDeletesEverythingBeneath) {
    files.MakeFolder("t");
    files.MakeFolder("t\\sub");
    files.Put("t\\a", "1", kFileAttrReadOnly);
    files.Put("t\\sub\\b", "2");
    EXPECT_TRUE(RemoveTree("t"));
    EXPECT_FALSE(files.HasFolder("t"));
    EXPECT_TRUE(files.files.empty());
    EXPECT_FALSE(RemoveTree("t"));
}

TEST_F(UpdateClientTest, FileOperations) {
    files.Put("ro", "1", kFileAttrReadOnly);
    files.Put("rw", "1");
    EXPECT_TRUE(ClearReadOnly("ro"));
    EXPECT_EQ(files.Attributes("ro"), kFileAttrNormal);
    EXPECT_TRUE(ClearReadOnly("rw"));
    EXPECT_FALSE(ClearReadOnly("none"));
    files.Put("ro", "1", kFileAttrReadOnly);
    EXPECT_TRUE(ForceDeleteFile("ro"));
    EXPECT_FALSE(files.Has("ro"));
    EXPECT_FALSE(ForceDeleteFile("none"));
    files.Put("ro", "1", kFileAttrReadOnly);
    files.failSetAttributes.insert("ro");
    EXPECT_FALSE(ForceDeleteFile("ro"));
    EXPECT_TRUE(files.Has("ro"));
}

} // namespace
