// The main dialog's workflow: the transition table, the dial notifications as the
// window's thread receives them, the hang-ups, the link watch and the findings.
#include "PondoDlg.h"
#include "credentials.h"
#include "settings.h"
#include "dialer/FakeDialerPorts.h"
#include "dialer/MemoryFiles.h"
#include "dialer/ScriptedCompanion.h"

#include <gtest/gtest.h>

#include "ScratchDir.h"

#include <algorithm>
#include <functional>

namespace {

class SingleByte : public CodePage {
  public:
    bool IsLeadByte(uint8_t) const override { return false; }
};

enum class State { Idle, Dialing, Connected, Ended };
const char* Name(State s) {
    switch (s) {
    case State::Idle:
        return "Idle";
    case State::Dialing:
        return "Dialing";
    case State::Connected:
        return "Connected";
    case State::Ended:
        return "Ended";
    }
    return "?";
}

class PondoDlgTest : public ::testing::Test {
  protected:
    ScratchDir folder; // an empty folder: the catalogue texts are the defaults
    FakeDialogWindow window;
    FakeRasService ras;
    FakeAdapterSources sources;
    ScriptedCompanion module; // before the dialog: it outlives the binding
    MemoryFiles logFiles;
    SetClock clock;
    SingleByte codePage;
    ConnectionLog log{logFiles, clock, codePage, "logs/"};
    std::unique_ptr<PondoDlg> dlg;

    void SetUp() override {
        ras.events = &window.events;
        ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
        sources.AddRegistryAdapter("{ETH}", u"Intel(R) PRO/1000");
        sources.AddRegistryAdapter("{WLAN}", u"Wireless");
        sources.names = {FakeAdapterSources::DriverName("{ETH}"),
                         FakeAdapterSources::DriverName("{WLAN}")};
        sources.AddIpRow("{ETH}", 6, {0x02, 0xFC, 0, 0, 0, 1});
        sources.AddIpRow("{WLAN}", 71, {0x02, 0xFC, 0, 0, 0, 2});
        ras.errorTexts[691] = "Access denied.";
        ras.errorTexts[633] = "The port is already in use.";
    }
    void TearDown() override { dlg.reset(); }

    void Open(const std::string& title = "TALVEN PPPOE Client",
              const std::string& userFile = kUserFile) {
        DialerPorts ports{window, ras, sources, sources, sources, log};
        dlg = std::make_unique<PondoDlg>(ports, title, std::make_unique<CompanionBinding>(module),
                                         userFile);
        dlg->OnInitDialog();
    }
    void Type(const std::string& user, const std::string& password, bool save = false) {
        window.texts[IDC_USERNAME] = user;
        window.texts[IDC_PASSWORD] = password;
        window.checks[IDC_SAVEPW] = save;
    }
    // The service reports a state of the last dial it accepted, on the window's thread.
    void Notify(uint32_t state, uint32_t error = 0) {
        dlg->OnDialNotification(ras.connectingHandle, state, error);
    }
    void Reach(State s) {
        Open();
        Type("alice", "secret");
        if (s == State::Idle)
            return;
        dlg->OnConnect();
        ASSERT_TRUE(dlg->IsDialing());
        if (s == State::Dialing)
            return;
        ras.Connect();
        Notify(kRasConnected);
        ASSERT_TRUE(dlg->IsConnected());
    }
    State Current() {
        if (window.endResult != 0)
            return State::Ended;
        if (dlg->IsConnected())
            return State::Connected;
        if (dlg->IsDialing())
            return State::Dialing;
        return State::Idle;
    }
    std::string Status() { return window.texts[IDC_STATUS]; }
};

TEST_F(PondoDlgTest, OpensWithWelcomeAndTheAdapterList) {
    Open();
    EXPECT_EQ(window.statusHistory.front(), "Welcome to use.");
    EXPECT_EQ(window.pauses, std::vector<unsigned>{300});
    EXPECT_EQ(window.combo, (std::vector<std::string>{"Intel(R) PRO/1000", "Wireless"}));
    EXPECT_EQ(window.comboSelected, 0);
    EXPECT_EQ(window.title, "TALVEN PPPOE Client");
    EXPECT_EQ(window.aboutItems, std::vector<std::string>{"About TALVEN PPPOE Client"});
    EXPECT_TRUE(window.trayAdded);
    EXPECT_EQ(window.tray, TrayIcon::Idle);
    EXPECT_EQ(window.texts[IDC_CONNECT], "Connect");
    EXPECT_EQ(window.texts[IDC_EXIT], "Exit");
    EXPECT_EQ(window.texts[IDC_SAVEPW], "Save Password");
    EXPECT_EQ(window.texts[IDC_USERNAME_LABEL], "Username");
    EXPECT_EQ(window.texts[IDC_ADAPTER_FRAME], "Please select adapter");
}

TEST_F(PondoDlgTest, NoAdapterShowsTheCatalogueTextAsOnlyEntry) {
    sources.names.clear();
    WriteFile("KELSupplicant.ini", "203=\nAboutTitle=\n");
    Open();
    EXPECT_EQ(window.combo, std::vector<std::string>{""});
    EXPECT_TRUE(window.aboutItems.empty()); // empty "AboutTitle": no about item
    Type("alice", "secret");
    dlg->OnConnect();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "Cannot create PPPOE connection.\n");
    EXPECT_EQ(Current(), State::Idle);
}

