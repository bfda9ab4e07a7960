// The dialer's settings text format: "key = value # comment" lines, shared by the
// interface texts file and the user settings file. Every call opens, scans and
// closes the file; names are relative to the current directory.
#pragma once

#include <cstddef>
#include <string>

constexpr const char* kTextsFile = "KELSupplicant.ini";
constexpr const char* kUserFile = "kelsupplicant.conf";
constexpr size_t kMaxSettingLine = 199;    // characters of one line, line end not counted
constexpr size_t kMaxSettingContent = 999; // bytes of a whole rewritten file
// The rewritten file is made under its name with this added, then renamed over it.
constexpr const char* kReplacementSuffix = ".tmp";

// Copies the value of the first line of `key` into buffer (at most capacity - 1
// characters and a terminator). False, with the buffer untouched, when the file
// cannot be read or has no such line.
bool ReadSettingValue(const char* key, const char* fileName, char* buffer, size_t capacity);

// Replaces `text` with the key's value (capacity 200) when the key is found; keeps
// it (the caller's default) otherwise.
void GetSettingText(const char* key, const char* fileName, std::string& text);

// Rewrites every line that begins with `key` to carry `value`, keeping the rest of
// the file. Never adds a line: false when no line begins with the key. Also false,
// with the file untouched, when the file or the result would exceed the limits,
// when the file could not be read to its end, when the value holds a line end, or
// when the new file could not be written whole and put in the old one's place.
bool WriteSettingValue(const char* key, const char* fileName, const char* value);
