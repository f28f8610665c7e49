// Byte-level helpers for code page 932 (Shift_JIS) text. Independent of the running locale.
#pragma once

#include <cstddef>

// Lead bytes of CP932 double-byte characters: 0x81-0x9F and 0xE0-0xFC.
inline bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Copies `source` into `dest` (capacity bytes, terminator included), cutting it at a character
// boundary when it does not fit: never half a double-byte character, never past `capacity`.
// Returns the number of bytes copied, without the terminator.
size_t CopyTextFitted(char* dest, size_t capacity, const char* source);
