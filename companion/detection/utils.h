// Small text routines that the detectors share, and the nibble swap with which the
// library keeps its comparison texts scrambled in memory. (The byte swap is in
// ByteCursor.h, beside the reads of big-endian values.)
#pragma once

#include <cstddef>
#include <cstdint>

// Scrambles (or unscrambles: it is its own inverse) a zero-terminated text in
// place by exchanging the 4-bit halves of each byte. Stops at the first zero byte
// or after `max` bytes; nothing else is written. A zero stays zero, so the text
// keeps its length and terminator.
void SwapNibbles(char* text, size_t max);

// Length of a zero-terminated text, but never looking at more than `max` bytes.
size_t BoundedLength(const char* text, size_t max);

// Exact comparison of two zero-terminated texts.
bool TextEquals(const char* a, const char* b);

// True when the texts agree in their first n characters or up to a common end
// (a text that ends earlier compares its terminator).
bool TextEqualsN(const char* a, const char* b, size_t n);

// Copies at most n characters of src and always writes a terminating zero, so
// dst must hold n + 1 bytes.
void CopyTextN(char* dst, const char* src, size_t n);
