// Port: the system's 8-bit code page ("ANSI"), in which the dialer holds and shows
// its texts. In a double-byte code page (936, 950, ...) a character may take a lead
// byte and a trail byte, which must never be parted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CodePage {
  public:
    virtual ~CodePage() = default;
    virtual bool IsLeadByte(uint8_t byte) const = 0;
};

// The length in bytes of the character that starts at `at` (1 or 2; 1 for a lead
// byte with nothing after it).
size_t CharacterLength(const std::string& text, size_t at, const CodePage& codePage);

// `text` cut to at most `maxBytes` bytes, on a character boundary.
std::string CutToWholeCharacters(const std::string& text, size_t maxBytes,
                                 const CodePage& codePage);