// Each row starts in a state, applies an event and checks where the dialog went
// and what it did on the way.
class TransitionTable;
struct Transition {
    const char* name;
    State from;
    std::function<void(TransitionTable&)> event;
    State to;
    std::function<void(TransitionTable&)> check;
};

class TransitionTable : public PondoDlgTest {
  public:
    using PondoDlgTest::Current;
    using PondoDlgTest::dlg;
    using PondoDlgTest::Notify;
    using PondoDlgTest::ras;
    using PondoDlgTest::Status;
    using PondoDlgTest::window;
    void Run(const Transition& t) {
        Reach(t.from);
        t.event(*this);
        EXPECT_EQ(Name(Current()), std::string(Name(t.to))) << t.name;
        if (t.check)
            t.check(*this);
    }
};

TEST_F(TransitionTable, EveryRowOfTheWorkflow) {
    using T = TransitionTable;
    const Transition rows[] = {
        {"Idle, Connect", State::Idle, [](T& t) { t.dlg->OnConnect(); }, State::Dialing,
         [](T& t) {
             EXPECT_EQ(t.Status(), "Connecting, please wait ...");
             EXPECT_TRUE(t.window.InputsDisabled());
             EXPECT_EQ(t.ras.dials.size(), 1u);
         }},
        {"Idle, Connect refused by the service", State::Idle,
         [](T& t) {
             t.ras.dialResult = 633;
             t.dlg->OnConnect();
         },
         State::Idle,
         [](T& t) {
             EXPECT_EQ(t.Status(), "The port is already in use.");
             EXPECT_TRUE(t.window.InputsEnabled());
         }},
        {"Dialing, a state", State::Dialing, [](T& t) { t.Notify(5); }, State::Dialing,
         [](T& t) { EXPECT_EQ(t.Status(), "Authenticate"); }},
        {"Dialing, Connected", State::Dialing,
         [](T& t) {
             t.ras.Connect();
             t.Notify(kRasConnected);
         },
         State::Connected,
         [](T& t) {
             EXPECT_EQ(t.Status(), "Connected");
             EXPECT_EQ(t.window.statusHistory.end()[-2], "Connection is established.");
             EXPECT_FALSE(t.window.visible);
             EXPECT_EQ(t.window.tray, TrayIcon::Connected);
             EXPECT_EQ(t.window.timers, (std::map<unsigned, unsigned>{{11, 3000}, {12, 30000}}));
             EXPECT_TRUE(t.window.InputsDisabled());
         }},
        {"Dialing, error", State::Dialing, [](T& t) { t.Notify(5, 691); }, State::Idle,
         [](T& t) {
             EXPECT_EQ(t.Status(), "Access denied.");
             EXPECT_TRUE(t.window.InputsEnabled());
         }},
        {"Dialing, Disconnected without error", State::Dialing,
         [](T& t) { t.Notify(kRasDisconnected); }, State::Dialing,
         [](T& t) {
             EXPECT_EQ(t.Status(), "Disconnected");
             EXPECT_TRUE(t.window.InputsEnabled());
         }},
        {"Dialing, Connect", State::Dialing, [](T& t) { t.dlg->OnConnect(); }, State::Idle,
         [](T& t) {
             EXPECT_EQ(t.ras.hangUps, std::vector<RasHandle>{0x1234});
             EXPECT_EQ(t.window.pauses.back(), 1000u);
             EXPECT_EQ(t.window.texts[IDC_CONNECT], "Connect");
         }},
        {"Dialing, Exit", State::Dialing, [](T& t) { t.dlg->OnExit(); }, State::Ended,
         [](T& t) {
             EXPECT_EQ(t.window.endResult, kDialogOk);
             EXPECT_EQ(t.ras.hangUps.front(), 0x1234u);
             EXPECT_EQ(t.Status(), "Connection is disconnected.");
             EXPECT_EQ(t.ras.deleted, std::vector<std::string>{"PPPOE Connection"});
         }},
        {"Dialing, close", State::Dialing, [](T& t) { t.dlg->OnClose(); }, State::Dialing,
         [](T& t) {
             EXPECT_FALSE(t.window.trayRemoved);
             EXPECT_TRUE(t.ras.deleted.empty());
         }},
        {"Connected, Connect", State::Connected, [](T& t) { t.dlg->OnConnect(); }, State::Idle,
         [](T& t) {
             EXPECT_EQ(t.ras.hangUps, std::vector<RasHandle>{0x1234});
             EXPECT_TRUE(t.window.visible);
             EXPECT_EQ(t.window.tray, TrayIcon::Idle);
             EXPECT_TRUE(t.window.timers.empty());
             EXPECT_TRUE(t.window.InputsEnabled());
             EXPECT_EQ(t.Status(), "Connection is disconnected.");
         }},
        {"Connected, link gone", State::Connected,
         [](T& t) {
             t.ras.connections.clear();
             t.dlg->OnTimer(kLinkWatchTimer);
         },
         State::Idle,
         [](T& t) {
             EXPECT_TRUE(t.window.boxes.empty());
             EXPECT_TRUE(t.window.visible);
             EXPECT_TRUE(t.window.InputsEnabled());
         }},
        {"Connected, link still listed", State::Connected,
         [](T& t) { t.dlg->OnTimer(kLinkWatchTimer); }, State::Connected, nullptr},
        {"Connected, list cannot be read", State::Connected,
         [](T& t) {
             t.ras.enumConnectionsResult = 610;
             t.dlg->OnTimer(kLinkWatchTimer);
         },
         State::Connected, nullptr},
        {"Connected, findings", State::Connected,
         [](T& t) {
             ScriptedCompanion::State().findings[13] = 1;
             t.dlg->OnTimer(kFindingsTimer);
         },
         State::Idle,
         [](T& t) {
             ASSERT_EQ(t.window.boxes.size(), 1u);
             EXPECT_EQ(t.window.boxes[0].kind, MessageKind::Plain);
             EXPECT_TRUE(t.ras.connections.empty());
         }},
        {"Connected, no findings", State::Connected, [](T& t) { t.dlg->OnTimer(kFindingsTimer); },
         State::Connected, [](T& t) { EXPECT_TRUE(t.window.boxes.empty()); }},
        {"Connected, Exit", State::Connected, [](T& t) { t.dlg->OnExit(); }, State::Ended,
         [](T& t) {
             EXPECT_EQ(t.ras.hangUps, std::vector<RasHandle>{0x1234});
             EXPECT_TRUE(t.window.trayRemoved);
             EXPECT_EQ(t.ras.deleted.size(), 1u);
         }},
        {"Connected, close", State::Connected, [](T& t) { t.dlg->OnClose(); }, State::Ended,
         [](T& t) {
             EXPECT_EQ(t.window.endResult, kDialogCancel);
             EXPECT_EQ(t.ras.hangUps, std::vector<RasHandle>{0x1234});
             EXPECT_EQ(ScriptedCompanion::State().linkStates, (std::vector<uint32_t>{1, 0}));
         }},
        {"Idle, Exit", State::Idle, [](T& t) { t.dlg->OnExit(); }, State::Ended,
         [](T& t) {
             EXPECT_EQ(t.window.endResult, kDialogOk);
             const auto& h = t.window.statusHistory;
             EXPECT_EQ(h.end()[-2], "Disconnecting, please wait ...");
             EXPECT_EQ(h.end()[-1], "Connection is disconnected.");
             EXPECT_EQ(t.ras.deleted.size(), 1u);
         }},
        {"Idle, close", State::Idle, [](T& t) { t.dlg->OnClose(); }, State::Ended,
         [](T& t) {
             EXPECT_EQ(t.window.endResult, kDialogCancel);
             EXPECT_TRUE(t.window.trayRemoved);
             EXPECT_EQ(t.ras.deleted, std::vector<std::string>{"PPPOE Connection"});
         }},
    };
    for (const Transition& row : rows) {
        SCOPED_TRACE(row.name);
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        ScriptedCompanion::State() = ScriptedCompanion::Calls{};
        Run(row);
        dlg.reset();
    }
}

