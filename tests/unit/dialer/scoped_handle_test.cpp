// The one owner of the dialer's system handles: each handle is closed exactly once,
// by whoever owns it last, and never one it gave up or never had.
#include "ScopedHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Handles are ints, -1 is none; every close is recorded and answered as scripted.
struct Recorded {
    using Handle = int;
    static std::vector<int>& Closed() {
        static std::vector<int> closed;
        return closed;
    }
    static bool& Succeeds() {
        static bool succeeds = true;
        return succeeds;
    }
    static Handle Invalid() { return -1; }
    static bool Close(Handle handle) {
        Closed().push_back(handle);
        return Succeeds();
    }
};
using Owned = ScopedHandle<Recorded>;

class ScopedHandleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Recorded::Closed().clear();
        Recorded::Succeeds() = true;
    }
    const std::vector<int>& closed() { return Recorded::Closed(); }
};

TEST_F(ScopedHandleTest, ClosedOnceByItsLastOwner) {
    {
        Owned first(7);
        Owned second(std::move(first));
        EXPECT_FALSE(first.IsValid());
        Owned third;
        third = std::move(second);
        EXPECT_TRUE(closed().empty()) << "a move closes nothing";
        EXPECT_EQ(third.Get(), 7);
    }
    EXPECT_EQ(closed(), std::vector<int>{7});
}

TEST_F(ScopedHandleTest, ReplacingAHandleClosesTheOldOne) {
    Owned held(1);
    held.Reset(2);
    EXPECT_EQ(closed(), std::vector<int>{1});
    Owned other(3);
    held = std::move(other);
    EXPECT_EQ(closed(), (std::vector<int>{1, 2}));
    *held.Receive() = 4; // an out-parameter fills it
    EXPECT_EQ(closed(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(held.Get(), 4);
}

TEST_F(ScopedHandleTest, NothingHeldOrGivenUpIsNeverClosed) {
    {
        Owned none;
        Owned invalid(-1);
        Owned given(5);
        EXPECT_EQ(given.Release(), 5);
        none.Reset();
        EXPECT_FALSE(none.Close()) << "closing nothing is no success";
    }
    EXPECT_TRUE(closed().empty());
}

TEST_F(ScopedHandleTest, AnExplicitCloseAnswersTheSystemAndHappensOnce) {
    for (bool succeeds : {true, false}) {
        SCOPED_TRACE(succeeds);
        SetUp();
        Recorded::Succeeds() = succeeds;
        {
            Owned file(9);
            EXPECT_EQ(file.Close(), succeeds);
            EXPECT_FALSE(file.IsValid());
        }
        EXPECT_EQ(closed(), std::vector<int>{9});
    }
}

} // namespace
