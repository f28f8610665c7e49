#include "device_names.h"

#include "cp932_text.h"

#include <cstring>

namespace {

bool IsSlash(char c)
{
    return c == '\\' || c == '/';
}

// The last component: what follows the drive colon and the last slash that stands as a
// character of its own (a 0x5C trailing a lead byte belongs to its character).
const char* LastComponent(const char* path)
{
    const char* start = (path[0] != '\0' && path[1] == ':') ? path + 2 : path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsCp932LeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0')
            ++p;
        else if (IsSlash(*p))
            start = p + 1;
    }
    return start;
}

char ToUpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

bool NamesDosDevice(const char* path)
{
    // The device name is what stands before the first dot or colon, less trailing blanks.
    const char* name = LastComponent(path);
    size_t length = strcspn(name, ".:");
    while (length > 0 && name[length - 1] == ' ')
        --length;
    char upper[8];
    if (length < 3 || length >= sizeof upper)
        return false;
    for (size_t i = 0; i < length; ++i)
        upper[i] = ToUpperAscii(name[i]);
    upper[length] = '\0';
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (strcmp(upper, device) == 0)
            return true;
    }
    bool numbered = strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0;
    return numbered && length == 4 && upper[3] >= '0' && upper[3] <= '9';
}

bool InDeviceNamespace(const char* path)
{
    bool win32 = IsSlash(path[0]) && IsSlash(path[1]) && (path[2] == '.' || path[2] == '?');
    bool nt = IsSlash(path[0]) && path[1] == '?' && path[2] == '?';
    return (win32 || nt) && IsSlash(path[3]);
}

bool HasWildcard(const char* path)
{
    return strpbrk(path, "*?") != nullptr;
}
