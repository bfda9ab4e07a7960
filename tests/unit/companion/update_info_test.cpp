#include "CRC32.h"
#include "MyUtils.h"
#include "UpdateInfo.h"
#include "UpdateTestSupport.h"

#include <string>

namespace {

class UpdateInfoTest : public PortsFixture {
  protected:
    // A description with the given file-list lines (and version 1.2.3).
    TUpdateInfo Read(const std::string& fileList, const std::string& extra = "") {
        files.Put("d.ini", "[version]\nmajor Ver=1\nminor Ver=2\nbuild num=3\n[file list]\n" +
                               fileList + extra);
        return TUpdateInfo("d.ini", "http://h/u/");
    }
};

TEST(Crc32, StandardCheckValueAndIncrementalUse) {
    const std::string text = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(Crc32End(Crc32Update(Crc32Begin(), bytes, text.size())), 0xCBF43926u);
    uint32_t state = Crc32Update(Crc32Begin(), bytes, 4);
    EXPECT_EQ(Crc32End(Crc32Update(state, bytes + 4, 5)), 0xCBF43926u);
    EXPECT_EQ(Crc32End(Crc32Update(Crc32Begin(), bytes, 0)), 0u);
}

TEST_F(UpdateInfoTest, FileCrcSpansReadBlocksAndMissingFileGivesZero) {
    // Longer than one 65521-byte block, so the CRC runs across two reads.
    std::string big(65521 + 100, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 3);
    files.Put("big.bin", big);
    const auto* bytes = reinterpret_cast<const uint8_t*>(big.data());
    EXPECT_EQ(FileCrc32("big.bin"), Crc32End(Crc32Update(Crc32Begin(), bytes, big.size())));
    EXPECT_EQ(FileCrc32("nothing.bin"), 0u);
}

TEST(HexToInt, DigitsCaseAndStrayCharacters) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {{"0A1B2C3D", 0x0A1B2C3D},
                 {"0a1b2c3d", 0x0A1B2C3D},
                 {"0A1B2C3G", 0x0A1B2C30},
                 {"FFFFFFFF", 0xFFFFFFFF},
                 {"", 0},
                 {"zz", 0},
                 {"123456789", 0x23456789}}; // a ninth digit shifts the first out
    for (const auto& c : cases)
        EXPECT_EQ(HexToInt(c.text), c.value) << c.text;
}

