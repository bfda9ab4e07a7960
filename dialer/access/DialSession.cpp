#include "DialSession.h"

#include "catalogue.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kErrorTextBytes = 256;
constexpr uint32_t kMaxConnections = 20;
constexpr size_t kSuffixLength = 9;

std::string ErrorString(RasService& ras, uint32_t code, bool* found = nullptr) {
    char buffer[kErrorTextBytes] = {};
    const uint32_t result = ras.GetErrorString(code, buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    if (found)
        *found = result == 0;
    return buffer;
}

} // namespace

DialSession::DialSession(RasService& ras, ConnectionLog& log, ThreadPause& pause)
    : m_ras(ras), m_log(log), m_pause(pause) {}

void DialSession::HangUp(RasHandle handle) {
    m_ras.HangUp(handle);
    m_pause.Pause(kHangUpWaitMs);
}

bool DialSession::Dial(const std::string& userName, const std::string& password,
                       std::string& refusal) {
    m_bDialing = true;
    auto params = std::make_unique<RasDialParamsRecord>();
    std::memset(params.get(), 0, sizeof *params);
    params->dwSize = sizeof(RasDialParamsRecord);
    CopyField(params->szEntryName, m_strEntryName.c_str());
    // The edit controls take any length; what does not fit the service's fields is
    // cut, and the password is cut before the suffix so the suffix always follows.
    CopyField(params->szUserName, userName.c_str());
    const size_t room = sizeof params->szPassword - 1 - kSuffixLength;
    const std::string sent =
        password.substr(0, password.size() < room ? password.size() : room) + kPasswordSuffix;
    CopyField(params->szPassword, sent.c_str());

    m_hDial = 0;
    const uint32_t result = m_ras.Dial(*params, &m_hDial);
    std::memset(params->szPassword, 0, sizeof params->szPassword);
    if (result == 0)
        return true;
    refusal = ErrorString(m_ras, result);
    m_log.Write("dial refused: error " + std::to_string(result) + ": " + refusal);
    return false;
}

void DialSession::EndRefusedDial() {
    // A refused dial may still have written a handle: the service needs it hung up.
    if (m_hDial != 0)
        HangUp(m_hDial);
    m_bDialing = false;
}

DialReportOutcome DialSession::OnReport(RasHandle connection, uint32_t state, uint32_t error) {
    // The service may still report on a dial after it was hung up, also once the
    // next dial is under way: each dial is known by the handle RasDialA gave it.
    if (!m_bDialing || m_hDial == 0 || connection != m_hDial) {
        m_log.Write("report of an ended dial dropped: state " + std::to_string(state) + ", error " +
                    std::to_string(error));
        return {DialStep::Dropped, std::string()};
    }
    if (error != 0) {
        // Every failed attempt is hung up before the next one may start.
        HangUp(m_hDial);
        std::string text;
        if (error == kRasErrorNoAnswer) {
            text = StatusText(StatusKey::ServerNotResponding);
        } else {
            bool found = false;
            text = ErrorString(m_ras, error, &found);
            if (!found)
                text = ErrorText(ErrorKey::Unknown);
        }
        m_log.Write("dial error " + std::to_string(error) + " at state " + std::to_string(state) +
                    ": " + text);
        m_bDialing = false;
        return {DialStep::Failed, text};
    }
    const int row = RasStateIndex(state);
    m_log.Write("dial state " + std::to_string(state) + ": " + RasStateTable().defaults[row]);
    std::string text = GetRasStateText(row);
    if (state == kRasConnected) {
        m_bDialing = false;
        return {DialStep::Connected, text};
    }
    if (row == 0 || state == kRasDisconnected)
        return {DialStep::ControlsBack, text};
    return {DialStep::Progress, text};
}

EntryState DialSession::FindEntry(RasHandle* handle) {
    std::vector<RasConnRecord> list(kMaxConnections);
    list[0].dwSize = sizeof(RasConnRecord);
    uint32_t bytes = sizeof(RasConnRecord) * kMaxConnections, count = 0;
    if (m_ras.EnumConnections(list.data(), &bytes, &count) != 0)
        return EntryState::EnumerationFailed;
    if (count > kMaxConnections)
        count = kMaxConnections;
    for (uint32_t i = 0; i < count; ++i) {
        list[i].szEntryName[sizeof list[i].szEntryName - 1] = '\0';
        if (m_strEntryName != list[i].szEntryName)
            continue;
        *handle = list[i].hrasconn;
        return EntryState::Connected;
    }
    return EntryState::NotConnected;
}

void DialSession::HangUpEntry() {
    RasHandle handle = 0;
    if (FindEntry(&handle) != EntryState::Connected)
        return;
    HangUp(handle);
}

EntryState DialSession::IsEntryConnected() {
    RasHandle handle = 0;
    return FindEntry(&handle);
}

void DialSession::HangUpDial() {
    HangUp(m_hDial);
    m_bDialing = false;
}

void DialSession::RemoveEntry() {
    m_ras.DeleteEntry(m_strEntryName.c_str());
}