TEST_F(PondoDlgTest, NotificationsAfterTheDialEndedAreDropped) {
    Reach(State::Dialing);
    dlg->OnConnect(); // the user hangs the dial up
    const size_t statuses = window.statusHistory.size();
    ras.Connect();
    Notify(kRasConnected); // already on its way when the dial was hung up
    Notify(5, 691);
    EXPECT_EQ(Current(), State::Idle);
    EXPECT_EQ(window.statusHistory.size(), statuses);
    EXPECT_TRUE(window.timers.empty());
    EXPECT_TRUE(ScriptedCompanion::State().linkStates.empty());
    EXPECT_EQ(ras.hangUps.size(), 1u);

    // Once connected, the dial is over too: a late report changes nothing.
    Reach(State::Connected);
    Notify(kRasDisconnected);
    EXPECT_EQ(Current(), State::Connected);
    EXPECT_TRUE(window.InputsDisabled());
}

// The service can still report on a dial after it was hung up or failed, also once
// the next dial is under way or up. Whatever such a report says and whenever it
// arrives, the next dial goes on untouched.
TEST_F(PondoDlgTest, ReportsOfAnEndedDialNeverReachTheNextOne) {
    struct Late {
        const char* name;
        uint32_t state, error;
    } lates[] = {
        {"a progress state", 5, 0},
        {"an error", 5, 651},
        {"no answer", 2, 678},
        {"connected", kRasConnected, 0},
        {"disconnected", kRasDisconnected, 0},
        {"a state outside the table", 18, 0},
    };
    for (bool firstHungUpByUser : {true, false}) {
        for (bool nextUp : {false, true}) {
            for (const Late& late : lates) {
                SCOPED_TRACE(std::string(late.name) +
                             (firstHungUpByUser ? ", hung up" : ", failed") +
                             (nextUp ? ", next dial up" : ", next dial under way"));
                window = FakeDialogWindow{};
                ras = FakeRasService{};
                SetUp();
                ScriptedCompanion::State() = ScriptedCompanion::Calls{};
                Reach(State::Dialing);
                const RasHandle first = ras.connectingHandle;
                if (firstHungUpByUser)
                    dlg->OnConnect();
                else
                    Notify(3, 691);
                ASSERT_EQ(Current(), State::Idle);
                dlg->OnConnect(); // the next dial
                ASSERT_EQ(Current(), State::Dialing);
                ASSERT_NE(ras.connectingHandle, first);
                Notify(3);
                if (nextUp) {
                    ras.Connect();
                    Notify(kRasConnected);
                    ASSERT_EQ(Current(), State::Connected);
                }
                const State before = Current();
                const auto statuses = window.statusHistory;
                const auto hangUps = ras.hangUps;
                const auto caption = window.texts[IDC_CONNECT];
                const bool inputs = window.InputsEnabled();
                const size_t linkStates = ScriptedCompanion::State().linkStates.size();

                dlg->OnDialNotification(first, late.state, late.error);

                EXPECT_EQ(Name(Current()), std::string(Name(before)));
                EXPECT_EQ(window.statusHistory, statuses);
                EXPECT_EQ(ras.hangUps, hangUps);
                EXPECT_EQ(window.texts[IDC_CONNECT], caption);
                EXPECT_EQ(window.InputsEnabled(), inputs);
                EXPECT_EQ(ScriptedCompanion::State().linkStates.size(), linkStates);
                if (!nextUp) { // and the next dial still comes up on its own reports
                    ras.Connect();
                    Notify(kRasConnected);
                    EXPECT_EQ(Current(), State::Connected);
                }
                dlg.reset();
            }
        }
    }
}

