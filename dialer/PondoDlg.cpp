#include "PondoDlg.h"

#include "catalogue.h"
#include "credentials.h"
#include "settings.h"

#include <cstring>

namespace {
constexpr unsigned kSysCommandMask = 0xFFF0;
}

PondoDlg::PondoDlg(const DialerPorts& ports, const std::string& title,
                   std::unique_ptr<CompanionBinding> companion, const std::string& userFile)
    : m_wnd(ports.window), m_ports(ports), m_log(ports.log),
      m_dial(ports.ras, ports.log, ports.window), m_strTitle(title), m_strUserFile(userFile),
      m_strUserNameLabel(DefaultText("Username")), m_strPasswordLabel(DefaultText("Password")),
      m_strAdapterLabel(DefaultText("Adapters")), m_strConnectCaption(DefaultText("Connect")),
      m_strExitCaption(DefaultText("Exit")), m_strSavePwCaption(DefaultText("SavePw")),
      m_pCompanion(std::move(companion)) {
    GetSettingText("Username", kTextsFile, m_strUserNameLabel);
    GetSettingText("Password", kTextsFile, m_strPasswordLabel);
    GetSettingText("Adapters", kTextsFile, m_strAdapterLabel);
    GetSettingText("Connect", kTextsFile, m_strConnectCaption);
    GetSettingText("Exit", kTextsFile, m_strExitCaption);
    GetSettingText("SavePw", kTextsFile, m_strSavePwCaption);
}

PondoDlg::~PondoDlg() {
    CompanionBinding::SetMacSource(nullptr);
}

void PondoDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strUserName = m_wnd.GetItemText(IDC_USERNAME);
        m_strPassword = m_wnd.GetItemText(IDC_PASSWORD);
        m_iSavePassword = m_wnd.GetCheck(IDC_SAVEPW) ? 1 : 0;
        return;
    }
    m_wnd.SetItemText(IDC_USERNAME, m_strUserName);
    m_wnd.SetItemText(IDC_PASSWORD, m_strPassword);
    m_wnd.SetCheck(IDC_SAVEPW, m_iSavePassword != 0);
    m_wnd.SetItemText(IDC_USERNAME_LABEL, m_strUserNameLabel);
    m_wnd.SetItemText(IDC_PASSWORD_LABEL, m_strPasswordLabel);
    m_wnd.SetItemText(IDC_ADAPTER_FRAME, m_strAdapterLabel);
}

void PondoDlg::SetStatus(const std::string& text) {
    m_wnd.SetItemText(IDC_STATUS, text);
}

void PondoDlg::SetCaptionFromKey(const char* key) {
    GetSettingText(key, kTextsFile, m_strConnectCaption);
    m_wnd.SetItemText(IDC_CONNECT, m_strConnectCaption);
}

void PondoDlg::OnInitDialog() {
    UpdateData(false);
    if (m_wnd.HasSystemMenu()) {
        std::string about = DefaultText("AboutTitle");
        GetSettingText("AboutTitle", kTextsFile, about);
        if (!about.empty())
            m_wnd.AppendAboutItem(about);
    }
    m_wnd.SetIdleWindowIcon();
    m_wnd.SetTitle(m_strTitle);
    m_wnd.SetItemText(IDC_CONNECT, m_strConnectCaption);
    m_wnd.SetItemText(IDC_EXIT, m_strExitCaption);
    m_wnd.SetItemText(IDC_SAVEPW, m_strSavePwCaption);

    SetStatus(StatusText(StatusKey::Welcome));
    m_wnd.Pause(kWelcomePauseMs);

    Credentials stored;
    LoadCredentials(stored, m_strUserFile);
    m_strUserName = stored.userName;
    m_strPassword = stored.password;
    m_iSavePassword = stored.savePassword ? 1 : 0;
    UpdateData(false);

    m_wnd.AddTrayIcon(TrayIcon::Idle, m_strTitle);

    m_pAdapters = std::make_unique<CRasCheck>(m_ports.ras, m_ports.capture, m_ports.registry,
                                              m_ports.ipTable);
    CompanionBinding::SetMacSource(this);
    m_wnd.ComboReset(IDC_ADAPTERS);
    m_pAdapters->RefreshAdapters(
        [this](const char* description) { m_wnd.ComboAdd(IDC_ADAPTERS, description); });
    if (m_wnd.ComboCount(IDC_ADAPTERS) == 0)
        m_wnd.ComboAdd(IDC_ADAPTERS, ErrorText(ErrorKey::NoAdapter));
    m_wnd.ComboSelect(IDC_ADAPTERS, 0);
    m_log.Write("adapters: " + std::to_string(m_pAdapters->AdapterCount()) + " listed, " +
                (m_pAdapters->HasPppoeDevice()
                     ? "PPPoE device \"" + m_pAdapters->PppoeDeviceName() + "\""
                     : std::string("no PPPoE device")));
}

