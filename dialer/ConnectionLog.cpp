#include "ConnectionLog.h"

#include <cstdio>

ConnectionLog::ConnectionLog(DialerFiles& files, LocalClock& clock, const CodePage& codePage,
                             const std::string& folder)
    : m_files(files), m_clock(clock), m_codePage(codePage), m_strFolder(folder),
      m_bStopped(folder.empty()) {}

std::string ConnectionLog::FilePath() const {
    return m_strFolder.empty() ? std::string() : m_strFolder + kFileName;
}

std::string ConnectionLog::PreviousFilePath() const {
    return m_strFolder.empty() ? std::string() : m_strFolder + kPreviousFileName;
}

void ConnectionLog::Write(const std::string& event) noexcept {
    if (m_bStopped)
        return;
    try {
        WriteLine(event);
    } catch (...) {
        // Out of memory while making the line: the log stops, the dialer goes on.
        m_bStopped = true;
    }
}

void ConnectionLog::WriteLine(const std::string& event) {
    std::string text = CutToWholeCharacters(event, kMaxEventBytes, m_codePage);
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    const LocalTime t = m_clock.Now();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d  ", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.millisecond % 1000);
    const std::string line = stamp + text + "\r\n";

    const std::string path = FilePath();
    const int64_t size = m_files.Size(path);
    if (size > 0 && size + int64_t(line.size()) > kMaxFileBytes) {
        // The current file becomes the previous generation. Should that fail, the
        // log stops rather than grow past its bound.
        if (!m_files.Replace(path, PreviousFilePath())) {
            m_bStopped = true;
            return;
        }
    }
    if (!m_files.Append(path, line))
        m_bStopped = true;
}

std::string MaskUserName(const std::string& name, const CodePage& codePage) {
    if (name.empty())
        return "(empty)";
    size_t characters = 0, lastStart = 0;
    for (size_t at = 0; at < name.size(); at += CharacterLength(name, at, codePage)) {
        lastStart = at;
        ++characters;
    }
    if (characters < 3)
        return "***";
    return name.substr(0, CharacterLength(name, 0, codePage)) + "***" + name.substr(lastStart);
}

std::string MacText(const uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}