TEST_F(PondoDlgTest, EveryFailedDialIsHungUpWithItsWait) {
    struct Case {
        uint32_t error;
        const char* status;
    } cases[] = {
        {678, "Server is not respond."},
        {691, "Access denied."},
        {999, "Unkonwn error, please try again later."}, // no system text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        Reach(State::Dialing);
        Notify(3);
        Notify(5, c.error);
        EXPECT_EQ(ras.hangUps, std::vector<RasHandle>{0x1234});
        EXPECT_EQ(window.pauses.back(), 1000u);
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(window.texts[IDC_CONNECT], "Connect");
        EXPECT_EQ(Current(), State::Idle);
        dlg.reset();
    }
}

TEST_F(PondoDlgTest, RefusedDialIsHungUpOnlyWhenItWroteAHandle) {
    for (bool written : {true, false}) {
        SCOPED_TRACE(written);
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        ras.dialResult = 633;
        ras.writeHandle = written;
        Reach(State::Idle);
        EXPECT_FALSE(dlg->StartDial());
        EXPECT_EQ(ras.hangUps, written ? std::vector<RasHandle>{0x1234} : std::vector<RasHandle>{});
        EXPECT_EQ(Status(), "The port is already in use.");
        EXPECT_FALSE(dlg->IsDialing());
        dlg.reset();
    }
}