void PondoDlg::LogConnect() {
    std::string adapter = "none";
    if (m_pAdapters) {
        if (const AdapterItem* item = m_pAdapters->Adapter(m_pAdapters->SelectedIndex()))
            adapter = "\"" + std::string(item->szDesc) + "\" " + MacText(item->bMac) +
                      (item->bEthernet ? "" : " (not Ethernet)");
    }
    m_log.Write("connect: user " + MaskUserName(m_strUserName, m_log.Codes()) + ", adapter " +
                adapter);
}

void PondoDlg::SetControlsIdle(bool idle) {
    SetCaptionFromKey(idle ? "Connect" : "Disconnect");
    for (int id : {IDC_USERNAME, IDC_PASSWORD, IDC_SAVEPW, IDC_ADAPTERS})
        m_wnd.EnableItem(id, idle);
}

void PondoDlg::OnConnect() {
    if (m_bConnected || m_bDisconnecting || IsDialing()) {
        SetCaptionFromKey("Connect");
        if (m_bDisconnecting) {
            SetControlsIdle(true);
        } else if (IsDialing()) {
            m_log.Write("hang-up by the user: the dial is cancelled (Disconnect)");
            SetControlsIdle(true);
            HangUpDial();
        } else {
            m_log.Write("hang-up by the user (Disconnect)");
            TearDownConnection();
            SetControlsIdle(true);
        }
        return;
    }
    UpdateData(true);
    LogConnect();
    Credentials fields;
    fields.userName = m_strUserName;
    fields.password = m_strPassword;
    fields.savePassword = m_iSavePassword != 0;
    SaveCredentials(fields, m_strUserFile);
    if (StartDial()) {
        SetCaptionFromKey("Disconnect");
        SetControlsIdle(false);
    } else {
        SetCaptionFromKey("Connect");
    }
}

void PondoDlg::OnLinkUp() {
    m_log.Write("link up");
    m_bConnected = true;
    m_nLinkWatchTimer = m_wnd.SetTimer(kLinkWatchTimer, kLinkWatchPeriod);
    if (m_pCompanion)
        m_pCompanion->NotifyLink(true);
    m_nFindingsTimer = m_wnd.SetTimer(kFindingsTimer, kFindingsPeriod);
    SetStatus(StatusText(StatusKey::Connected));
    m_wnd.SetTrayIcon(TrayIcon::Connected, m_strTitle);
    m_wnd.Hide();
}

void PondoDlg::TearDownConnection() {
    m_bDisconnecting = true;
    if (m_nLinkWatchTimer > 0)
        m_wnd.KillTimer(m_nLinkWatchTimer);
    if (m_pCompanion)
        m_pCompanion->NotifyLink(false);
    if (m_nFindingsTimer > 0)
        m_wnd.KillTimer(m_nFindingsTimer);
    SetStatus(StatusText(StatusKey::Disconnecting));
    HangUpEntry();
    SetStatus(StatusText(StatusKey::Disconnected));
    m_wnd.SetTrayIcon(TrayIcon::Idle, m_strTitle);
    m_wnd.ShowAndRaise();
    SetControlsIdle(true);
    m_bConnected = false;
    m_bDisconnecting = false;
}

void PondoDlg::OnTimer(unsigned id) {
    if (id == kLinkWatchTimer) {
        if (!m_bConnected)
            return;
        if (IsEntryConnected() != EntryState::NotConnected)
            return;
        m_log.Write("link lost: the connection is no longer among the active connections");
        TearDownConnection();
        SetCaptionFromKey("Connect");
        for (int control : {IDC_USERNAME, IDC_PASSWORD, IDC_SAVEPW, IDC_ADAPTERS})
            m_wnd.EnableItem(control, true);
        return;
    }
    if (id == kFindingsTimer) {
        if (!m_bConnected || !m_pCompanion)
            return;
        std::string findings;
        if (!m_pCompanion->CollectFindings(findings))
            return;
        m_log.Write("connection ended by the companion library's finding: " +
                    m_pCompanion->DescribeFindings());
        SetCaptionFromKey("Connect");
        TearDownConnection();
        SetControlsIdle(true);
        m_wnd.ShowMessageBox(findings + StatusText(StatusKey::Disconnected), m_strTitle,
                             MessageKind::Plain);
    }
}

