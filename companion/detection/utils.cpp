#include "utils.h"

void SwapNibbles(char* text, size_t max) {
    for (size_t i = 0; i < max && text[i] != 0; ++i) {
        const uint8_t b = uint8_t(text[i]);
        text[i] = char(uint8_t((b << 4) | (b >> 4)));
    }
}

size_t BoundedLength(const char* text, size_t max) {
    size_t n = 0;
    while (n < max && text[n] != 0)
        ++n;
    return n;
}

bool TextEquals(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (*a != *b)
            return false;
        if (*a == 0)
            return true;
    }
}

bool TextEqualsN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return false;
        if (a[i] == 0)
            return true;
    }
    return true;
}

void CopyTextN(char* dst, const char* src, size_t n) {
    size_t i = 0;
    for (; i < n && src[i] != 0; ++i)
        dst[i] = src[i];
    dst[i] = 0;
}
