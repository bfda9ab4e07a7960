// The application object: the window title and start-up (single instance,
// companion library, main dialog).
#pragma once

#include "AppShell.h"
#include "CompanionBinding.h"
#include "ConnectionLog.h"
#include "settings.h"

#include <memory>
#include <string>

class PondoApp {
  public:
    // The title: the catalogue's default, replaced by "MainDlgTitle" of the interface
    // texts file.
    PondoApp();

    // Runs start-up to its end: second instance ("201"), companion not ready
    // ("202"), or the main dialog ran and closed. Always answers false (the
    // application does not continue after start-up).
    // Each way start-up ends is written to `log`, which the main dialog then uses.
    bool InitInstance(AppShell& shell, CompanionModule& module, ConnectionLog& log);

    const std::string& Title() const { return m_strTitle; }
    // The user settings file the main dialog reads and writes (found at start-up).
    const std::string& UserFile() const { return m_strUserFile; }
    // The binding until the main dialog is started with it; null after start-up.
    CompanionBinding* Companion() const { return m_pCompanion.get(); }

  private:
    std::string m_strTitle;
    std::string m_strUserFile = kUserFile;
    std::unique_ptr<CompanionBinding> m_pCompanion;
};