bool PondoDlg::OnSysCommand(unsigned command) {
    if ((command & kSysCommandMask) != kAboutCommand)
        return false;
    m_wnd.RunAboutBox();
    return true;
}

int PondoDlg::OnTrayNotify(unsigned iconId, unsigned mouseMessage) {
    if (iconId != kTrayIconId || mouseMessage != kMouseLeftButtonUp)
        return 0;
    if (m_wnd.IsVisible())
        m_wnd.Hide();
    else
        m_wnd.ShowAndRaise();
    return 0;
}

void PondoDlg::OnAdapterSelChange(int index) {
    if (m_pAdapters)
        m_pAdapters->SelectAdapter(index);
}

void PondoDlg::GetSelectedMac(uint8_t mac[6]) {
    static const uint8_t kNone[6] = {};
    std::memcpy(mac, m_pAdapters ? m_pAdapters->GetSelectedMac() : kNone, 6);
}

void PondoDlg::EndWith(int result) {
    Finish();
    m_wnd.EndDialog(result);
}

void PondoDlg::OnExit() {
    if (m_bDisconnecting) {
        EndWith(kDialogCancel);
        return;
    }
    if (IsDialing()) {
        m_log.Write("hang-up by the user: the dial is cancelled (Exit)");
        HangUpDial(); // then on as from Idle: nothing of the entry may stay up
    }
    if (!m_bConnected) {
        TearDownConnection();
        UpdateData(true);
        EndWith(kDialogOk);
        return;
    }
    Close("Exit");
}

void PondoDlg::OnClose() {
    Close("the window is closed");
}

void PondoDlg::Close(const char* how) {
    if (m_bDisconnecting || IsDialing())
        return;
    if (m_bConnected) {
        m_log.Write(std::string("hang-up by the user (") + how + ")");
        TearDownConnection();
        SetControlsIdle(true);
    }
    EndWith(kDialogCancel);
}

void PondoDlg::OnEnding() {
    if (m_bFinished)
        return;
    m_log.Write("the window ends without its own exit");
    if (IsDialing())
        HangUpDial();
    if (m_bConnected && !m_bDisconnecting)
        TearDownConnection();
    Finish();
}

void PondoDlg::Finish() {
    if (m_bFinished)
        return;
    m_bFinished = true;
    m_wnd.RemoveTrayIcon();
    CompanionBinding::SetMacSource(nullptr);
    m_pAdapters.reset();
    m_pCompanion.reset();
    RemoveEntry();
}

bool PondoDlg::StartDial() {
    std::string reason;
    if (!m_pAdapters || !m_pAdapters->CreatePppoeEntry(m_dial.EntryName().c_str(), reason)) {
        m_log.Write("connect refused: the phonebook entry was not written" +
                    (reason.empty() ? std::string(" (refused by the remote-access service)")
                                    : ": " + reason));
        m_wnd.ShowMessageBox(ErrorText(ErrorKey::EntryRefused) + "\n" + reason, m_strTitle,
                             MessageKind::Plain);
        SetControlsIdle(true);
        return false;
    }
    SetStatus(StatusText(StatusKey::Connecting));
    std::string refusal;
    if (m_dial.Dial(m_strUserName, m_strPassword, refusal)) {
        SetControlsIdle(false);
        return true;
    }
    SetStatus(refusal);
    m_dial.EndRefusedDial();
    SetControlsIdle(true);
    return false;
}

void PondoDlg::OnDialNotification(RasHandle connection, uint32_t state, uint32_t error) {
    const DialReportOutcome outcome = m_dial.OnReport(connection, state, error);
    switch (outcome.step) {
    case DialStep::Dropped:
        return;
    case DialStep::Failed:
    case DialStep::ControlsBack:
        SetControlsIdle(true);
        break;
    case DialStep::Connected:
        OnLinkUp();
        SetControlsIdle(false);
        break;
    case DialStep::Progress:
        break;
    }
    SetStatus(outcome.status);
}
