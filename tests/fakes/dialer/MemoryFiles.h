// The dialer's files held in memory, failing as a disk can: after a number of bytes
// (a disk that fills up), for every write (a folder the user may not write), or at
// the rename of one generation over another. And a clock a test sets.
#pragma once

#include "ConnectionLog.h"
#include "DialerFiles.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MemoryFiles : public DialerFiles {
  public:
    std::map<std::string, std::string> files;
    int64_t spaceLeft = INT64_MAX; // bytes the disk still takes
    bool readOnly = false;         // every write and rename refused
    bool replaceFails = false;
    std::vector<std::string> calls; // "append <path>", "replace <from> <to>", ...

    bool WriteText(const std::string& path, const std::string& text) override {
        calls.push_back("write " + path);
        if (readOnly)
            return false;
        files[path].clear();
        return Take(files[path], text);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        calls.push_back("replace " + from + " " + to);
        if (readOnly || replaceFails || files.count(from) == 0)
            return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    void Remove(const std::string& path) override {
        calls.push_back("remove " + path);
        files.erase(path);
    }
    bool Append(const std::string& path, const std::string& bytes) override {
        calls.push_back("append " + path);
        if (readOnly)
            return false;
        return Take(files[path], bytes);
    }
    int64_t Size(const std::string& path) override {
        auto it = files.find(path);
        return it == files.end() ? -1 : int64_t(it->second.size());
    }

  private:
    // As much as fits, like a write that stops at the disk's end.
    bool Take(std::string& file, const std::string& bytes) {
        const int64_t fits = bytes.size() < uint64_t(spaceLeft) ? int64_t(bytes.size()) : spaceLeft;
        file.append(bytes, 0, size_t(fits));
        spaceLeft -= fits;
        return fits == int64_t(bytes.size());
    }
};

class SetClock : public LocalClock {
  public:
    LocalTime now{2026, 3, 14, 9, 12, 33, 250};
    LocalTime Now() override { return now; }
};
