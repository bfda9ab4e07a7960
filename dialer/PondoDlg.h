// The main dialog's logic: fields, the connection workflow and its state, the
// link watch (timer 11) and findings check (timer 12), the tray icon choice and
// the close handling. The Win32 window only routes its messages here.
#pragma once

#include "CompanionBinding.h"
#include "ConnectionLog.h"
#include "DialSession.h"
#include "DialogWindow.h"
#include "RasCheck.h"
#include "settings.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr unsigned kWelcomePauseMs = 300;

// The platform services behind the dialog's logic.
struct DialerPorts {
    DialogWindow& window;
    RasService& ras;
    CaptureAdapterNames& capture;
    AdapterRegistry& registry;
    IpAdapterTable& ipTable;
    ConnectionLog& log;
};

class PondoDlg : public AdapterMacSource {
  public:
    // `companion` is the application's binding; the dialog releases it at close.
    // `userFile` is the user settings file that holds the credentials.
    PondoDlg(const DialerPorts& ports, const std::string& title,
             std::unique_ptr<CompanionBinding> companion, const std::string& userFile = kUserFile);
    ~PondoDlg() override;
    PondoDlg(const PondoDlg&) = delete;
    PondoDlg& operator=(const PondoDlg&) = delete;

    // Message handlers (all on the window's thread).
    void OnInitDialog();
    void OnConnect();
    void OnExit();
    void OnClose();
    void OnTimer(unsigned id);
    // Answers whether the command was handled (the about item).
    bool OnSysCommand(unsigned command);
    int OnTrayNotify(unsigned iconId, unsigned mouseMessage);
    void OnAdapterSelChange(int index);
    // A dial progress report of the remote-access service, delivered on the
    // window's thread, for the dial whose connection handle is `connection`. Only
    // reports of the dial under way count: those of a dial that was hung up, failed
    // or came up are dropped, whenever they arrive.
    void OnDialNotification(RasHandle connection, uint32_t state, uint32_t error);
    // Return and Escape never reach the dialog's controls.
    static bool IsSwallowedKey(unsigned virtualKey) { return virtualKey == 27 || virtualKey == 13; }
    // Close handling's clean-up (icon, adapter list, library, entry); runs once,
    // whichever way the dialog ends.
    void Finish();
    // The dialog's window is going without the dialog's own exit (its message loop
    // ended): a dial or connection of the dialog is hung up, then the clean-up runs,
    // while the window still exists.
    void OnEnding();

    // Steps of the connection workflow; the dial itself is the session's.
    void SetControlsIdle(bool idle);
    void OnLinkUp();
    void TearDownConnection();
    // Writes the phonebook entry for the chosen adapter, then dials it.
    bool StartDial();
    void HangUpEntry() { m_dial.HangUpEntry(); }
    EntryState IsEntryConnected() { return m_dial.IsEntryConnected(); }
    void HangUpDial() { m_dial.HangUpDial(); }
    void RemoveEntry() { m_dial.RemoveEntry(); }

    void GetSelectedMac(uint8_t mac[6]) override;

    bool IsDialing() const { return m_dial.IsDialing(); }
    bool IsConnected() const { return m_bConnected; }
    bool IsDisconnecting() const { return m_bDisconnecting; }
    CRasCheck* Adapters() const { return m_pAdapters.get(); }
    const std::string& ButtonCaption() const { return m_strConnectCaption; }

  private:
    void UpdateData(bool saveAndValidate);
    void SetStatus(const std::string& text);
    void SetCaptionFromKey(const char* key);
    void EndWith(int result);
    void LogConnect();
    // The close handling; `how` the user ended the dialog, for the log.
    void Close(const char* how);

    DialogWindow& m_wnd;
    DialerPorts m_ports;
    ConnectionLog& m_log;

    DialSession m_dial;
    bool m_bConnected = false;
    bool m_bDisconnecting = false;
    unsigned m_nLinkWatchTimer = 0;
    unsigned m_nFindingsTimer = 0;
    std::unique_ptr<CRasCheck> m_pAdapters;
    std::string m_strUserName;
    std::string m_strPassword;
    int m_iSavePassword = 0;
    std::string m_strTitle;
    std::string m_strUserFile;
    // Built-in texts from the catalogue, replaced from the texts file.
    std::string m_strUserNameLabel;
    std::string m_strPasswordLabel;
    std::string m_strAdapterLabel;
    std::string m_strConnectCaption;
    std::string m_strExitCaption;
    std::string m_strSavePwCaption;

    std::unique_ptr<CompanionBinding> m_pCompanion;
    bool m_bFinished = false;
};