TEST_F(PondoDlgTest, DialParametersCarryThePasswordWithItsSuffix) {
    struct Case {
        std::string user, password, sentUser, sentPassword;
    } cases[] = {
        {"alice", "secret", "alice", "secretwop736905"},
        {"", "", "", "wop736905"},
        // Longer than the service's fields: cut, the suffix always kept whole.
        {std::string(300, 'u'), std::string(300, 'p'), std::string(256, 'u'),
         std::string(247, 'p') + "wop736905"},
    };
    for (const Case& c : cases) {
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        Open();
        Type(c.user, c.password);
        dlg->OnConnect();
        ASSERT_EQ(ras.dials.size(), 1u);
        const RasDialParamsRecord& p = ras.dials[0];
        EXPECT_EQ(p.dwSize, 1060u);
        EXPECT_STREQ(p.szEntryName, "PPPOE Connection");
        EXPECT_EQ(std::string(p.szUserName), c.sentUser);
        EXPECT_EQ(std::string(p.szPassword), c.sentPassword);
        EXPECT_STREQ(p.szPhoneNumber, "");
        EXPECT_STREQ(p.szDomain, "");
        EXPECT_EQ(p.dwSubEntry, 0u);
        dlg.reset();
    }
}

TEST_F(PondoDlgTest, StatesOutsideTheTableGiveTheControlsBackUntilConnected) {
    Reach(State::Dialing);
    Notify(18);
    EXPECT_EQ(Status(), "Unknown RSA Message");
    EXPECT_EQ(window.texts[IDC_CONNECT], "Connect");
    EXPECT_TRUE(window.InputsEnabled());
    EXPECT_EQ(Current(), State::Dialing);
    ras.Connect();
    Notify(kRasConnected);
    EXPECT_TRUE(window.InputsDisabled());
    EXPECT_EQ(Current(), State::Connected);
}

TEST_F(PondoDlgTest, StateTextsComeFromTheTextFileAtEachReport) {
    Reach(State::Dialing);
    WriteFile("KELSupplicant.ini", "400=Odd state\n406=Checking the password\n");
    Notify(18);
    EXPECT_EQ(Status(), "Odd state");
    Notify(5);
    EXPECT_EQ(Status(), "Checking the password");
}

TEST_F(PondoDlgTest, ConnectionsOfTheEntryAreFoundOnlyInAReadableList) {
    Open();
    // Made outside the dialer: hung up all the same, only the first of the name.
    ras.connections = {
        {"Other", 7}, {"PPPOE Connection", 8}, {"PPPOE Connection", 9}, {"pppoe connection", 10}};
    dlg->HangUpEntry();
    EXPECT_EQ(ras.hangUps, std::vector<RasHandle>{8});
    EXPECT_EQ(dlg->IsEntryConnected(), EntryState::Connected);

    // More than the 20 records the list holds: the service answers "too small".
    ras.connections.clear();
    for (RasHandle h = 1; h <= 21; ++h)
        ras.connections.push_back({"PPPOE Connection", h});
    ras.hangUps.clear();
    dlg->HangUpEntry();
    EXPECT_TRUE(ras.hangUps.empty());
    EXPECT_EQ(dlg->IsEntryConnected(), EntryState::EnumerationFailed);

    ras.connections = {{"Other", 7}};
    EXPECT_EQ(dlg->IsEntryConnected(), EntryState::NotConnected);
}

