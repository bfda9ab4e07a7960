#pragma once

#include "AppShell.h"

class Win32AppShell : public AppShell {
  public:
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
