// The connection log: its lines, its two bounded generations, what a failing disk
// does to it (it stops, nothing else), and how a user name appears in it.
#include "ConnectionLog.h"

#include "dialer/MemoryFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

class SingleByte : public CodePage {
  public:
    bool IsLeadByte(uint8_t) const override { return false; }
};

// Lead bytes 0x81 to 0xFE, as in code page 936.
class DoubleByte : public CodePage {
  public:
    bool IsLeadByte(uint8_t byte) const override { return byte >= 0x81 && byte <= 0xFE; }
};

const std::string kCurrent = "logs/connection.log";
const std::string kPrevious = "logs/connection.previous.log";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class Log : public ::testing::Test {
  protected:
    MemoryFiles files;
    SetClock clock;
    SingleByte singleByte;
    DoubleByte doubleByte;
};

TEST_F(Log, ALineIsTheLocalTimeAndTheEvent) {
    ConnectionLog log(files, clock, singleByte, "logs/");
    log.Write("link up");
    clock.now = {2027, 1, 2, 23, 4, 5, 6};
    log.Write("dial error 691 at state 5: Access denied.\r\nsecond line");
    EXPECT_EQ(files.files[kCurrent], "2026-03-14 09:12:33.250  link up\r\n"
                                     "2027-01-02 23:04:05.006  dial error 691 at state 5: "
                                     "Access denied.  second line\r\n");
    EXPECT_EQ(log.FilePath(), kCurrent);
}

TEST_F(Log, AnOverlongEventIsCutOnAWholeCharacter) {
    ConnectionLog log(files, clock, doubleByte, "logs/");
    std::string event = "a";
    for (int i = 0; i < 400; ++i)
        event += "\xD6\xD0"; // 801 bytes
    log.Write(event);
    const std::string line = Lines(files.files[kCurrent]).at(0);
    const std::string text = line.substr(std::string("2026-03-14 09:12:33.250  ").size());
    EXPECT_EQ(text.size(),
              ConnectionLog::kMaxEventBytes - 1); // 599: the 300th character would pass
    EXPECT_EQ(text, event.substr(0, 599));
}

TEST_F(Log, TwoGenerationsOfAtMost256KiB) {
    ConnectionLog log(files, clock, singleByte, "logs/");
    const int kLines = 9000; // about 900 KiB of lines
    for (int i = 0; i < kLines; ++i)
        log.Write("dial state 5: Authenticate, line " + std::to_string(i) + std::string(60, '.'));
    ASSERT_FALSE(log.Stopped());
    EXPECT_EQ(files.files.size(), 2u) << "an older generation is dropped";
    const std::string& current = files.files[kCurrent];
    const std::string& previous = files.files[kPrevious];
    EXPECT_LE(current.size(), size_t(ConnectionLog::kMaxFileBytes));
    EXPECT_LE(previous.size(), size_t(ConnectionLog::kMaxFileBytes));
    // The previous generation was full when it was put aside.
    EXPECT_GT(previous.size(), size_t(ConnectionLog::kMaxFileBytes) - 200);
    // Together they hold the newest lines, in order, none lost between them.
    std::vector<std::string> lines = Lines(previous);
    for (const std::string& line : Lines(current))
        lines.push_back(line);
    const int first = kLines - int(lines.size());
    for (size_t k = 0; k < lines.size(); ++k)
        ASSERT_NE(lines[k].find(", line " + std::to_string(first + int(k)) + "."),
                  std::string::npos)
            << k;
}

TEST_F(Log, AFailingDiskOnlyStopsTheLog) {
    struct Case {
        const char* name;
        int64_t spaceLeft;
        bool readOnly, replaceFails;
        size_t linesBefore; // lines that went in before the failure
    } cases[] = {
        {"a folder the user may not write", INT64_MAX, true, false, 0},
        {"a disk that fills up", 200, false, false, 2},
        {"a generation that cannot be put aside", INT64_MAX, false, true, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        files = MemoryFiles{};
        files.spaceLeft = c.spaceLeft;
        files.readOnly = c.readOnly;
        files.replaceFails = c.replaceFails;
        ConnectionLog log(files, clock, singleByte, "logs/");
        for (int i = 0; i < 5000 && !log.Stopped(); ++i)
            log.Write("dial state 5: Authenticate, line " + std::to_string(i) +
                      std::string(60, '.'));
        EXPECT_TRUE(log.Stopped());
        EXPECT_GE(Lines(files.files[kCurrent]).size(), c.linesBefore);
        EXPECT_LE(files.files[kCurrent].size(), size_t(ConnectionLog::kMaxFileBytes));
        // Stopped for good: later events do not touch the disk again.
        const size_t calls = files.calls.size();
        log.Write("link up");
        EXPECT_EQ(files.calls.size(), calls);
    }
}

TEST_F(Log, WithoutAFolderThereIsNoLog) {
    ConnectionLog log(files, clock, singleByte, "");
    log.Write("start-up");
    EXPECT_TRUE(files.calls.empty());
    EXPECT_EQ(log.FilePath(), "");
}

TEST(MaskUserName, FirstAndLastCharacterOnly) {
    const SingleByte singleByte;
    const DoubleByte doubleByte;
    const std::string zhang = "\xD5\xC5", san = "\xC8\xFD", feng = "\xB7\xE1";
    struct Case {
        std::string name;
        const CodePage& codes;
        std::string shown;
    } cases[] = {
        {"alice", singleByte, "a***e"},
        {"bob", singleByte, "b***b"},
        {"ab", singleByte, "***"}, // first and last would be the whole name
        {"a", singleByte, "***"},
        {"", singleByte, "(empty)"},
        {zhang + san + feng, doubleByte, zhang + "***" + feng},
        {zhang + san, doubleByte, "***"},
        {"a" + zhang + "b", doubleByte, "a***b"},
        {"x" + zhang, doubleByte, "***"},
        // In a single-byte code page the same bytes are six characters.
        {zhang + san + feng, singleByte, "\xD5***\xE1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaskUserName(c.name, c.codes), c.shown) << c.name;
}

} // namespace
