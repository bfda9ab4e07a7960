// The settings text format: what the reader finds, what the writer rewrites, and
// that the writer never loses or cuts a line it cannot handle.
#include "settings.h"

#include "DialerFiles.h"
#include "credentials.h"

#include "ScratchDir.h"

#include <dirent.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <string>

namespace {

constexpr const char* kFile = "test.conf";

struct ReadCase {
    const char* name;
    std::string content;
    const char* key;
    size_t capacity;
    bool found;
    std::string value; // expected when found
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadSetting : public InScratchDir, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadSetting, FindsTheValue) {
    const ReadCase& c = GetParam();
    WriteFile(kFile, c.content);
    char buffer[256];
    std::memset(buffer, 'Z', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    const std::string untouched = buffer;
    ASSERT_LE(c.capacity, sizeof buffer);
    EXPECT_EQ(ReadSettingValue(c.key, kFile, buffer, c.capacity), c.found);
    if (c.found) {
        EXPECT_EQ(std::string(buffer), c.value);
        EXPECT_LT(std::strlen(buffer), c.capacity);
    } else {
        EXPECT_EQ(std::string(buffer), untouched) << "a miss must leave the buffer alone";
    }
}

const std::string k199(199, 'v');

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadSetting,
    ::testing::Values(
        ReadCase{"BlanksAndComment", "Connect = Go online #button\n", "Connect", 200, true,
                 "Go online"},
        ReadCase{"NoBlanks", "Connect=Go online#button\n", "Connect", 200, true, "Go online"},
        ReadCase{"BlanksTrimmed", "Connect =    Go   \n", "Connect", 200, true, "Go"},
        ReadCase{"NothingAfterEquals", "Connect =\n", "Connect", 200, true, ""},
        ReadCase{"OnlyBlanks", "Connect =     \n", "Connect", 200, true, ""},
        ReadCase{"OnlyComment", "Connect = # nothing\n", "Connect", 200, true, ""},
        ReadCase{"NoEqualsSkipped", "Connect here\nConnect = Later\n", "Connect", 200, true,
                 "Later"},
        ReadCase{"Indented", " Connect = x\n", "Connect", 200, false, ""},
        ReadCase{"OtherCase", "connect = x\n", "Connect", 200, false, ""},
        ReadCase{"CommentLine", "#Connect = x\n", "Connect", 200, false, ""},
        ReadCase{"LongerWordMatches", "Connected = x\n", "Connect", 200, true, "x"},
        ReadCase{"EqualsInsideComment", "Connect # note = Later #tail\n", "Connect", 200, true,
                 "Later"},
        ReadCase{"TabStartsValue", "Connect =\tGo\n", "Connect", 200, true, "\tGo"},
        ReadCase{"TabAtEndKept", "Connect = Go\t\n", "Connect", 200, true, "Go\t"},
        ReadCase{"CutToCapacity", "Connect = abcdefgh\n", "Connect", 5, true, "abcd"},
        ReadCase{"CapacityOne", "Connect = abc\n", "Connect", 1, true, ""},
        ReadCase{"CutThenTrimmed", "Connect = ab  cd\n", "Connect", 5, true, "ab"},
        ReadCase{"FirstOfTwo", "Connect = a\nConnect = b\n", "Connect", 200, true, "a"},
        ReadCase{"CrLf", "Other = 1\r\nConnect = Go\r\n", "Connect", 200, true, "Go"},
        ReadCase{"NoFinalLineEnd", "Other = 1\nConnect = Go", "Connect", 200, true, "Go"},
        ReadCase{"EmptyAndSectionLines", "\n[Connect]\n\n#x\nConnect = Go\n", "Connect", 200, true,
                 "Go"},
        ReadCase{"SecondEqualsInValue", "Connect = a=b\n", "Connect", 200, true, "a=b"},
        ReadCase{"EmptyFile", "", "Connect", 200, false, ""},
        ReadCase{"LongestLine", "Connect=" + k199.substr(8) + "\n", "Connect", 200, true,
                 k199.substr(8)},
        ReadCase{"LongestLineCrLf", "Connect=" + k199.substr(8) + "\r\n", "Connect", 200, true,
                 k199.substr(8)},
        ReadCase{"TooLongLineEndsScan", std::string(200, 'x') + "\nConnect = Go\n", "Connect", 200,
                 false, ""},
        ReadCase{"KeyBeforeTooLongLine", "Connect = Go\n" + std::string(300, 'x') + "\n", "Connect",
                 200, true, "Go"},
        ReadCase{"TooLongKeyLine", "Connect=" + std::string(192, 'v') + "\n", "Connect", 200, false,
                 ""}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

class Settings : public InScratchDir {};

TEST_F(Settings, MissingFileIsAMiss) {
    char buffer[8] = "keep";
    EXPECT_FALSE(ReadSettingValue("Connect", "absent.ini", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
    EXPECT_FALSE(FileExists("absent.ini"));
}

TEST_F(Settings, GetSettingTextKeepsDefaultOnMissAndTakesEmptyValue) {
    WriteFile(kFile, "Exit =   # empty on purpose\n");
    std::string text = "Connect";
    GetSettingText("Connect", kFile, text);
    EXPECT_EQ(text, "Connect");
    GetSettingText("Connect", "absent.ini", text);
    EXPECT_EQ(text, "Connect");
    text = "Exit";
    GetSettingText("Exit", kFile, text);
    EXPECT_EQ(text, "");
}

TEST_F(Settings, GetSettingTextReadsUpTo199Characters) {
    const std::string value(192, 'q'); // "Connect=" + 192 = 200: too long
    WriteFile(kFile, "Connect=" + value.substr(1) + "\n");
    std::string text = "default";
    GetSettingText("Connect", kFile, text);
    EXPECT_EQ(text, value.substr(1));
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

// Every call opens the file itself, so a call that does not close it on some path
// would leak a descriptor per call; misses are the path most easily forgotten.
TEST_F(Settings, NoCallLeavesTheFileOpen) {
    WriteFile("plain.conf", "#comment\nusername = a\nlong\n");
    WriteFile("long.conf", "username = a\n" + std::string(250, 'x') + "\n");
    char buffer[200];
    std::string text;
    const int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 1500; ++i) {
        EXPECT_FALSE(
            ReadSettingValue("absent", "plain.conf", buffer, sizeof buffer));         // end of file
        EXPECT_FALSE(ReadSettingValue("absent", "long.conf", buffer, sizeof buffer)); // long line
        EXPECT_TRUE(ReadSettingValue("username", "plain.conf", buffer, sizeof buffer));
        GetSettingText("absent", "plain.conf", text);
        EXPECT_FALSE(WriteSettingValue("absent", "plain.conf", "v"));  // no key line
        EXPECT_FALSE(WriteSettingValue("username", "long.conf", "v")); // beyond the limits
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

struct WriteCase {
    const char* name;
    std::string before;
    const char* key;
    std::string value;
    bool result;
    std::string after; // ignored when the result is false: the file must be unchanged
};
void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteSetting : public InScratchDir, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteSetting, RewritesOnlyTheKeyLines) {
    const WriteCase& c = GetParam();
    WriteFile(kFile, c.before);
    EXPECT_EQ(WriteSettingValue(c.key, kFile, c.value.c_str()), c.result);
    EXPECT_EQ(ReadFile(kFile), c.result ? c.after : c.before);
}

const std::string kLine199 = std::string(199, 'c') + "\n"; // the longest line
const std::string kContent990 = [] {                       // 990 bytes, 10 lines of 99
    std::string s;
    for (int i = 0; i < 10; ++i)
        s += std::string(98, char('a' + i)) + "\n";
    return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Files, WriteSetting,
    ::testing::Values(
        WriteCase{"KeepsComment", "username = old # who\n", "username", "new", true,
                  "username = new # who\n"},
        WriteCase{"NoBlanksNoComment", "username=old\n", "username", "new", true,
                  "username = new\n"},
        WriteCase{"EveryKeyLineOthersKept",
                  "# users\nsavepw = on\n\nusername = a\nusername=b #2nd\nuser = c\n", "username",
                  "z", true, "# users\nsavepw = on\n\nusername = z\nusername = z #2nd\nuser = c\n"},
        WriteCase{"LineWithoutEquals", "username\n", "username", "x", true, "username = x\n"},
        WriteCase{"EmptyValue", "password = 00ff\n", "password", "", true, "password = \n"},
        WriteCase{"HashInValueWrittenInFull", "username = a\n", "username", "a#b", true,
                  "username = a#b\n"},
        WriteCase{"FinalLineGetsLineEnd", "username = a\nsavepw = off", "username", "b", true,
                  "username = b\nsavepw = off\n"},
        WriteCase{"RewrittenFinalLineGetsLineEnd", "savepw = off\nusername = a", "username", "b",
                  true, "savepw = off\nusername = b\n"},
        WriteCase{"CrLfBecomesNativeLineEnd", "savepw = off\r\nusername = a\r\n", "username", "b",
                  true, "savepw = off\nusername = b\n"},
        WriteCase{"NoKeyLine", "# only\nsavepw = on", "username", "x", false, ""},
        WriteCase{"CommentedKeyIsNoKeyLine", "#username = x\n", "username", "y", false, ""},
        WriteCase{"EmptyFile", "", "username", "x", false, ""},
        // Beyond the limits: refused, the file unchanged.
        WriteCase{"TooLongOtherLine", "username = a\n" + std::string(200, 'x') + "\nlast = 1\n",
                  "username", "b", false, ""},
        WriteCase{"TooLongKeyLine", "username = " + std::string(200, 'x') + "\n", "username", "b",
                  false, ""},
        WriteCase{"ValueMakesLineTooLong", "username = a\n", "username", std::string(189, 'v'),
                  false, ""},
        WriteCase{"ValueFillsLineExactly", "username = a\n", "username", std::string(188, 'v'),
                  true, "username = " + std::string(188, 'v') + "\n"},
        WriteCase{"CommentMakesLineTooLong", "username = a #" + std::string(150, 'c') + "\n",
                  "username", std::string(40, 'v'), false, ""},
        WriteCase{"LongestOtherLineKept", "username = a\n" + kLine199, "username", "b", true,
                  "username = b\n" + kLine199},
        WriteCase{"ContentAtLimit", "username = a\n" + kContent990.substr(0, 999 - 13 - 1) + "\n",
                  "username", "b", true,
                  "username = b\n" + kContent990.substr(0, 999 - 13 - 1) + "\n"},
        WriteCase{"ContentOverLimit", "username = a\n" + kContent990.substr(0, 999 - 13) + "\n",
                  "username", "b", false, ""},
        WriteCase{"RewriteGrowsContentOverLimit",
                  "username = a\n" + kContent990.substr(0, 999 - 13 - 1) + "\n", "username", "bb",
                  false, ""},
        // A line end inside the value would add a line the file never had.
        WriteCase{"LineFeedInValue", "username = a\n", "username", "b\npassword = 1", false, ""},
        WriteCase{"CarriageReturnInValue", "username = a\n", "username", "b\rc", false, ""}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST_F(Settings, WriterCreatesNoFile) {
    EXPECT_FALSE(WriteSettingValue("username", "absent.conf", "x"));
    EXPECT_FALSE(FileExists("absent.conf"));
}

TEST_F(Settings, WrittenValueReadsBack) {
    WriteFile(kFile, "username = old # remembered\n");
    ASSERT_TRUE(WriteSettingValue("username", kFile, "  new name  "));
    char buffer[200];
    ASSERT_TRUE(ReadSettingValue("username", kFile, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "new name"); // blanks around the value do not survive the format
}

// The system's files, failing where the system can: part-way through the new
// file's data (a full disk), or when the new file is to take the old one's place
// (a file held open by another program).
class FailingFiles : public DialerFiles {
  public:
    enum class Fail { Write, Replace } fail;
    explicit FailingFiles(Fail f) : fail(f) { UseFiles(this); }
    ~FailingFiles() override { UseFiles(nullptr); }

    bool WriteText(const std::string& path, const std::string& text) override {
        if (fail != Fail::Write)
            return SystemFiles().WriteText(path, text);
        SystemFiles().WriteText(path, text.substr(0, text.size() / 2));
        return false;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return fail != Fail::Replace && SystemFiles().Replace(from, to);
    }
    void Remove(const std::string& path) override { SystemFiles().Remove(path); }
    bool Append(const std::string& path, const std::string& bytes) override {
        return SystemFiles().Append(path, bytes);
    }
    int64_t Size(const std::string& path) override { return SystemFiles().Size(path); }
};

const char* const kStored = "# remembered\nusername = alice # who\nsavepw = on\npassword = 0a1b\n";

TEST_F(Settings, AFailedRewriteLeavesTheOldFileWhole) {
    for (FailingFiles::Fail fail : {FailingFiles::Fail::Write, FailingFiles::Fail::Replace}) {
        SCOPED_TRACE(fail == FailingFiles::Fail::Write ? "write" : "replace");
        WriteFile(kFile, kStored);
        FailingFiles files(fail);
        EXPECT_FALSE(WriteSettingValue("username", kFile, "bob"));
        EXPECT_EQ(ReadFile(kFile), kStored);
        EXPECT_FALSE(FileExists(std::string(kFile) + ".tmp")) << "the half-made file stays behind";
    }
}

TEST_F(Settings, ALeftOverReplacementFromACrashIsNoObstacle) {
    WriteFile(kFile, kStored);
    WriteFile(std::string(kFile) + ".tmp", "username = mallory\n" + std::string(500, 'x'));
    ASSERT_TRUE(WriteSettingValue("username", kFile, "bob"));
    EXPECT_EQ(ReadFile(kFile),
              "# remembered\nusername = bob # who\nsavepw = on\npassword = 0a1b\n");
    EXPECT_FALSE(FileExists(std::string(kFile) + ".tmp"));
}

// The system refuses the writes part-way, as a full disk does (here the process's
// file size limit plays the disk's end): Connect saves nothing, and every stored
// line is still there for the next start.
TEST_F(Settings, CredentialsSurviveADiskThatFillsUp) {
    WriteFile(kUserFile, kStored);
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN); // a refused write, not a signal
    struct rlimit small = before;
    small.rlim_cur = 24; // less than any rewritten file
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Credentials typed;
    typed.userName = "bob";
    typed.password = "new secret";
    typed.savePassword = true;
    SaveCredentials(typed);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);

    EXPECT_EQ(ReadFile(kUserFile), kStored);
    Credentials stored;
    LoadCredentials(stored);
    EXPECT_EQ(stored.userName, "alice");
    EXPECT_TRUE(stored.savePassword);
}

} // namespace
