#include "FakeAppShell.h"

bool FakeAppShell::CreateInstanceMutex(const std::string& name) {
    calls.push_back("mutex:" + name);
    return mutexExists;
}

WindowRef FakeAppShell::FindTopWindow(const std::string& title) {
    calls.push_back("find:" + title);
    auto it = windows.find(title);
    return it == windows.end() ? 0 : it->second;
}

void FakeAppShell::ShowAndRaise(WindowRef window) {
    calls.push_back("raise:" + std::to_string(window));
}

void FakeAppShell::ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                               MessageKind kind) {
    calls.push_back("message");
    messages.push_back({owner, text, caption, kind});
}

std::string FakeAppShell::ProgramName() {
    return programName;
}

std::string FakeAppShell::UserDataFolder() {
    calls.push_back("datafolder");
    return userDataFolder;
}

std::string FakeAppShell::VirtualStoreCopy(const std::string& fileName) {
    calls.push_back("virtualstore:" + fileName);
    return virtualStoreCopy;
}

void FakeAppShell::RunMainDialog(MainDialogStart& start) {
    calls.push_back("dialog");
    ++dialogRuns;
    if (onRunDialog)
        onRunDialog(start);
}
