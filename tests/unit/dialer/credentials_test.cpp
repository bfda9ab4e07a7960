// Password scrambling and the remembered credentials in "kelsupplicant.conf".
#include "credentials.h"

#include "settings.h"

#include "ScratchDir.h"
#include "dialer/FakeAppShell.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

namespace {

// A plain RC4, written from the published description, to check the product's
// scrambling against something that does not share its code.
std::string ReferenceRc4Hex(const std::string& key, const std::string& data) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    unsigned j = 0;
    for (int i = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) % 256;
        std::swap(s[i], s[j]);
    }
    std::string hex;
    const char* digits = "0123456789abcdef";
    unsigned i = 0;
    j = 0;
    for (char c : data) {
        i = (i + 1) % 256;
        j = (j + s[i]) % 256;
        std::swap(s[i], s[j]);
        const unsigned char out = static_cast<unsigned char>(c) ^ s[(s[i] + s[j]) % 256];
        hex += digits[out >> 4];
        hex += digits[out & 15];
    }
    return hex;
}

const std::string kKey = "580317#qam%&+=";

TEST(ReferenceRc4, MatchesThePublishedVector) {
    EXPECT_EQ(ReferenceRc4Hex("Key", "Plaintext"), "bbf316e8d940af0ad3");
}

TEST(Scramble, KnownValues) {
    // Worked out once by hand-checked script; stored files depend on these.
    const std::pair<std::string, std::string> cases[] = {
        {"password", "cf5c111705f3268e"},
        {"a", "de"},
        {"secret123", "cc58011617e865d8cb"},
        {"", ""},
    };
    for (const auto& [plain, hex] : cases) {
        std::string out = "stale";
        ASSERT_TRUE(ScramblePassword(plain, out));
        EXPECT_EQ(out, hex) << plain;
        EXPECT_EQ(out, ReferenceRc4Hex(kKey, plain));
    }
}

TEST(Scramble, RoundTripsEveryLengthAgainstTheReference) {
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<int> byte(1, 255); // no zero byte: it ends the password
    for (size_t n = 1; n <= 94; ++n) {
        std::string plain;
        for (size_t k = 0; k < n; ++k)
            plain += char(byte(rng));
        std::string hex;
        ASSERT_TRUE(ScramblePassword(plain, hex));
        EXPECT_EQ(hex.size(), 2 * n);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
        EXPECT_EQ(hex, ReferenceRc4Hex(kKey, plain));
        std::string back;
        ASSERT_TRUE(UnscramblePassword(hex, back));
        EXPECT_EQ(back, plain) << n;
    }
}

TEST(Unscramble, OddLengthFailsAndLeavesResult) {
    for (const char* hex : {"c", "cf5", "cf5c111705f3268"}) {
        std::string out = "unchanged";
        EXPECT_FALSE(UnscramblePassword(hex, out)) << hex;
        EXPECT_EQ(out, "unchanged");
    }
}

TEST(Unscramble, CasesOfTheText) {
    const struct {
        const char* hex;
        std::string plain;
    } cases[] = {
        {"", ""},
        {"cf5c111705f3268e", "password"},
        {"CF5C111705F3268E", "password"}, // uppercase digits read as well
        {"Cf5C111705f3268E", "password"},
        {"de5f620716", "ab"}, // "ab\0cd": the first zero byte ends it
        {"de5f", "ab"},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        ASSERT_TRUE(UnscramblePassword(c.hex, out)) << c.hex;
        EXPECT_EQ(out, c.plain) << c.hex;
    }
    std::string withZero;
    ASSERT_TRUE(ScramblePassword(std::string("ab\0cd", 5), withZero));
    EXPECT_EQ(withZero, "de5f620716");
}

