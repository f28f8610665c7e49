// Byte-level helpers for code page 932 (Shift_JIS) text. Independent of the running locale.
#pragma once

#include <cstddef>
#include <cstdint>

// Lead bytes of CP932 double-byte characters: 0x81-0x9F and 0xE0-0xFC.
inline bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Copies `source` into `dest` (capacity bytes, terminator included), cutting it at a character
// boundary when it does not fit: never half a double-byte character, never past `capacity`.
// Returns the number of bytes copied, without the terminator.
size_t CopyTextFitted(char* dest, size_t capacity, const char* source);

// Code page 932 tables turn two characters into ASCII bytes: the yen sign U+00A5 into 0x5C, the
// path separator, and the overline U+203E into the tilde 0x7E. A name never shows them so: they
// take their full-width forms, ￥ (81 8F) and ￣ (81 50). Returns those two bytes for either
// character, else null.
const char* Cp932StandIn(uint32_t codePoint);