TEST(FindFrom, OneBasedPositions) {
    const struct {
        const char* needle;
        const char* text;
        int start, result;
    } cases[] = {{",", "a,b,c", 1, 2}, {",", "a,b,c", 3, 4}, {",", "a,b,c", 5, 0},
                 {",", "abc", 1, 0},   {"b", "abc", 0, 2},   {",", "a,", 3, 0},
                 {",", "a,", 99, 0},   {"=", "=x", 1, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(FindFrom(c.needle, c.text, c.start), c.result) << c.text << " from " << c.start;
}

TEST(StrToInt, DecimalOnlyAndConversionErrors) {
    EXPECT_EQ(StrToInt("64"), 64);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    for (const char* bad :
         {"", "-", "6 4", "0x10", "12a", "2147483648", " 1", "99999999999999999999"})
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}

TEST(ProfileText, ReadsAsTheSystemReaderDoes) {
    ProfileText p(" [Version] \r\n Major Ver = 7 \r\nquoted=\"a b\"\n[version]\nmajor ver=99\n"
                  "[file list]\n a.dll = 64 ,0A1B2C3D \nnoequals\n\n;c=1\nEnd=OK\n");
    EXPECT_EQ(p.String("VERSION", "major ver"), "7"); // first section of a name counts
    EXPECT_EQ(p.String("version", "quoted"), "a b");
    EXPECT_EQ(p.String("version", "missing"), "");
    EXPECT_EQ(p.String("nosection", "x"), "");
    const std::vector<std::string> lines = p.Section("File List");
    const std::vector<std::string> expected = {"a.dll=64 ,0A1B2C3D", "noequals", "End=OK"};
    EXPECT_EQ(lines, expected);
}

TEST_F(UpdateInfoTest, FileLinesAcceptedAndSkipped) {
    const struct {
        const char* line;
        bool accepted;
        int32_t size;
        uint32_t crc;
    } cases[] = {
        {"a.dll=64,0A1B2C3D", true, 64, 0x0A1B2C3D},
        {"a.dll= 64 ,00000000", true, 64, 0},
        {"a.dll=64,0A1B2C3G", true, 64, 0x0A1B2C30},
        {"a.dll=64,0A1B2C3", false, 0, 0},   // seven digits
        {"a.dll=64,0A1B2C3D4", false, 0, 0}, // nine digits
        {"a.dll 64 0A1B2C3D", false, 0, 0},  // no "="
        {"a.dll=64 0A1B2C3D", false, 0, 0},  // no ","
        {"=64,0A1B2C3D", false, 0, 0},       // no name at all
        {"a..b.dll=3,00000002", true, 3, 2}, // dots inside a name are fine
    };
    for (const auto& c : cases) {
        TUpdateInfo info = Read(std::string(c.line) + "\nEnd=OK\n");
        ASSERT_EQ(info.Valid, c.accepted) << c.line;
        ASSERT_EQ(info.FileCount, c.accepted ? 1 : 0) << c.line;
        if (!c.accepted)
            continue;
        const std::string line = c.line;
        EXPECT_EQ(std::string(info.Files[0].Name), line.substr(0, line.find('='))) << c.line;
        EXPECT_EQ(info.Files[0].Size, c.size) << c.line;
        EXPECT_EQ(info.Files[0].Crc, c.crc) << c.line;
    }
}

TEST_F(UpdateInfoTest, NameLengthLimit) {
    const std::string name63(63, 'n'), name64(64, 'n');
    TUpdateInfo ok = Read(name63 + "=1,00000001\nEnd=OK\n");
    ASSERT_TRUE(ok.Valid);
    EXPECT_EQ(std::string(ok.Files[0].Name), name63);
    EXPECT_FALSE(Read(name64 + "=1,00000001\nEnd=OK\n").Valid);
}

TEST_F(UpdateInfoTest, ValidityNeedsVersionClosingLineAndAFile) {
    EXPECT_FALSE(Read("a.dll=64,0A1B2C3D\nEnd=ok\n").Valid);
    EXPECT_FALSE(Read("End=OK\na.dll=64,0A1B2C3D\n").Valid);
    EXPECT_FALSE(Read("a.dll=64,0A1B2C3D\n").Valid);

    TUpdateInfo good = Read("a.dll=64,0A1B2C3D\nb.dll=1,00000001\nEnd=OK\nc.dll=1,00000001\n");
    ASSERT_TRUE(good.Valid);
    EXPECT_EQ(good.FileCount, 2); // lines after the closing line are not read
    EXPECT_EQ(good.MajorVer, 1);
    EXPECT_EQ(good.MinorVer, 2);
    EXPECT_EQ(good.BuildNum, 3);
    EXPECT_EQ(good.BaseUrl, "http://h/u/");
    EXPECT_EQ(good.InfoFile, "d.ini");

    const char* versions[] = {"[version]\nminor Ver=2\nbuild num=3\n",
                              "[version]\nmajor Ver=1\nminor Ver=\nbuild num=3\n",
                              "[version]\nmajor Ver=1\nminor Ver=2\n"};
    for (const char* v : versions) {
        files.Put("v.ini", std::string(v) + "[file list]\na.dll=64,0A1B2C3D\nEnd=OK\n");
        EXPECT_FALSE(TUpdateInfo("v.ini", "u").Valid) << v;
    }
    EXPECT_FALSE(TUpdateInfo("absent.ini", "u").Valid);
}

TEST_F(UpdateInfoTest, VersionValuesKeepSixteenBits) {
    files.Put("v.ini", "[version]\nmajor Ver=65537\nminor Ver=0\nbuild num=65535\n"
                       "[file list]\na=1,00000000\nEnd=OK\n");
    TUpdateInfo info("v.ini", "u");
    EXPECT_EQ(info.MajorVer, 1);
    EXPECT_EQ(info.BuildNum, 65535);
}

TEST_F(UpdateInfoTest, NonNumericValuesRaiseConversionError) {
    files.Put("v.ini", "[version]\nmajor Ver=one\nminor Ver=2\nbuild num=3\n"
                       "[file list]\na=1,00000000\nEnd=OK\n");
    EXPECT_THROW(TUpdateInfo("v.ini", "u"), EConvertError);
    EXPECT_THROW(Read("a.dll=sixty,0A1B2C3D\nEnd=OK\n"), EConvertError);
}

TEST_F(UpdateInfoTest, MoreThanThirtyFilesNeverOverflowTheTable) {
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += "f" + std::to_string(i) + "=1,00000001\n";
    TUpdateInfo over = Read(list + "End=OK\n");
    EXPECT_FALSE(over.Valid); // refused whole rather than installed in part
    EXPECT_EQ(over.FileCount, 30);
    EXPECT_STREQ(over.Files[29].Name, "f29");

    std::string thirty;
    for (int i = 0; i < 30; ++i)
        thirty += "f" + std::to_string(i) + "=1,00000001\n";
    TUpdateInfo full = Read(thirty + "bad line\nEnd=OK\n");
    EXPECT_TRUE(full.Valid);
    EXPECT_EQ(full.FileCount, 30);
}

TEST(UpdateNameRule, PlainFileNamesOfTheProgramFolderOnly) {
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"a.dll", true},
        {"Ostrel.dll", true},
        {"a..b.dll", true},
        {".profile", true},
        {"KELSupplicant.ini", true},
        {"com10.dll", true},
        {"console.txt", true},
        {"nul_device.txt", true},
        {"temp.txt", true},
        {"a b.dll", true},
        {std::string(63, 'n'), true},
        {"\xc8\xcf\xd6\xa4.txt", true}, // code page 936 text
        {"", false},
        {std::string(64, 'n'), false},
        // leaves the folder or names another one
        {"..\\evil.dll", false},
        {"../evil.dll", false},
        {"..", false},
        {".", false},
        {"sub\\a.dll", false},
        {"sub/a.dll", false},
        {"\\evil.dll", false},
        {"/evil.dll", false},
        {"\\\\server\\share\\evil.dll", false},
        {"C:\\evil.dll", false},
        {"C:evil.dll", false},
        {"a.dll:evil", false},
        {"a.dll::$DATA", false},
        // names the system stores under another name
        {"a.dll.", false},
        {"a.dll ", false},
        {"a.dll. . ", false},
        {"a.dll\t", false},
        {std::string("..\0x", 4), false},
        {std::string("a.dll\0.txt", 10), false},
        {"a\x01.dll", false},
        {"a\x1f.dll", false},
        {"a*.dll", false},
        {"a?.dll", false},
        {"a<b", false},
        {"a>b", false},
        {"a|b", false},
        {"a\"b", false},
        // devices, with or without an extension
        {"CON", false},
        {"con", false},
        {"nul.txt", false},
        {"NUL .txt", false},
        {"prn", false},
        {"AUX.dll", false},
        {"com1", false},
        {"COM9.log", false},
        {"lpt1", false},
        {"LPT0.x", false},
        {"conin$", false},
        {"CONOUT$.txt", false},
        // the update's own files
        {"temp", false},
        {"TEMP", false},
        {"updateFileInfo.ini", false},
        {"UPDATEFILEINFO.SIG", false},
        {"updateFileInfoTmp.ini", false},
        {"updatefileinfotmp.sig", false},
        {"updateRelease.dat", false},
        {"updateRelease.tmp", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeUpdateName(c.name), c.safe) << c.name;
}

TEST_F(UpdateInfoTest, OneHostileNameRefusesTheWholeFolder) {
    for (const char* name : {"..\\evil.dll", "C:\\evil.dll", "a.dll.", "temp", "nul", "sub\\a.dll",
                             "a.dll:s", "\\\\h\\s\\x"}) {
        TUpdateInfo info = Read("a.dll=1,00000001\n" + std::string(name) +
                                "=1,00000001\nb.dll=1,00000001\nEnd=OK\n");
        EXPECT_FALSE(info.Valid) << name;
        EXPECT_TRUE(info.RefusedName) << name;
        for (int i = 0; i < info.FileCount; ++i)
            EXPECT_TRUE(IsSafeUpdateName(info.Files[i].Name));
    }
    // A name listed twice (letter case does not matter) as well.
    TUpdateInfo twice = Read("a.dll=1,00000001\nA.DLL=2,00000002\nb=3,00000003\nEnd=OK\n");
    EXPECT_FALSE(twice.Valid);
    EXPECT_TRUE(twice.RefusedName);
}

TEST_F(UpdateInfoTest, ANameWithAZeroByteIsCheckedWholeInTheSignedReader) {
    // The in-memory reader keeps a zero byte inside a name: the check sees all of
    // it, so "..\0x" is never stored as "..".
    const std::string text = std::string("[version]\nmajor Ver=1\nminor Ver=2\nbuild num=3\n"
                                         "[file list]\n..") +
                             '\0' + "x=1,00000001\nEnd=OK\n";
    ASSERT_NE(text.find('\0'), std::string::npos);
    TUpdateInfo info("x", text, "http://h/");
    EXPECT_FALSE(info.Valid);
    EXPECT_EQ(info.FileCount, 0);
}

TEST(ReleaseSequence, DecimalFromOneToTheLargest32BitValue) {
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {{"1", true, 1},
                 {"17", true, 17},
                 {"4294967295", true, 4294967295u},
                 {"0007", true, 7},
                 {"0", false, 0},
                 {"4294967296", false, 0},
                 {"99999999999", false, 0},
                 {"", false, 0},
                 {"-1", false, 0},
                 {"+3", false, 0},
                 {"1 2", false, 0},
                 {"0x10", false, 0}};
    for (const auto& c : cases) {
        uint32_t value = 0;
        EXPECT_EQ(ParseReleaseSequence(c.text, value), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST_F(UpdateInfoTest, ReleaseSection) {
    TUpdateInfo with = Read("a=1,00000001\nEnd=OK\n", "[release]\nsequence = 42\n");
    EXPECT_TRUE(with.Valid);
    EXPECT_TRUE(with.HasReleaseSequence);
    EXPECT_EQ(with.ReleaseSequence, 42u);
    TUpdateInfo without = Read("a=1,00000001\nEnd=OK\n");
    EXPECT_TRUE(without.Valid); // a library without a key needs none
    EXPECT_FALSE(without.HasReleaseSequence);
    EXPECT_FALSE(Read("a=1,00000001\nEnd=OK\n", "[release]\nsequence=x\n").HasReleaseSequence);
}

TEST_F(UpdateInfoTest, GetFileBounds) {
    TUpdateInfo info = Read("a=1,00000001\nb=2,00000002\nEnd=OK\n");
    EXPECT_EQ(info.GetFile(-1), nullptr);
    EXPECT_EQ(info.GetFile(2), nullptr);
    ASSERT_NE(info.GetFile(1), nullptr);
    EXPECT_EQ(info.GetFile(1)->Size, 2);
}

TEST_F(UpdateInfoTest, HashSectionLines) {
    const std::string good(64, 'a');
    TUpdateInfo info = Read("a=1,00000001\nb=1,00000001\nc=1,00000001\nd=1,00000001\nEnd=OK\n",
                            "[file hashes]\nA = " + good + "\nb=" + std::string(63, 'a') +
                                "\nc=" + std::string(63, 'a') + "g\n");
    ASSERT_EQ(info.FileCount, 4);
    Sha256Digest digest{};
    ASSERT_TRUE(info.GetFileHash(0, digest)); // names match without regard to case
    EXPECT_EQ(digest[0], 0xAA);
    EXPECT_EQ(digest[31], 0xAA);
    EXPECT_FALSE(info.GetFileHash(1, digest)); // 63 digits
    EXPECT_FALSE(info.GetFileHash(2, digest)); // not hexadecimal
    EXPECT_FALSE(info.GetFileHash(3, digest)); // no line
    EXPECT_FALSE(info.GetFileHash(4, digest));
    EXPECT_FALSE(info.GetFileHash(-1, digest));
}

TEST_F(UpdateInfoTest, DescriptionFromMemoryReadsTheSameWay) {
    TUpdateInfo info("x.ini",
                     "[version]\r\nmajor Ver=1\r\nminor Ver=2\r\nbuild num=3\r\n[file list]\r\n"
                     "a.dll=64,0A1B2C3D\r\nEnd=OK\r\n",
                     "http://h/");
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.Files[0].Crc, 0x0A1B2C3Du);
    EXPECT_FALSE(files.Has("x.ini")); // nothing was read from or written to disk
}

TEST_F(UpdateInfoTest, GetFileInfoFillsSizeNameAndChecksum) {
    files.MakeFolder("temp");
    files.Put("temp\\a.dll", "123456789");
    UpdateFileEntry entry{};
    entry.Crc = 7;
    ASSERT_TRUE(GetFileInfo("temp\\a.dll", entry, false));
    EXPECT_STREQ(entry.Name, "a.dll");
    EXPECT_EQ(entry.Size, 9);
    EXPECT_EQ(entry.Crc, 7u); // untouched without the checksum
    ASSERT_TRUE(GetFileInfo("temp\\a.dll", entry, true));
    EXPECT_EQ(entry.Crc, 0xCBF43926u);
    EXPECT_FALSE(GetFileInfo("temp\\b.dll", entry, true));
    EXPECT_FALSE(GetFileInfo("temp", entry, true)); // a folder is no file
}

} // namespace
