// The reader that every parser of untrusted bytes goes through: a read that does
// not fit fails and leaves the cursor where it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ByteCursor.h"

namespace {

TEST(ByteCursor, ReadsInOrderAndRefusesWhatIsNotThere) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde};
    ByteCursor c(bytes, sizeof bytes);
    uint8_t b = 0;
    uint16_t w = 0;
    uint32_t d = 0;
    ASSERT_TRUE(c.ReadU8(b));
    EXPECT_EQ(b, 0x12);
    ASSERT_TRUE(c.ReadU32BigEndian(d));
    EXPECT_EQ(d, 0x3456789au);
    EXPECT_EQ(c.Remaining(), 2u);
    EXPECT_FALSE(c.ReadU32BigEndian(d)); // two bytes left: nothing taken
    EXPECT_EQ(d, 0x3456789au);
    EXPECT_EQ(c.Remaining(), 2u);
    ASSERT_TRUE(c.ReadU16BigEndian(w));
    EXPECT_EQ(w, 0xbcde);
    EXPECT_FALSE(c.ReadU8(b));
    EXPECT_FALSE(c.ReadU16BigEndian(w));
    EXPECT_TRUE(c.Skip(0));
    EXPECT_EQ(c.Remaining(), 0u);
}

// Lengths that would wrap an offset sum are refused like any other overrun.
TEST(ByteCursor, HugeLengthsDoNotWrap) {
    const uint8_t bytes[] = {1, 2, 3, 4};
    const size_t lengths[] = {5, SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 3};
    for (size_t n : lengths) {
        ByteCursor c(bytes, sizeof bytes);
        ASSERT_TRUE(c.Skip(1));
        const uint8_t* out = nullptr;
        EXPECT_FALSE(c.Skip(n)) << n;
        EXPECT_FALSE(c.ReadBytes(n, out)) << n;
        ByteCursor inner(nullptr, 0);
        EXPECT_FALSE(c.ReadCursor(n, inner)) << n;
        EXPECT_EQ(c.Remaining(), 3u) << n;
        EXPECT_EQ(c.Data(), bytes + 1) << n;
    }
}

TEST(ByteCursor, AnInnerCursorSeesOnlyItsBytes) {
    const uint8_t bytes[] = {2, 0xAA, 0xBB, 0xCC};
    ByteCursor c(bytes, sizeof bytes);
    uint8_t n = 0;
    ASSERT_TRUE(c.ReadU8(n));
    ByteCursor item(nullptr, 0);
    ASSERT_TRUE(c.ReadCursor(n, item));
    uint16_t w = 0;
    ASSERT_TRUE(item.ReadU16BigEndian(w));
    EXPECT_EQ(w, 0xAABB);
    EXPECT_FALSE(item.Skip(1)); // 0xCC belongs to the outer cursor
    EXPECT_EQ(c.Remaining(), 1u);
}

TEST(ByteCursor, SwapBytes16) {
    const struct {
        uint16_t in, out;
    } cases[] = {{0x0043, 0x4300}, {0x4300, 0x0043}, {0x1234, 0x3412}, {0xffff, 0xffff}, {0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(SwapBytes16(c.in), c.out) << c.in;
}

} // namespace
