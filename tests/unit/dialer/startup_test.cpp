// Start-up of the dialer: the title, the single-instance guard and the binding of
// the companion library, with the window system and the library faked.
#include "Pondo.h"

#include "ProductVersion.h"

#include "settings.h"

#include "ScratchDir.h"
#include "dialer/FakeAppShell.h"
#include "dialer/FakeCompanion.h"
#include "dialer/MemoryFiles.h"

#include <string>
#include <vector>

namespace {

class SingleByte : public CodePage {
  public:
    bool IsLeadByte(uint8_t) const override { return false; }
};

class Startup : public InScratchDir {
  protected:
    FakeAppShell shell;
    FakeCompanionModule module;
    FakeLibrary library;
    MemoryFiles logFiles;
    SetClock clock;
    SingleByte codePage;
    ConnectionLog log{logFiles, clock, codePage, "logs/"};
};

TEST_F(Startup, TitleIsTheDefaultWithoutTextsFile) {
    PondoApp app;
    EXPECT_EQ(app.Title(), "TALVEN PPPOE Client");
}

TEST_F(Startup, TitleComesFromTheTextsFile) {
    WriteFile(kTextsFile, "MainDlgTitle = Campus Net # our name\n");
    PondoApp app;
    EXPECT_EQ(app.Title(), "Campus Net");
    app.InitInstance(shell, module, log);
    ASSERT_FALSE(shell.calls.empty());
    EXPECT_EQ(shell.calls.front(), "mutex:Campus Net");
}

TEST_F(Startup, ReadyLibraryRunsTheDialogOnce) {
    PondoApp app;
    bool sawBinding = false;
    shell.onRunDialog = [&](MainDialogStart& start) {
        EXPECT_EQ(start.title, app.Title());
        EXPECT_EQ(start.userFile, app.UserFile());
        EXPECT_EQ(&start.log, &log);
        sawBinding = start.companion != nullptr && start.companion->IsReady();
        EXPECT_EQ(module.unloads, 0) << "the library stays loaded while the dialog runs";
    };
    EXPECT_FALSE(app.InitInstance(shell, module, log)); // never continues after start-up
    EXPECT_EQ(shell.dialogRuns, 1);
    EXPECT_TRUE(sawBinding);
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(module.loadedNames, std::vector<std::string>{"Ostrel.dll"});
    EXPECT_EQ(library.initCalls, 1);
    ASSERT_NE(library.host, nullptr);
    // Without a credentials file beside the program, the user's own is looked for
    // (this shell has no data folder, so the dialog keeps the program folder's name).
    EXPECT_EQ(shell.calls,
              (std::vector<std::string>{"mutex:TALVEN PPPOE Client", "datafolder", "dialog"}));
    EXPECT_EQ(app.UserFile(), kUserFile);
    EXPECT_EQ(app.Companion(), nullptr);
    EXPECT_EQ(module.unloads, 1);
}

TEST_F(Startup, DialogThatTakesTheBindingReleasesIt) {
    PondoApp app;
    shell.onRunDialog = [&](MainDialogStart& start) {
        auto binding = std::move(start.companion); // the dialog's close handling
        ASSERT_NE(binding, nullptr);
        binding.reset();
        EXPECT_EQ(module.unloads, 1);
    };
    app.InitInstance(shell, module, log);
    EXPECT_EQ(module.unloads, 1);
}

struct NotReadyCase {
    const char* name;
    bool loadable;
    bool exportsInitThread;
    int32_t initAnswer;
    int initCalls;
    int unloads;
    const char* problem; // as the connection log gives it
};
void PrintTo(const NotReadyCase& c, std::ostream* os) {
    *os << c.name;
}

class NotReady : public Startup, public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(NotReady, Shows202AndNoDialog) {
    const NotReadyCase& c = GetParam();
    module.loadable = c.loadable;
    module.exportsInitThread = c.exportsInitThread;
    library.initAnswer = c.initAnswer;
    PondoApp app;
    EXPECT_FALSE(app.InitInstance(shell, module, log));
    EXPECT_EQ(shell.dialogRuns, 0);
    ASSERT_EQ(shell.messages.size(), 1u);
    const FakeAppShell::Message& m = shell.messages[0];
    EXPECT_EQ(m.owner, WindowRef(0));
    EXPECT_EQ(m.text, "Client program is broken, please exit.");
    EXPECT_EQ(m.caption, "TALVEN PPPOE Client");
    EXPECT_EQ(m.kind, MessageKind::Information);
    EXPECT_EQ(library.initCalls, c.initCalls);
    EXPECT_EQ(module.unloads, c.unloads); // a loaded library is unloaded again
    EXPECT_EQ(app.Companion(), nullptr);
    const std::string& logged = logFiles.files["logs/connection.log"];
    EXPECT_NE(logged.find(std::string("  exit: the companion library cannot be used: ") +
                          c.problem + "\r\n"),
              std::string::npos)
        << logged;
}

INSTANTIATE_TEST_SUITE_P(
    Library, NotReady,
    ::testing::Values(
        NotReadyCase{"Missing", false, true, kLibraryReady, 0, 0, "Ostrel.dll could not be loaded"},
        NotReadyCase{"NoInitThread", true, false, kLibraryReady, 0, 1,
                     "Ostrel.dll has no initThread"},
        NotReadyCase{"Refuses", true, true, kLibraryRefuses, 1, 1, "initThread answered 65535"},
        NotReadyCase{"AnswersOne", true, true, 1, 1, 1, "initThread answered 1"}),
    [](const ::testing::TestParamInfo<NotReadyCase>& info) { return info.param.name; });

TEST_F(Startup, NotReadyTextsAndCaptionFollowTheFile) {
    WriteFile(kTextsFile, "MainDlgTitle = Campus Net\n202 = Reinstall please\n");
    module.loadable = false;
    PondoApp app;
    app.InitInstance(shell, module, log);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, "Reinstall please");
    EXPECT_EQ(shell.messages[0].caption, "Campus Net");
}