TEST_F(PondoDlgTest, FindingsEndTheConnectionWithOneLinePerFinding) {
    struct Case {
        std::vector<int> bytes;
        const char* text; // empty: nothing found
    } cases[] = {
        {{1}, ""}, // the adapter count alone is not reported
        {{14, 15}, "Proxy service is running, violate server's request.\n"},
        {{13, 15, 21},
         "Windows ICS service is running, violate server's request.\n"
         "Proxy service is running, violate server's request.\n"
         "BT software is running, violate server's request.\n"},
    };
    for (const Case& c : cases) {
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        ScriptedCompanion::State() = ScriptedCompanion::Calls{};
        Reach(State::Connected);
        for (int b : c.bytes)
            ScriptedCompanion::State().findings[b] = 1;
        dlg->OnTimer(kFindingsTimer);
        if (*c.text == 0) {
            EXPECT_TRUE(window.boxes.empty());
            EXPECT_EQ(Current(), State::Connected);
        } else {
            ASSERT_EQ(window.boxes.size(), 1u);
            EXPECT_EQ(window.boxes[0].text, std::string(c.text) + "Connection is disconnected.");
            EXPECT_EQ(window.boxes[0].caption, "TALVEN PPPOE Client");
            EXPECT_EQ(Current(), State::Idle);
            EXPECT_EQ(ScriptedCompanion::State().linkStates, (std::vector<uint32_t>{1, 0}));
            // Hung up before the message is shown.
            const auto& e = window.events;
            EXPECT_LT(std::find(e.begin(), e.end(), "HangUp 4660") - e.begin(),
                      std::find(e.begin(), e.end(), "MessageBox") - e.begin());
        }
        dlg.reset();
    }
}

TEST_F(PondoDlgTest, LinkUpTellsTheLibraryOnceWithTheChosenAdaptersAddress) {
    Reach(State::Connected);
    auto& calls = ScriptedCompanion::State();
    EXPECT_EQ(calls.linkStates, std::vector<uint32_t>{1});
    ASSERT_EQ(calls.macs.size(), 1u);
    EXPECT_EQ(calls.macs[0], (std::array<uint8_t, 6>{0x02, 0xFC, 0, 0, 0, 1}));
    ASSERT_EQ(calls.requests.size(), 1u);
    EXPECT_EQ(calls.requests[0], (std::vector<uint8_t>{1, 10, 21, 0, 27, 0, 28, 0, 29, 0, 32, 0}));

    // Disconnect, pick the second adapter: it is not Ethernet, so nothing is dialed.
    dlg->OnConnect();
    dlg->OnAdapterSelChange(1);
    Type("alice", "secret");
    dlg->OnConnect();
    EXPECT_EQ(window.boxes.back().text,
              "Cannot create PPPOE connection.\nPlease select ethernet adapter !");
    EXPECT_EQ(calls.linkStates, (std::vector<uint32_t>{1, 0}));
}

TEST_F(PondoDlgTest, ConnectStoresTheCredentialsAsChosen) {
    WriteFile("kelsupplicant.conf", "username=\nsavepw=on\npassword=00\n");
    Open();
    Type("bob", "pa55", true);
    dlg->OnConnect();
    Credentials saved;
    LoadCredentials(saved);
    EXPECT_EQ(saved.userName, "bob");
    EXPECT_TRUE(saved.savePassword);
    EXPECT_EQ(saved.password, "pa55");
    dlg->OnConnect(); // hang the dial up

    // With the box clear the stored password is erased, even though the dial fails.
    ras.dialResult = 633;
    Type("bob", "pa55", false);
    dlg->OnConnect();
    char savepw[100] = {}, password[100] = "unread";
    ASSERT_TRUE(ReadSettingValue("savepw", "kelsupplicant.conf", savepw, sizeof savepw));
    ASSERT_TRUE(ReadSettingValue("password", "kelsupplicant.conf", password, sizeof password));
    EXPECT_STREQ(savepw, "off");
    EXPECT_STREQ(password, "");
}

TEST_F(PondoDlgTest, CredentialsLiveInTheFileStartUpFound) {
    // A machine-wide install: the user's own file, not one beside the program.
    std::string hex;
    ASSERT_TRUE(ScramblePassword("hunter2", hex));
    WriteFile("mine.conf", "username=carol\nsavepw=on\npassword=" + hex + "\n");
    WriteFile("kelsupplicant.conf", "username=mallory\nsavepw=off\npassword=\n");
    Open("TALVEN PPPOE Client", "mine.conf");
    EXPECT_EQ(window.texts[IDC_USERNAME], "carol");
    EXPECT_EQ(window.texts[IDC_PASSWORD], "hunter2");
    Type("dave", "pa55", true);
    dlg->OnConnect();
    Credentials saved;
    LoadCredentials(saved, "mine.conf");
    EXPECT_EQ(saved.userName, "dave");
    EXPECT_EQ(saved.password, "pa55");
    EXPECT_EQ(ReadFile("kelsupplicant.conf"), "username=mallory\nsavepw=off\npassword=\n");
}

