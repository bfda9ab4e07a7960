// Port: what the main dialog's logic needs of its window: controls by id, timers,
// the notification-area icon, message boxes, the about box and the dialog's end.
// Every call is made on the window's own thread.
#pragma once

#include "MessageKind.h"
#include "ThreadPause.h"
#include "resource.h" // the controls' ids, IDC_*, of dialog template 102

#include <string>

constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;
constexpr unsigned kAboutCommand = 16;
constexpr unsigned kLinkWatchTimer = 11;
constexpr unsigned kFindingsTimer = 12;
constexpr unsigned kLinkWatchPeriod = 3000;
constexpr unsigned kFindingsPeriod = 30000;
constexpr unsigned kTrayIconId = 100;
constexpr unsigned kTrayCallbackMessage = 0x400 + 10; // WM_USER + 10
constexpr unsigned kMouseLeftButtonUp = 0x202;

enum class TrayIcon { Idle, Connected };

class DialogWindow : public ThreadPause {
  public:
    virtual ~DialogWindow() = default;

    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual std::string GetItemText(int id) = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool GetCheck(int id) = 0;
    virtual void EnableItem(int id, bool enable) = 0;

    virtual void ComboReset(int id) = 0;
    virtual void ComboAdd(int id, const std::string& text) = 0;
    virtual int ComboCount(int id) = 0;
    virtual void ComboSelect(int id, int index) = 0;

    virtual void SetTitle(const std::string& title) = 0;
    // The idle icon as the window's large and small icon.
    virtual void SetIdleWindowIcon() = 0;
    virtual bool HasSystemMenu() = 0;
    // A separator and the about item (command 16) at the end of the system menu.
    virtual void AppendAboutItem(const std::string& text) = 0;

    // Answers the id of the timer that was set (0 when it could not be set).
    virtual unsigned SetTimer(unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(unsigned id) = 0;

    virtual void Hide() = 0;
    virtual void ShowAndRaise() = 0;
    virtual bool IsVisible() = 0;

    // The notification-area icon (id 100, callback message 1034) with `tip`.
    virtual void AddTrayIcon(TrayIcon icon, const std::string& tip) = 0;
    virtual void SetTrayIcon(TrayIcon icon, const std::string& tip) = 0;
    virtual void RemoveTrayIcon() = 0;

    // MessageBoxA owned by the dialog.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                                MessageKind kind) = 0;
    virtual void RunAboutBox() = 0;
    virtual void EndDialog(int result) = 0;
    // Pause (ThreadPause) blocks the window's thread, as the hang-up and start-up
    // waits require.
};
