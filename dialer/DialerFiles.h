// Port: the dialer's own files, for what the standard streams cannot promise:
// replacing a settings file in one step, and the connection log's appends and
// generations. Paths are used as given (bare names are relative to the current
// directory).
#pragma once

#include <cstdint>
#include <string>

class DialerFiles {
  public:
    virtual ~DialerFiles() = default;
    // Creates `path` (or empties it) and writes `text`, every "\n" becoming the
    // system's line end, then has the data on the disk before it returns. False
    // when any step failed; the file may then hold part of the text.
    virtual bool WriteText(const std::string& path, const std::string& text) = 0;
    // Puts `from` in the place of `to` in one step, replacing `to` when it exists.
    // False when it could not; `to` is then as it was.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;
    virtual void Remove(const std::string& path) = 0;
    // Appends the bytes as they are, creating the file when needed; false when not
    // all of them were written.
    virtual bool Append(const std::string& path, const std::string& bytes) = 0;
    // The file's size in bytes; -1 when it does not exist or cannot be asked.
    virtual int64_t Size(const std::string& path) = 0;
};

// The system's files, unless a test has put its own in their place.
DialerFiles& Files();
// For tests: `files` answers from now on; null brings back the system's.
void UseFiles(DialerFiles* files);
// The system's files (one per platform, built with the platform's code).
DialerFiles& SystemFiles();