TEST_F(PondoDlgTest, RefusedEntryShowsTheServicesNumber) {
    // A standard user writing the all-users phonebook gets 5 (access denied); the
    // box names it, with the service's text when it has one.
    ras.setEntryResult = 5;
    Reach(State::Idle);
    dlg->OnConnect();
    ras.errorTexts[5] = "Access is denied.";
    dlg->OnConnect();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[0].text, "Cannot create PPPOE connection.\nError 5");
    EXPECT_EQ(window.boxes[1].text, "Cannot create PPPOE connection.\nError 5: Access is denied.");
    EXPECT_EQ(Current(), State::Idle);
    EXPECT_TRUE(ras.dials.empty());
}

TEST_F(PondoDlgTest, StoredCredentialsFillTheFieldsAtOpening) {
    std::string hex;
    ASSERT_TRUE(ScramblePassword("hunter2", hex));
    WriteFile("kelsupplicant.conf", "username=carol\nsavepw=on\npassword=" + hex + "\n");
    Open();
    EXPECT_EQ(window.texts[IDC_USERNAME], "carol");
    EXPECT_EQ(window.texts[IDC_PASSWORD], "hunter2");
    EXPECT_TRUE(window.checks[IDC_SAVEPW]);
}

TEST_F(PondoDlgTest, ButtonCaptionFollowsTheTextFileOnly) {
    // No text file: "Disconnect" has no default, so the caption stays "Connect".
    Reach(State::Connected);
    EXPECT_EQ(window.texts[IDC_CONNECT], "Connect");
    dlg->OnConnect();

    WriteFile("KELSupplicant.ini", "Disconnect=Hang up\n");
    Type("alice", "secret");
    dlg->OnConnect();
    EXPECT_EQ(window.texts[IDC_CONNECT], "Hang up");
    dlg->OnConnect(); // no "Connect" key: the last caption stays
    EXPECT_EQ(window.texts[IDC_CONNECT], "Hang up");
}

TEST_F(PondoDlgTest, TrayIconLeftClickTogglesTheWindowOthersDoNothing) {
    Reach(State::Connected);
    ASSERT_FALSE(window.visible);
    for (unsigned mouse : {0x205u /* right up */, 0x203u /* double click */, 0x200u}) {
        EXPECT_EQ(dlg->OnTrayNotify(100, mouse), 0);
        EXPECT_FALSE(window.visible);
    }
    EXPECT_EQ(dlg->OnTrayNotify(101, 0x202), 0);
    EXPECT_FALSE(window.visible);
    dlg->OnTrayNotify(100, 0x202);
    EXPECT_TRUE(window.visible);
    EXPECT_EQ(window.raised, 1);
    dlg->OnTrayNotify(100, 0x202);
    EXPECT_FALSE(window.visible);
}

TEST_F(PondoDlgTest, AboutCommandAndSwallowedKeys) {
    Open();
    EXPECT_TRUE(dlg->OnSysCommand(16));
    EXPECT_TRUE(dlg->OnSysCommand(16 | 0x3)); // low four bits masked off
    EXPECT_FALSE(dlg->OnSysCommand(0xF060));  // SC_CLOSE goes to the default handling
    EXPECT_EQ(window.aboutRuns, 2);
    EXPECT_TRUE(PondoDlg::IsSwallowedKey(13));
    EXPECT_TRUE(PondoDlg::IsSwallowedKey(27));
    EXPECT_FALSE(PondoDlg::IsSwallowedKey(9));
}

// The message loop may end without the dialog's own exit (a WM_QUIT): a dial or a
// connection of the dialog is hung up and the clean-up runs, as closing would.
TEST_F(PondoDlgTest, EndingWithoutTheDialogsOwnExitHangsUpAndCleansUp) {
    for (State from : {State::Idle, State::Dialing, State::Connected}) {
        SCOPED_TRACE(Name(from));
        window = FakeDialogWindow{};
        ras = FakeRasService{};
        SetUp();
        ScriptedCompanion::State() = ScriptedCompanion::Calls{};
        Reach(from);
        const int unloads = module.unloads;
        dlg->OnEnding();
        EXPECT_EQ(ras.hangUps,
                  from == State::Idle ? std::vector<RasHandle>{} : std::vector<RasHandle>{0x1234});
        EXPECT_TRUE(window.trayRemoved);
        EXPECT_EQ(ras.deleted, std::vector<std::string>{"PPPOE Connection"});
        EXPECT_EQ(module.unloads, unloads + 1);
        if (from == State::Connected)
            EXPECT_EQ(ScriptedCompanion::State().linkStates, (std::vector<uint32_t>{1, 0}));
        dlg->OnEnding(); // once only
        dlg->Finish();
        EXPECT_EQ(ras.deleted.size(), 1u);
        dlg.reset();
    }
}

