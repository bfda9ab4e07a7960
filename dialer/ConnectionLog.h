// The connection log for the network's help desk: a plain-text file in the user's
// data folder, one line per event with the local time ("2026-03-14 09:12:33.250  link
// up"). It holds two generations of at most 256 KiB each: when a line would not fit
// the current file any more, that file becomes the previous one (replacing the one
// before) and a new one begins.
//
// Writing it never blocks or fails the dialer: each line is one append, nothing is
// retried, nothing is reported, and the first write that fails (a full disk, a
// folder the user may not write) stops the log for the rest of the run. It never
// holds the password, and of the user name only the first and last character.
#pragma once

#include "CodePage.h"
#include "DialerFiles.h"

#include <cstdint>
#include <string>

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

// Port: the local time of day.
class LocalClock {
  public:
    virtual ~LocalClock() = default;
    virtual LocalTime Now() = 0;
};

class ConnectionLog {
  public:
    static constexpr int64_t kMaxFileBytes = 256 * 1024; // each generation
    static constexpr size_t kMaxEventBytes = 600;        // the text of one line
    static constexpr const char* kFileName = "connection.log";
    static constexpr const char* kPreviousFileName = "connection.previous.log";

    // `folder` ends with its separator; empty: there is no log and nothing is written.
    ConnectionLog(DialerFiles& files, LocalClock& clock, const CodePage& codePage,
                  const std::string& folder);
    ConnectionLog(const ConnectionLog&) = delete;
    ConnectionLog& operator=(const ConnectionLog&) = delete;

    // One line: the local time, two blanks, the event (cut to kMaxEventBytes on a
    // whole character, line ends inside it turned into blanks).
    void Write(const std::string& event) noexcept;

    bool Stopped() const { return m_bStopped; }
    std::string FilePath() const;         // "" without a log
    std::string PreviousFilePath() const; // ""  without a log
    const CodePage& Codes() const { return m_codePage; }

  private:
    void WriteLine(const std::string& event);

    DialerFiles& m_files;
    LocalClock& m_clock;
    const CodePage& m_codePage;
    std::string m_strFolder;
    bool m_bStopped;
};

// A user name as the log may show it: its first and last character with "***"
// between ("a***e"), "***" for a name of one or two characters (where those would
// be the whole name), "(empty)" for none.
std::string MaskUserName(const std::string& name, const CodePage& codePage);

// "00:1b:21:0a:4c:5e".
std::string MacText(const uint8_t mac[6]);