TEST_F(Startup, SecondInstanceWithFirstWindow) {
    shell.mutexExists = true;
    shell.windows["TALVEN PPPOE Client"] = 0x1234;
    PondoApp app;
    EXPECT_FALSE(app.InitInstance(shell, module, log));
    EXPECT_EQ(shell.calls,
              (std::vector<std::string>{"mutex:TALVEN PPPOE Client", "find:TALVEN PPPOE Client",
                                        "raise:4660", "message"}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].owner, WindowRef(0x1234));
    EXPECT_EQ(shell.messages[0].text, "Client is running !");
    EXPECT_EQ(shell.messages[0].caption, "TALVEN PPPOE Client");
    EXPECT_EQ(shell.messages[0].kind, MessageKind::Information);
    EXPECT_TRUE(module.loadedNames.empty()) << "a second instance does not load the library";
    EXPECT_EQ(library.initCalls, 0);
    EXPECT_EQ(shell.dialogRuns, 0);
}

TEST_F(Startup, SecondInstanceWithoutWindowUsesProgramName) {
    shell.mutexExists = true;
    shell.windows["Some other window"] = 0x99;
    shell.programName = "Pondo";
    WriteFile(kTextsFile, "201 = Already here\n");
    PondoApp app;
    app.InitInstance(shell, module, log);
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"mutex:TALVEN PPPOE Client",
                                                     "find:TALVEN PPPOE Client", "message"}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].owner, WindowRef(0));
    EXPECT_EQ(shell.messages[0].text, "Already here");
    EXPECT_EQ(shell.messages[0].caption, "Pondo");
    EXPECT_EQ(shell.messages[0].kind, MessageKind::Plain);
    EXPECT_TRUE(module.loadedNames.empty());
    EXPECT_EQ(shell.dialogRuns, 0);
}

// Start-up and each way it ends are in the connection log.
TEST_F(Startup, StartAndEndAreLogged) {
    for (bool second : {false, true}) {
        SCOPED_TRACE(second ? "second copy" : "first copy");
        logFiles.files.clear();
        shell.mutexExists = second;
        PondoApp app;
        app.InitInstance(shell, module, log);
        EXPECT_EQ(logFiles.files["logs/connection.log"],
                  std::string("2026-03-14 09:12:33.250  start-up: Pondo " PONDO_VERSION_TEXT
                              ", title "
                              "\"TALVEN PPPOE Client\"\r\n"
                              "2026-03-14 09:12:33.250  ") +
                      (second ? "exit: another copy with this title is running" : "exit") + "\r\n");
    }
}

TEST_F(Startup, SecondInstanceLooksForItsOwnTitle) {
    WriteFile(kTextsFile, "MainDlgTitle = Campus Net\n");
    shell.mutexExists = true;
    shell.windows["TALVEN PPPOE Client"] = 0x1; // a copy with another title
    shell.windows["Campus Net"] = 0x2;
    PondoApp app;
    app.InitInstance(shell, module, log);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].owner, WindowRef(0x2));
    EXPECT_EQ(shell.messages[0].caption, "Campus Net");
}

} // namespace
