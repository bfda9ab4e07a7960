// The operator's tool and the library agree: what the tool publishes, the client
// installs; what it signs, the library's check accepts.
#include "UpdateClnt.h"
#include "UpdateTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class PublishToolTest : public PortsFixture {
  protected:
    void SetUp() override {
        PortsFixture::SetUp();
        char pattern[] = "/tmp/publish-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(std::system(("mkdir " + dir + "/folder").c_str()), 0);
    }
    void TearDown() override {
        std::system(("rm -rf " + dir).c_str());
        PortsFixture::TearDown();
    }
    int Tool(const std::string& args) {
        const std::string command =
            "python3 " PONDO_SOURCE_DIR "/tools/update_publish.py " + args + " >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    // Serves every file of the published folder at http://s/.
    void Serve(std::initializer_list<const char*> names) {
        for (const char* name : names)
            internet.urls[std::string("http://s/") + name].body = Slurp(dir + "/folder/" + name);
    }
    void RunClient() {
        UpdateClntThread client(9, "http://s/");
        client.Start();
        client.WaitFor();
    }
    std::string dir;
};

TEST_F(PublishToolTest, UnsignedFolderInstallsInAKeylessLibrary) {
    Spit(dir + "/folder/Ostrel.dll", std::string(70000, 'L'));
    Spit(dir + "/folder/readme.txt", "r");
    ASSERT_EQ(Tool("describe " + dir + "/folder --version 1.2.3"), 0);
    const std::string text = Slurp(dir + "/folder/updateFileInfo.ini");
    TUpdateInfo info("x", text, "http://s/");
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.FileCount, 2);
    EXPECT_EQ(info.BuildNum, 3);
    Serve({"updateFileInfo.ini", "Ostrel.dll", "readme.txt"});
    RunClient();
    EXPECT_EQ(files.Text("Ostrel.dll"), std::string(70000, 'L'));
    EXPECT_EQ(files.Text("readme.txt"), "r");
}

TEST_F(PublishToolTest, SignedFolderVerifiesWithThePublicKey) {
    ASSERT_EQ(Tool("keypair " + dir + "/op.pem " + dir + "/op.pub"), 0);
    EXPECT_NE(Tool("keypair " + dir + "/op.pem " + dir + "/other.pub"), 0); // never overwrites
    Spit(dir + "/folder/a.dll", "signed bytes");
    ASSERT_EQ(Tool("describe " + dir + "/folder --version 1.2.3 --sign " + dir + "/op.pem"), 0);
    const std::string pub = Slurp(dir + "/op.pub");
    resources.data[kUpdateKeyResource].assign(pub.begin(), pub.end());
    Serve({"updateFileInfo.ini", "updateFileInfo.sig", "a.dll"});
    RunClient();
    EXPECT_EQ(files.Text("a.dll"), "signed bytes");
    EXPECT_EQ(notice.Count(), 1u);

    // Published again without signing: the old signature is gone, and the keyed
    // library refuses the folder.
    files.files.clear();
    Spit(dir + "/folder/a.dll", "unsigned bytes");
    ASSERT_EQ(Tool("describe " + dir + "/folder --version 1.2.3"), 0);
    EXPECT_EQ(Slurp(dir + "/folder/updateFileInfo.sig"), "");
    internet.urls.clear();
    Serve({"updateFileInfo.ini", "a.dll"});
    RunClient();
    EXPECT_FALSE(files.Has("a.dll"));
}

TEST_F(PublishToolTest, ReleaseSequencesOfTheToolKeepOldFoldersOut) {
    ASSERT_EQ(Tool("keypair " + dir + "/op.pem " + dir + "/op.pub"), 0);
    const std::string pub = Slurp(dir + "/op.pub");
    resources.data[kUpdateKeyResource].assign(pub.begin(), pub.end());
    const std::string folder = dir + "/folder";
    auto publish = [&](const std::string& content, const std::string& version) {
        Spit(folder + "/a.dll", content);
        EXPECT_EQ(
            Tool("describe " + folder + " --version " + version + " --sign " + dir + "/op.pem"), 0);
        return std::vector<std::string>{Slurp(folder + "/updateFileInfo.ini"),
                                        Slurp(folder + "/updateFileInfo.sig"), content};
    };
    auto serve = [&](const std::vector<std::string>& f) {
        internet.urls["http://s/updateFileInfo.ini"].body = f[0];
        internet.urls["http://s/updateFileInfo.sig"].body = f[1];
        internet.urls["http://s/a.dll"].body = f[2];
    };
    const auto first = publish("first", "1.2.3");
    const auto second = publish("second", "1.2.4");
    serve(first);
    RunClient();
    ASSERT_EQ(files.Text("a.dll"), "first");
    serve(second);
    RunClient();
    ASSERT_EQ(files.Text("a.dll"), "second");
    EXPECT_EQ(files.Text("updateRelease.dat"), "2\r\n");
    serve(first); // replayed by whoever holds the server
    RunClient();
    EXPECT_EQ(files.Text("a.dll"), "second");
    EXPECT_EQ(notice.Count(), 2u);
}

TEST_F(PublishToolTest, RefusesWhatTheLibraryWouldNotInstall) {
    Spit(dir + "/folder/a=b.dll", "x");
    EXPECT_NE(Tool("describe " + dir + "/folder --version 1.2.3"), 0);
    std::system(("rm " + dir + "/folder/*").c_str());
    for (int i = 0; i < 31; ++i)
        Spit(dir + "/folder/f" + std::to_string(i), "x");
    EXPECT_NE(Tool("describe " + dir + "/folder --version 1.2.3"), 0);
    std::system(("rm " + dir + "/folder/f3*").c_str());
    EXPECT_NE(Tool("describe " + dir + "/folder --version 1.2"), 0);
    EXPECT_NE(Tool("describe " + dir + "/folder --version 1.2.70000"), 0);
    EXPECT_EQ(Tool("describe " + dir + "/folder --version 1.2.3"), 0);
}

} // namespace
