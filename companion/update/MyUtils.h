// Small text helpers of the update modules.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// 1-based position of the first occurrence of `needle` in `text` at or after
// position `start` (1-based), 0 when there is none.
int FindFrom(const std::string& needle, const std::string& text, int start);

std::string LowerCase(std::string text);         // ASCII letters only
std::string TrimBlanks(const std::string& text); // spaces and tabs at both ends

// Raised when a text that must be a decimal integer is not one. It ends an update
// run (the update thread catches it at its entry).
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Decimal integer with an optional sign, fitting 32 bits; raises EConvertError.
int32_t StrToInt(const std::string& text);
// The same without raising; false when `text` is not such a number.
bool TryStrToInt(const std::string& text, int32_t& value);

// A profile (INI) text as the Windows profile-file reader sees it: "[section]"
// headers, "key=value" lines, ";" comment lines skipped; section names and keys compare without
// regard to case; blanks around keys and values are dropped, and a value wrapped in a pair of
// matching quotes loses them. The first section of a name is the one that counts.
class ProfileText {
  public:
    explicit ProfileText(const std::string& bytes);
    std::string String(const std::string& section, const std::string& key) const;
    // The section's lines as "key=value" (a line without "=" as its text alone).
    std::vector<std::string> Section(const std::string& section) const;

  private:
    struct Line {
        std::string key;
        bool hasValue = false;
        std::string value;
    };
    std::map<std::string, std::vector<Line>> sections_; // by lower-case name
};
