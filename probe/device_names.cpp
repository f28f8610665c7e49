#include "device_names.h"

#include <cstring>
#include <cwchar>

namespace {

bool IsSlash(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The last component: what follows the drive colon and the last slash.
const wchar_t* LastComponent(const wchar_t* path)
{
    const wchar_t* start = (path[0] != L'\0' && path[1] == L':') ? path + 2 : path;
    for (const wchar_t* p = start; *p != L'\0'; ++p) {
        if (IsSlash(*p))
            start = p + 1;
    }
    return start;
}

// The `length` characters at `text` spell `name` (upper case), ASCII letters in either case.
bool SpellsName(const wchar_t* text, size_t length, const char* name)
{
    size_t i = 0;
    for (; i < length && name[i] != '\0'; ++i) {
        wchar_t c = (text[i] >= L'a' && text[i] <= L'z') ? text[i] - L'a' + L'A' : text[i];
        if (c != static_cast<wchar_t>(name[i]))
            return false;
    }
    return i == length && name[i] == '\0';
}

// A name's length less the blanks, or blanks and dots, the system drops from its end.
size_t TrimmedLength(const wchar_t* name, size_t length, bool dots)
{
    while (length > 0 && (name[length - 1] == L' ' || (dots && name[length - 1] == L'.')))
        --length;
    return length;
}

bool IsDeviceDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

} // namespace

bool NamesDosDevice(const wchar_t* path)
{
    // The device name is what stands before the first dot or colon, less trailing blanks.
    const wchar_t* name = LastComponent(path);
    size_t length = TrimmedLength(name, wcscspn(name, L".:"), false);
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (SpellsName(name, length, device))
            return true;
    }
    bool numbered = length == 4 && (SpellsName(name, 3, "COM") || SpellsName(name, 3, "LPT"));
    return numbered && IsDeviceDigit(name[3]);
}

bool InDeviceNamespace(const wchar_t* path)
{
    bool win32 = IsSlash(path[0]) && IsSlash(path[1]) && (path[2] == L'.' || path[2] == L'?');
    bool nt = IsSlash(path[0]) && path[1] == L'?' && path[2] == L'?';
    return (win32 || nt) && IsSlash(path[3]);
}

bool InPipeShare(const wchar_t* path)
{
    // \\host\share: the share is the component after the host. Runs of slashes count as one.
    if (!IsSlash(path[0]) || !IsSlash(path[1]))
        return false;
    const wchar_t* share = path + wcsspn(path, L"\\/");
    share += wcscspn(share, L"\\/");
    share += wcsspn(share, L"\\/");
    size_t length = TrimmedLength(share, wcscspn(share, L"\\/"), true);
    return length > 0 && (SpellsName(share, length, "PIPE") || SpellsName(share, length, "MAILSLOT"));
}

bool HasWildcard(const wchar_t* path)
{
    return wcspbrk(path, L"*?<>\"") != nullptr;
}

bool ReachedName(const char* path, const wchar_t* widePath, char* reached, size_t size, wchar_t* reachedWide,
                 size_t wideSize)
{
    const wchar_t* name = LastComponent(widePath);
    size_t wideLength = wcslen(widePath), nameLength = wcslen(name);
    size_t dropped = nameLength - TrimmedLength(name, nameLength, true);
    if (dropped == 0 || dropped == nameLength || InDeviceNamespace(widePath))
        return false;
    // Dots and blanks are one byte each in code page 932 and never the trail byte of a character,
    // so the same characters end the narrow form.
    size_t length = strlen(path);
    if (length < dropped || length - dropped >= size || wideLength - dropped >= wideSize ||
        strspn(path + length - dropped, ". ") != dropped)
        return false;
    memcpy(reached, path, length - dropped);
    reached[length - dropped] = '\0';
    wmemcpy(reachedWide, widePath, wideLength - dropped);
    reachedWide[wideLength - dropped] = L'\0';
    return true;
}
