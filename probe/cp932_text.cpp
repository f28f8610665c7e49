#include "cp932_text.h"

#include <cstring>

size_t CopyTextFitted(char* dest, size_t capacity, const char* source)
{
    if (capacity == 0)
        return 0;
    // A text that fits is copied whole; only one that does not is cut, character by character.
    size_t whole = strnlen(source, capacity);
    if (whole < capacity) {
        memcpy(dest, source, whole + 1);
        return whole;
    }
    size_t length = 0;
    for (;;) {
        // A lead byte whose trail byte is missing is taken as a single byte.
        bool pair = IsCp932LeadByte(static_cast<unsigned char>(source[length])) && source[length + 1] != '\0';
        if (length + (pair ? 2 : 1) > capacity - 1)
            break;
        length += pair ? 2 : 1;
    }
    memcpy(dest, source, length);
    dest[length] = '\0';
    return length;
}

const char* Cp932StandIn(uint32_t codePoint)
{
    if (codePoint == 0x00A5)
        return "\x81\x8F";
    if (codePoint == 0x203E)
        return "\x81\x50";
    return nullptr;
}
