// The notification-area icon's record as the shell receives it: every field, and
// the title cut to the tip's field on a whole character of the code page.
#include "TrayRecord.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

// A double-byte code page like 936: lead bytes 0x81 to 0xFE.
class DoubleByteCodePage : public CodePage {
  public:
    bool IsLeadByte(uint8_t byte) const override { return byte >= 0x81 && byte <= 0xFE; }
};

class SingleByteCodePage : public CodePage {
  public:
    bool IsLeadByte(uint8_t) const override { return false; }
};

const std::string kZhong = "\xD6\xD0"; // one character of code page 936

std::string Repeat(const std::string& piece, size_t times) {
    std::string s;
    for (size_t i = 0; i < times; ++i)
        s += piece;
    return s;
}

bool AllZero(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

TEST(TrayRecord, EveryFieldAsTheShellExpectsIt) {
    const TrayIconRecord r =
        BuildTrayRecord(0x10052, 0x2a0, "TALVEN PPPOE Client", SingleByteCodePage());
    EXPECT_EQ(r.cbSize, sizeof(TrayIconRecord));
    if (sizeof(void*) == 4)
        EXPECT_EQ(r.cbSize, 488u);
    EXPECT_EQ(r.hWnd, 0x10052u);
    EXPECT_EQ(r.uID, 100u);
    EXPECT_EQ(r.uFlags, 7u);              // NIF_MESSAGE | NIF_ICON | NIF_TIP
    EXPECT_EQ(r.uCallbackMessage, 1034u); // WM_USER + 10
    EXPECT_EQ(r.hIcon, 0x2a0u);
    EXPECT_STREQ(r.szTip, "TALVEN PPPOE Client");
    // The rest of the tip field and every balloon field stay zero.
    EXPECT_TRUE(AllZero(r.szTip + 19, sizeof r.szTip - 19));
    EXPECT_EQ(r.dwState, 0u);
    EXPECT_EQ(r.dwStateMask, 0u);
    EXPECT_TRUE(AllZero(r.szInfo, sizeof r.szInfo));
    EXPECT_EQ(r.uTimeoutOrVersion, 0u);
    EXPECT_TRUE(AllZero(r.szInfoTitle, sizeof r.szInfoTitle));
    EXPECT_EQ(r.dwInfoFlags, 0u);
}

TEST(TrayRecord, TheTipIsCutToItsFieldOnAWholeCharacter) {
    struct Case {
        const char* name;
        std::string title;
        bool doubleByte;
        std::string tip;
    } cases[] = {
        {"empty", "", false, ""},
        {"fits exactly", std::string(127, 'a'), false, std::string(127, 'a')},
        {"one byte over", std::string(128, 'a'), false, std::string(127, 'a')},
        {"far over", std::string(300, 'a'), false, std::string(127, 'a')},
        // 63 whole characters are 126 bytes; the 64th would need bytes 127 and 128.
        {"a character across the end", Repeat(kZhong, 80), true, Repeat(kZhong, 63)},
        {"a character ending at the end", "a" + Repeat(kZhong, 80), true, "a" + Repeat(kZhong, 63)},
        {"double-byte title that fits", Repeat(kZhong, 63), true, Repeat(kZhong, 63)},
        // In a single-byte code page the same bytes are 160 characters.
        {"high bytes of a single-byte page", Repeat(kZhong, 80), false,
         Repeat(kZhong, 80).substr(0, 127)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrayIconRecord r = c.doubleByte
                                     ? BuildTrayRecord(1, 2, c.title, DoubleByteCodePage())
                                     : BuildTrayRecord(1, 2, c.title, SingleByteCodePage());
        ASSERT_EQ(r.szTip[sizeof r.szTip - 1], '\0');
        EXPECT_EQ(std::string(r.szTip), c.tip);
    }
}

} // namespace
