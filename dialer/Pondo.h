// The application object: the window title and start-up (single instance,
// companion library, main dialog).
#pragma once

#include "AppShell.h"
#include "CompanionBinding.h"
#include "settings.h"

#include <memory>
#include <string>

constexpr const char* kDefaultTitle = "TALVEN PPPOE Client";

class PondoApp {
public:
    // Reads the title ("MainDlgTitle") from the interface texts file.
    PondoApp();

    // Runs start-up to its end: second instance ("201"), companion not ready
    // ("202"), or the main dialog ran and closed. Always answers false (the
    // application does not continue after start-up).
    bool InitInstance(AppShell& shell, CompanionModule& module);

    const std::string& Title() const { return m_strTitle; }
    // The user settings file the main dialog reads and writes (found at start-up).
    const std::string& UserFile() const { return m_strUserFile; }
    // The binding while the main dialog runs; the dialog's close handling takes it.
    std::unique_ptr<CompanionBinding> TakeCompanion() { return std::move(m_pCompanion); }
    CompanionBinding* Companion() const { return m_pCompanion.get(); }

private:
    std::string m_strTitle;
    std::string m_strUserFile = kUserFile;
    std::unique_ptr<CompanionBinding> m_pCompanion;
};
