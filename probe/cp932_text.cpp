#include "cp932_text.h"

bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

size_t CopyTextFitted(char* dest, size_t capacity, const char* source)
{
    if (capacity == 0)
        return 0;
    size_t length = 0;
    while (source[length] != '\0') {
        // A lead byte whose trail byte is missing is taken as a single byte.
        size_t step = (IsCp932LeadByte(static_cast<unsigned char>(source[length])) &&
                       source[length + 1] != '\0') ? 2 : 1;
        if (length + step > capacity - 1)
            break;
        for (size_t i = 0; i < step; ++i)
            dest[length + i] = source[length + i];
        length += step;
    }
    dest[length] = '\0';
    return length;
}