TEST(HexPairToByte, Digits) {
    const struct {
        char high, low;
        uint8_t value;
    } cases[] = {
        {'0', '0', 0x00},  {'0', '9', 0x09}, {'9', '0', 0x90}, {'a', 'f', 0xaf}, {'F', 'A', 0xfa},
        {'f', 'F', 0xff},  {'7', 'c', 0x7c}, {'1', 'g', 0x10}, {'1', 'z', 0x10}, {'1', ' ', 0x10},
        {'1', '\0', 0x10}, {'g', '1', 0x01}, {'G', 'G', 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(int(HexPairToByte(c.high, c.low)), int(c.value)) << c.high << c.low;
}

std::string Scrambled(const std::string& plain) {
    std::string hex;
    ScramblePassword(plain, hex);
    return hex;
}

struct LoadCase {
    const char* name;
    std::string conf; // empty: no file
    Credentials expected;
};
void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class Load : public InScratchDir, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Load, FillsTheFields) {
    const LoadCase& c = GetParam();
    if (!c.conf.empty())
        WriteFile(kUserFile, c.conf);
    Credentials fields;
    LoadCredentials(fields);
    EXPECT_EQ(fields.userName, c.expected.userName);
    EXPECT_EQ(fields.password, c.expected.password);
    EXPECT_EQ(fields.savePassword, c.expected.savePassword);
}

const std::string kLong(90, 'L');

INSTANTIATE_TEST_SUITE_P(
    Files, Load,
    ::testing::Values(
        LoadCase{"NoFile", "", {"", "", false}},
        LoadCase{"Saved",
                 "username = bob\nsavepw = on\npassword = cf5c111705f3268e\n",
                 {"bob", "password", true}},
        LoadCase{"UppercaseHex",
                 "username=bob\nsavepw=on\npassword=CF5C111705F3268E\n",
                 {"bob", "password", true}},
        LoadCase{"SaveOff",
                 "username = bob\nsavepw = off\npassword = cf5c111705f3268e\n",
                 {"bob", "", false}},
        LoadCase{"SaveOtherCase",
                 "username = bob\nsavepw = On\npassword = cf5c111705f3268e\n",
                 {"bob", "", false}},
        LoadCase{"SaveLonger",
                 "username = bob\nsavepw = onx\npassword = cf5c111705f3268e\n",
                 {"bob", "", false}},
        LoadCase{"SaveWithComment",
                 "savepw = on # yes\npassword = cf5c111705f3268e\n",
                 {"", "password", true}},
        LoadCase{"OddPassword",
                 "username = bob\nsavepw = on\npassword = cf5c111705f3268\n",
                 {"bob", "", true}},
        LoadCase{"NoPasswordLine", "username = bob\nsavepw = on\n", {"bob", "", true}},
        LoadCase{"EmptyPassword", "username = bob\nsavepw = on\npassword =\n", {"bob", "", true}},
        LoadCase{"BlanksAroundName", "username =   bob smith   \n", {"bob smith", "", false}},
        LoadCase{"HashInName", "username = bo#b\n", {"bo", "", false}},
        // Any password that fits its line comes back, also beyond 49 bytes.
        LoadCase{"LongPassword",
                 "savepw = on\npassword = " + Scrambled(kLong) + "\n",
                 {"", kLong, true}}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

const std::string kThreeLines = "username = \nsavepw = off\npassword = \n";

struct SaveCase {
    const char* name;
    std::string before; // empty: no file
    Credentials fields;
    std::string after; // empty: no file
};
void PrintTo(const SaveCase& c, std::ostream* os) {
    *os << c.name;
}

class Save : public InScratchDir, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(Save, WritesTheLinesThatExist) {
    const SaveCase& c = GetParam();
    if (!c.before.empty())
        WriteFile(kUserFile, c.before);
    SaveCredentials(c.fields);
    if (c.after.empty()) {
        EXPECT_FALSE(FileExists(kUserFile));
    } else {
        EXPECT_EQ(ReadFile(kUserFile), c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Save,
    ::testing::Values(SaveCase{"SaveOn",
                               kThreeLines,
                               {"bob", "password", true},
                               "username = bob\nsavepw = on\npassword = cf5c111705f3268e\n"},
                      SaveCase{"SaveOffClearsPassword",
                               "username = bob # who\nsavepw = on\npassword = cf5c111705f3268e\n",
                               {"alice", "password", false},
                               "username = alice # who\nsavepw = off\npassword = \n"},
                      SaveCase{"EmptyPasswordSaved",
                               kThreeLines,
                               {"bob", "", true},
                               "username = bob\nsavepw = on\npassword = \n"},
                      SaveCase{"NoFileNoneCreated", "", {"bob", "password", true}, ""},
                      SaveCase{"OnlyExistingLines",
                               "# mine\nusername = x\n",
                               {"bob", "password", true},
                               "# mine\nusername = bob\n"},
                      SaveCase{"HashInNameWrittenInFull",
                               kThreeLines,
                               {"bo#b", "", false},
                               "username = bo#b\nsavepw = off\npassword = \n"},
                      // A password too long for its line must not leave the previous one behind.
                      SaveCase{"TooLongPasswordClearsOldOne",
                               "username = bob\nsavepw = on\npassword = cf5c111705f3268e\n",
                               {"bob", std::string(95, 'p'), true},
                               "username = bob\nsavepw = on\npassword = \n"}),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return info.param.name; });

class Remembered : public InScratchDir {};

TEST_F(Remembered, SaveThenLoadGivesTheFieldsBack) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(1, 255);
    for (size_t n : {size_t(1), size_t(6), size_t(20), size_t(49), size_t(50), size_t(94)}) {
        WriteFile(kUserFile, kThreeLines);
        Credentials saved{"user-" + std::to_string(n), "", true};
        for (size_t k = 0; k < n; ++k)
            saved.password += char(byte(rng));
        SaveCredentials(saved);
        Credentials loaded;
        LoadCredentials(loaded);
        EXPECT_EQ(loaded.userName, saved.userName);
        EXPECT_EQ(loaded.password, saved.password) << n;
        EXPECT_TRUE(loaded.savePassword);
    }
}

// Where the file lives. The scratch folder plays the program folder (the current
// folder); "data/" the user's own data folder. That this user may not write a
// machine-wide program folder's file is shown under Wine as an unprivileged user.
class Located : public InScratchDir {
  protected:
    Located() {
        std::filesystem::create_directory("data");
        shell.userDataFolder = "data/";
    }
    FakeAppShell shell;
};

TEST_F(Located, ProgramFolderFileWinsAndNothingElseIsTouched) {
    WriteFile(kUserFile, kThreeLines);
    EXPECT_EQ(LocateCredentialsFile(shell), kUserFile);
    EXPECT_TRUE(shell.calls.empty()) << "no data folder is asked for, so none is made";
    EXPECT_TRUE(std::filesystem::is_empty("data"));
}

TEST_F(Located, WithoutProgramFolderFileTheUsersOwnIsMadeAndUsed) {
    const std::string file = LocateCredentialsFile(shell);
    EXPECT_EQ(file, "data/kelsupplicant.conf");
    EXPECT_EQ(ReadFile(file), kNewCredentialsFile);
    EXPECT_FALSE(FileExists(kUserFile)) << "nothing is written beside the program";

    Credentials saved{"bob", "secret", true};
    SaveCredentials(saved, file);
    Credentials loaded;
    LoadCredentials(loaded, file);
    EXPECT_EQ(loaded.userName, "bob");
    EXPECT_EQ(loaded.password, "secret");
    EXPECT_TRUE(loaded.savePassword);
    // A later start finds it as it was left.
    EXPECT_EQ(LocateCredentialsFile(shell), file);
    EXPECT_NE(ReadFile(file).find("username = bob\n"), std::string::npos);
}

TEST_F(Located, VirtualisedCopyOfAnEarlierDialerIsCarriedOver) {
    const std::string old = "username = carol\nsavepw = on\npassword = cf5c111705f3268e\n";
    WriteFile("virtualised.conf", old);
    shell.virtualStoreCopy = "virtualised.conf";
    const std::string file = LocateCredentialsFile(shell);
    EXPECT_EQ(ReadFile(file), old);
    Credentials loaded;
    LoadCredentials(loaded, file);
    EXPECT_EQ(loaded.password, "password");
    // Only a new file is seeded: what the user saved since is kept.
    WriteFile(file, "username = dave\nsavepw = off\npassword = \n");
    EXPECT_EQ(LocateCredentialsFile(shell), file);
    EXPECT_EQ(ReadFile(file), "username = dave\nsavepw = off\npassword = \n");
}

TEST_F(Located, WithoutDataFolderNothingIsSavedAnywhere) {
    shell.userDataFolder = "";
    const std::string file = LocateCredentialsFile(shell);
    SaveCredentials({"bob", "secret", true}, file);
    EXPECT_FALSE(FileExists(kUserFile));
    EXPECT_TRUE(std::filesystem::is_empty("data"));
}

TEST(NewCredentialsFile, IsTheFileTheInstallerShips) {
    // The installer's copy has Windows line ends; the dialer writes its own in
    // text mode, which gives it the same.
    std::string shipped = ReadFile(PONDO_SOURCE_DIR "/installer/kelsupplicant.conf");
    shipped.erase(std::remove(shipped.begin(), shipped.end(), '\r'), shipped.end());
    EXPECT_EQ(shipped, kNewCredentialsFile);
}

} // namespace
