// The dialer's use of the remote-access service for the connection itself: one
// dial of the phonebook entry at a time, its progress reports, finding and hanging
// up the entry's connection, removing the entry. It owns the dial's handle and
// whether a dial is under way, and answers what happened; the dialog decides what
// the window shows.
#pragma once

#include "ConnectionLog.h"
#include "RasService.h"
#include "ThreadPause.h"

#include <cstdint>
#include <string>

constexpr const char* kEntryName = "PPPOE Connection";
constexpr const char* kPasswordSuffix = "wop736905";
constexpr unsigned kHangUpWaitMs = 1000;

enum class EntryState { Connected, NotConnected, EnumerationFailed };

// What a progress report meant for the dial under way.
enum class DialStep {
    Dropped,      // a report of a dial that has ended (hung up, failed or up): ignored
    Failed,       // the dial failed; it has been hung up and has ended
    Connected,    // the link is up; the dial has ended
    ControlsBack, // a state outside the table or "disconnected": the user may act again
    Progress,     // any other state of the dial
};

struct DialReportOutcome {
    DialStep step;
    std::string status; // the status line's text; empty for a dropped report
};

class DialSession {
  public:
    // Every hang-up is followed by a wait on `pause`.
    DialSession(RasService& ras, ConnectionLog& log, ThreadPause& pause);
    DialSession(const DialSession&) = delete;
    DialSession& operator=(const DialSession&) = delete;

    // Dials the entry with the user's name and password (the password cut so its
    // suffix always fits). True when the service took the dial; otherwise
    // `refusal` gets the service's text for its answer, and EndRefusedDial must
    // follow.
    bool Dial(const std::string& userName, const std::string& password, std::string& refusal);
    // Hangs up the handle that a refused dial may still have written; no dial is
    // under way any more.
    void EndRefusedDial();
    // A progress report of the service for the dial whose handle is `connection`.
    // Only reports of the dial under way count.
    DialReportOutcome OnReport(RasHandle connection, uint32_t state, uint32_t error);
    // Hangs up the dial under way; it has ended.
    void HangUpDial();
    // Hangs up the first active connection of the entry name, if any.
    void HangUpEntry();
    EntryState IsEntryConnected();
    // Deletes the phonebook entry; the answer is not examined.
    void RemoveEntry();

    const std::string& EntryName() const { return m_strEntryName; }
    bool IsDialing() const { return m_bDialing; }

  private:
    // The first active connection of the entry name, by the service's list.
    EntryState FindEntry(RasHandle* handle);
    void HangUp(RasHandle handle);

    RasService& m_ras;
    ConnectionLog& m_log;
    ThreadPause& m_pause;
    std::string m_strEntryName = kEntryName;
    RasHandle m_hDial = 0;
    bool m_bDialing = false;
};
