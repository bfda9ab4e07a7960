// Port: what start-up needs of the window system and the kernel.
#pragma once

#include "CompanionBinding.h"
#include "ConnectionLog.h"
#include "MessageKind.h"

#include <cstdint>
#include <memory>
#include <string>

using WindowRef = uintptr_t; // a top-level window; 0 = none

// What start-up hands the main dialog.
struct MainDialogStart {
    std::string title;
    std::string userFile; // the user settings file that holds the credentials
    // The library's binding; the dialog's close handling releases it.
    std::unique_ptr<CompanionBinding> companion;
    ConnectionLog& log;
};

class AppShell {
  public:
    virtual ~AppShell() = default;
    // Creates the named mutex owned by this thread (never released or closed);
    // true when the system reports that it already existed.
    virtual bool CreateInstanceMutex(const std::string& name) = 0;
    // A top-level window whose title is `title`, of any class.
    virtual WindowRef FindTopWindow(const std::string& title) = 0;
    // Shows the window and brings it to the foreground.
    virtual void ShowAndRaise(WindowRef window) = 0;
    virtual void ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                             MessageKind kind) = 0;
    // The executable's file name without extension.
    virtual std::string ProgramName() = 0;
    // The dialer's folder in the user's roaming application data
    // ("%APPDATA%\Pondo"), made when missing; empty when there is none to be had.
    virtual std::string UserDataFolder() = 0;
    // The copy of `fileName` (relative to the current folder) that file
    // virtualisation kept in this user's VirtualStore for an earlier, unmanifested
    // dialer; empty when there is none.
    virtual std::string VirtualStoreCopy(const std::string& fileName) = 0;
    // Runs the main dialog modally; returns when it has closed.
    virtual void RunMainDialog(MainDialogStart& start) = 0;
};