// The events of the log, without their times.
std::vector<std::string> LogEvents(MemoryFiles& files) {
    std::vector<std::string> events;
    std::string text = files.files["logs/connection.log"];
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        events.push_back(line.substr(std::string("2026-03-14 09:12:33.250  ").size()));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return events;
}

// A subscriber's evening as the help desk reads it: connect, the link drops, a dial
// that fails, connect again, the library's finding ends it, connect, hang up. The
// password is never in the log, the user name only by its first and last character.
TEST_F(PondoDlgTest, TheLogTellsWhatHappenedToEachConnection) {
    const std::string password = "s3cr3t-pw";
    std::string scrambled;
    ASSERT_TRUE(ScramblePassword(password, scrambled));
    Open();
    Type("alice", password, true);
    dlg->OnConnect();
    Notify(0);
    Notify(5);
    ras.Connect();
    Notify(kRasConnected);
    ras.connections.clear();
    dlg->OnTimer(kLinkWatchTimer);
    dlg->OnConnect();
    const RasHandle failed = ras.connectingHandle;
    Notify(5, 691);
    dlg->OnConnect();
    dlg->OnDialNotification(failed, 5, 691); // late, of the failed dial
    ras.Connect();
    Notify(kRasConnected);
    ScriptedCompanion::State().findings[21] = 1;
    dlg->OnTimer(kFindingsTimer);
    ScriptedCompanion::State().findings[21] = 0;
    dlg->OnConnect();
    ras.Connect();
    Notify(kRasConnected);
    dlg->OnConnect();

    const std::string connect =
        "connect: user a***e, adapter \"Intel(R) PRO/1000\" 02:fc:00:00:00:01";
    EXPECT_EQ(
        LogEvents(logFiles),
        (std::vector<std::string>{
            "adapters: 2 listed, PPPoE device \"WAN Miniport (PPPOE)\"",
            connect,
            "dial state 0: OpenPort",
            "dial state 5: Authenticate",
            "dial state 8192: Connected",
            "link up",
            "link lost: the connection is no longer among the active connections",
            connect,
            "dial error 691 at state 5: Access denied.",
            connect,
            "report of an ended dial dropped: state 5, error 691",
            "dial state 8192: Connected",
            "link up",
            "connection ended by the companion library's finding: byte 21 (BitTorrent traffic)",
            connect,
            "dial state 8192: Connected",
            "link up",
            "hang-up by the user (Disconnect)",
        }));
    const std::string& log = logFiles.files["logs/connection.log"];
    EXPECT_EQ(log.find(password), std::string::npos);
    EXPECT_EQ(log.find(scrambled), std::string::npos);
    EXPECT_EQ(log.find("alice"), std::string::npos);
}

// A log that cannot be written changes nothing of the dialer.
TEST_F(PondoDlgTest, ADialerWhoseLogCannotBeWrittenWorksAllTheSame) {
    logFiles.readOnly = true;
    Reach(State::Connected);
    EXPECT_TRUE(log.Stopped());
    dlg->OnConnect();
    EXPECT_EQ(Current(), State::Idle);
    EXPECT_EQ(ras.hangUps, std::vector<RasHandle>{0x1234});
}

TEST_F(PondoDlgTest, CleanUpRunsOnceInOrder) {
    Reach(State::Connected);
    dlg->OnClose();
    dlg->Finish();
    const auto& e = window.events;
    const auto first = std::find(e.begin(), e.end(), "RemoveTrayIcon");
    ASSERT_NE(first, e.end());
    EXPECT_EQ(std::count(e.begin(), e.end(), "RemoveTrayIcon"), 1);
    EXPECT_EQ(std::count(e.begin(), e.end(), "DeleteEntry"), 1);
    EXPECT_LT(first - e.begin(), std::find(e.begin(), e.end(), "DeleteEntry") - e.begin());
    EXPECT_EQ(e.back(), "EndDialog 2");
    EXPECT_EQ(dlg->Adapters(), nullptr);
    EXPECT_EQ(module.unloads, 1);
}

} // namespace
