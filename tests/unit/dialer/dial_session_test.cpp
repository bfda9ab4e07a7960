// The dial session on its own: what each report of the service means for the dial
// under way, and that a dial which has ended takes no report at all.
#include "DialSession.h"
#include "dialer/FakeDialerPorts.h"
#include "dialer/MemoryFiles.h"

#include <gtest/gtest.h>

#include "ScratchDir.h"

#include <string>
#include <vector>

namespace {

class SingleByte : public CodePage {
  public:
    bool IsLeadByte(uint8_t) const override { return false; }
};

class RecordedPause : public ThreadPause {
  public:
    std::vector<unsigned> pauses;
    void Pause(unsigned ms) override { pauses.push_back(ms); }
};

class DialSessionTest : public ::testing::Test {
  protected:
    ScratchDir folder; // an empty folder: the catalogue texts are the defaults
    FakeRasService ras;
    MemoryFiles logFiles;
    SetClock clock;
    SingleByte codePage;
    ConnectionLog log{logFiles, clock, codePage, "logs/"};
    RecordedPause pause;
    DialSession session{ras, log, pause};

    void SetUp() override { ras.errorTexts[691] = "Access denied."; }
    RasHandle Start() {
        std::string refusal;
        EXPECT_TRUE(session.Dial("alice", "secret", refusal));
        return ras.connectingHandle;
    }
};

TEST_F(DialSessionTest, EachReportOfTheDialUnderWayHasItsStep) {
    struct Case {
        const char* name;
        uint32_t state, error;
        DialStep step;
        const char* status;
        bool stillDialing;
        std::vector<RasHandle> hangUps; // by the dial's handle, 0x1234
    } cases[] = {
        {"progress", 5, 0, DialStep::Progress, "Authenticate", true, {}},
        {"connected", kRasConnected, 0, DialStep::Connected, "Connected", false, {}},
        {"disconnected", kRasDisconnected, 0, DialStep::ControlsBack, "Disconnected", true, {}},
        {"outside the table", 18, 0, DialStep::ControlsBack, "Unknown RSA Message", true, {}},
        {"known error", 6, 691, DialStep::Failed, "Access denied.", false, {0x1234}},
        {"unknown error",
         6,
         720,
         DialStep::Failed,
         "Unkonwn error, please try again later.",
         false,
         {0x1234}},
        {"no answer",
         2,
         kRasErrorNoAnswer,
         DialStep::Failed,
         "Server is not respond.",
         false,
         {0x1234}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ras = FakeRasService{};
        SetUp();
        pause.pauses.clear();
        const RasHandle dial = Start();
        const DialReportOutcome outcome = session.OnReport(dial, c.state, c.error);
        EXPECT_EQ(outcome.step, c.step);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(session.IsDialing(), c.stillDialing);
        EXPECT_EQ(ras.hangUps, c.hangUps);
        EXPECT_EQ(pause.pauses, std::vector<unsigned>(c.hangUps.size(), kHangUpWaitMs));
        if (session.IsDialing())
            session.HangUpDial();
    }
}

TEST_F(DialSessionTest, ReportsOfEndedOrOtherDialsAreDroppedUntouched) {
    // Before any dial, of another handle, and once the dial was hung up, came up
    // or failed: nothing is hung up and nothing is shown.
    EXPECT_EQ(session.OnReport(0x1234, 5, 0).step, DialStep::Dropped);
    RasHandle dial = Start();
    EXPECT_EQ(session.OnReport(dial + 1, 5, 691).step, DialStep::Dropped);
    EXPECT_TRUE(session.IsDialing());
    session.HangUpDial();
    const size_t hungUp = ras.hangUps.size();
    for (uint32_t error : {0u, 691u}) {
        const DialReportOutcome late = session.OnReport(dial, kRasConnected, error);
        EXPECT_EQ(late.step, DialStep::Dropped);
        EXPECT_EQ(late.status, "");
    }
    dial = Start();
    EXPECT_EQ(session.OnReport(dial, kRasConnected, 0).step, DialStep::Connected);
    EXPECT_EQ(session.OnReport(dial, 5, 691).step, DialStep::Dropped);
    EXPECT_EQ(ras.hangUps.size(), hungUp);
    EXPECT_FALSE(session.IsDialing());
}

TEST_F(DialSessionTest, RefusedDialEndsOnlyWhenItsHandleIsHungUp) {
    ras.dialResult = 691;
    std::string refusal;
    EXPECT_FALSE(session.Dial("alice", "secret", refusal));
    EXPECT_EQ(refusal, "Access denied.");
    EXPECT_TRUE(ras.hangUps.empty()) << "the status is shown before the hang-up's wait";
    session.EndRefusedDial();
    EXPECT_EQ(ras.hangUps, std::vector<RasHandle>{0x1234});
    EXPECT_EQ(pause.pauses, std::vector<unsigned>{kHangUpWaitMs});
    EXPECT_FALSE(session.IsDialing());
}

} // namespace
