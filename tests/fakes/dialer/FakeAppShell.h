// A scriptable, recording AppShell for start-up tests.
#pragma once

#include "AppShell.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class FakeAppShell : public AppShell {
  public:
    struct Message {
        WindowRef owner;
        std::string text;
        std::string caption;
        MessageKind kind;
    };

    // Script
    bool mutexExists = false;                 // another instance holds the mutex
    std::map<std::string, WindowRef> windows; // top-level windows by title
    std::string programName = "Pondo";
    std::function<void(MainDialogStart&)> onRunDialog; // runs "inside" the modal dialog
    std::string userDataFolder;                        // "" = the user has none
    std::string virtualStoreCopy;                      // "" = nothing virtualised

    // Record, in call order ("mutex:<name>", "find:<title>", "raise:<ref>",
    // "message", "datafolder", "virtualstore:<name>", "dialog")
    std::vector<std::string> calls;
    std::vector<Message> messages;
    int dialogRuns = 0;

    bool CreateInstanceMutex(const std::string& name) override;
    WindowRef FindTopWindow(const std::string& title) override;
    void ShowAndRaise(WindowRef window) override;
    void ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                     MessageKind kind) override;
    std::string ProgramName() override;
    std::string UserDataFolder() override;
    std::string VirtualStoreCopy(const std::string& fileName) override;
    void RunMainDialog(MainDialogStart& start) override;
};
