#include "cp932_text.h"

size_t CopyTextFitted(char* dest, size_t capacity, const char* source)
{
    if (capacity == 0)
        return 0;
    size_t length = 0;
    for (;;) {
        unsigned char byte = static_cast<unsigned char>(source[length]);
        if (byte == 0)
            break;
        // A lead byte whose trail byte is missing is taken as a single byte.
        bool pair = IsCp932LeadByte(byte) && source[length + 1] != '\0';
        if (length + (pair ? 2 : 1) > capacity - 1)
            break;
        dest[length] = static_cast<char>(byte);
        if (pair) {
            ++length;
            dest[length] = source[length];
        }
        ++length;
    }
    dest[length] = '\0';
    return length;
}
