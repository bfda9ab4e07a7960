// The dialer's use of the remote-access service for the connection itself:
// dialing the entry, following the dial's progress, finding and hanging up the
// connection, removing the entry. Members of PondoDlg.
#include "PondoDlg.h"

#include "catalogue.h"

#include <cstring>
#include <memory>

namespace {

constexpr unsigned kMbOkOnly = 0x0;
constexpr uint32_t kErrorTextBytes = 256;
constexpr uint32_t kMaxConnections = 20;
constexpr size_t kSuffixLength = 9;

std::string ErrorString(RasService& ras, uint32_t code, bool* found = nullptr) {
    char buffer[kErrorTextBytes] = {};
    const uint32_t result = ras.GetErrorString(code, buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    if (found) *found = result == 0;
    return buffer;
}

} // namespace

bool PondoDlg::StartDial() {
    m_bDialing = true;
    std::string reason;
    if (!m_pAdapters || !m_pAdapters->CreatePppoeEntry(m_strEntryName.c_str(), reason)) {
        m_log.Write("connect refused: the phonebook entry was not written" +
                    (reason.empty() ? std::string(" (refused by the remote-access service)")
                                    : ": " + reason));
        m_wnd.ShowMessageBox(GetErrorText(5) + "\n" + reason, m_strTitle, kMbOkOnly);  // "205"
        m_bDialing = false;
        SetControlsIdle(true);
        return false;
    }
    SetStatus(GetStatusText(3));  // "303"

    auto params = std::make_unique<RasDialParamsRecord>();
    std::memset(params.get(), 0, sizeof *params);
    params->dwSize = sizeof(RasDialParamsRecord);
    CopyField(params->szEntryName, m_strEntryName.c_str());
    // The edit controls take any length; what does not fit the service's fields is
    // cut, and the password is cut before the suffix so the suffix always follows.
    CopyField(params->szUserName, m_strUserName.c_str());
    const size_t room = sizeof params->szPassword - 1 - kSuffixLength;
    const std::string password =
        m_strPassword.substr(0, m_strPassword.size() < room ? m_strPassword.size() : room) +
        kPasswordSuffix;
    CopyField(params->szPassword, password.c_str());

    m_hDial = 0;
    const uint32_t result = m_ras.Dial(*params, &m_hDial);
    std::memset(params->szPassword, 0, sizeof params->szPassword);
    if (result == 0) {
        SetControlsIdle(false);
        return true;
    }
    const std::string text = ErrorString(m_ras, result);
    m_log.Write("dial refused: error " + std::to_string(result) + ": " + text);
    SetStatus(text);
    // A refused dial may still have written a handle: the service needs it hung up.
    if (m_hDial != 0) {
        m_ras.HangUp(m_hDial);
        m_wnd.Pause(kHangUpWaitMs);
    }
    m_bDialing = false;
    SetControlsIdle(true);
    return false;
}

void PondoDlg::OnDialNotification(RasHandle connection, uint32_t state, uint32_t error) {
    // The service may still report on a dial after it was hung up, also once the
    // next dial is under way: each dial is known by the handle RasDialA gave it.
    if (!m_bDialing || m_hDial == 0 || connection != m_hDial) {
        m_log.Write("report of an ended dial dropped: state " + std::to_string(state) +
                    ", error " + std::to_string(error));
        return;
    }
    std::string text;
    if (error != 0) {
        // Every failed attempt is hung up before the next one may start.
        m_ras.HangUp(m_hDial);
        m_wnd.Pause(kHangUpWaitMs);
        if (error == kRasErrorNoAnswer) {
            text = GetStatusText(5);  // "305"
        } else {
            bool found = false;
            text = ErrorString(m_ras, error, &found);
            if (!found) text = GetErrorText(0);  // "200"
        }
        m_log.Write("dial error " + std::to_string(error) + " at state " + std::to_string(state) +
                    ": " + text);
        SetControlsIdle(true);
        m_bDialing = false;
    } else {
        text = GetRasStateText(RasStateIndex(state));
        m_log.Write("dial state " + std::to_string(state) + ": " +
                    RasStateTable().defaults[RasStateIndex(state)]);
        if (state == kRasConnected) {
            OnLinkUp();
            SetControlsIdle(false);
        } else if (RasStateIndex(state) == 0 || state == kRasDisconnected) {
            SetControlsIdle(true);
        }
    }
    SetStatus(text);
}

EntryState PondoDlg::FindEntry(RasHandle* handle) {
    std::unique_ptr<RasConnRecord[]> list(new RasConnRecord[kMaxConnections]());
    list[0].dwSize = sizeof(RasConnRecord);
    uint32_t bytes = sizeof(RasConnRecord) * kMaxConnections, count = 0;
    if (m_ras.EnumConnections(list.get(), &bytes, &count) != 0) return EntryState::EnumerationFailed;
    if (count > kMaxConnections) count = kMaxConnections;
    for (uint32_t i = 0; i < count; ++i) {
        list[i].szEntryName[sizeof list[i].szEntryName - 1] = '\0';
        if (m_strEntryName != list[i].szEntryName) continue;
        *handle = list[i].hrasconn;
        return EntryState::Connected;
    }
    return EntryState::NotConnected;
}

void PondoDlg::HangUpEntry() {
    RasHandle handle = 0;
    if (FindEntry(&handle) != EntryState::Connected) return;
    m_ras.HangUp(handle);
    m_wnd.Pause(kHangUpWaitMs);
}

EntryState PondoDlg::IsEntryConnected() {
    RasHandle handle = 0;
    return FindEntry(&handle);
}

void PondoDlg::HangUpDial() {
    m_ras.HangUp(m_hDial);
    m_wnd.Pause(kHangUpWaitMs);
    m_bDialing = false;
}

void PondoDlg::RemoveEntry() { m_ras.DeleteEntry(m_strEntryName.c_str()); }
