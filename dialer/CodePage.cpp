#include "CodePage.h"

size_t CharacterLength(const std::string& text, size_t at, const CodePage& codePage) {
    return codePage.IsLeadByte(uint8_t(text[at])) && at + 1 < text.size() ? 2 : 1;
}

std::string CutToWholeCharacters(const std::string& text, size_t maxBytes,
                                 const CodePage& codePage) {
    if (text.size() <= maxBytes)
        return text;
    size_t kept = 0;
    while (kept < text.size()) {
        const size_t next = kept + CharacterLength(text, kept, codePage);
        if (next > maxBytes)
            break;
        kept = next;
    }
    return text.substr(0, kept);
}
