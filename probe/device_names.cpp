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

// The share after the host at `host` is the pipe or mailslot share.
bool NamesPipeShare(const wchar_t* host)
{
    const wchar_t* share = host + wcscspn(host, L"\\/");
    share += wcsspn(share, L"\\/");
    size_t length = TrimmedLength(share, wcscspn(share, L"\\/"), true);
    return length > 0 && (SpellsName(share, length, "PIPE") || SpellsName(share, length, "MAILSLOT"));
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
    return NamesPipeShare(path + wcsspn(path, L"\\/"));
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

size_t ExactPrefixLength(const wchar_t* path)
{
    // Only backslashes make the prefix: //?/ is normalised like \\.\.
    if (wcsncmp(path, L"\\\\?\\", 4) != 0)
        return 0;
    const wchar_t* p = path + 4;
    if (p[0] != L'\0' && p[1] == L':' && p[2] == L'\\')
        return 4;
    bool unc = SpellsName(p, 3, "UNC") && p[3] == L'\\' && p[4] != L'\0' && p[4] != L'\\';
    return unc ? 8 : 0;
}

bool RefusesOpening(const wchar_t* path)
{
    size_t prefix = ExactPrefixLength(path);
    return NamesDosDevice(path) || (prefix == 0 && InDeviceNamespace(path)) || InPipeShare(path) ||
           (prefix == 8 && NamesPipeShare(path + prefix)) || HasWildcard(path + prefix);
}

bool TrimmedWhenOpened(const wchar_t* path, size_t from)
{
    size_t length = wcslen(path);
    for (size_t i = from; i < length; ++i) {
        bool ends = i + 1 == length || IsSlash(path[i + 1]);
        if (ends && (path[i] == L'.' || path[i] == L' '))
            return true;
    }
    return false;
}

bool MakeExactPath(const wchar_t* folder, const wchar_t* rest, wchar_t* exact, size_t size)
{
    const wchar_t* prefix = L"\\\\?\\";
    if (folder[0] != L'\0' && folder[1] == L':' && folder[2] == L'\\') {
        // a drive path as it is
    } else if (folder[0] == L'\\' && folder[1] == L'\\' && !InDeviceNamespace(folder)) {
        prefix = L"\\\\?\\UNC";
        ++folder; // \\server\share becomes UNC\server\share
    } else {
        return false;
    }
    size_t folderLength = wcslen(folder), restLength = wcslen(rest);
    bool separate = restLength > 0 && folder[folderLength - 1] != L'\\';
    size_t length = wcslen(prefix) + folderLength + separate + restLength;
    if (length >= size)
        return false;
    wcscpy(exact, prefix);
    wcscat(exact, folder);
    wcscat(exact, separate ? L"\\" : L"");
    wcscat(exact, rest);
    return true;
}

size_t FolderPartLengthOf(const wchar_t* path)
{
    return static_cast<size_t>(LastComponent(path) - path);
}

size_t RootLength(const wchar_t* path)
{
    size_t prefix = ExactPrefixLength(path);
    const wchar_t* p = path + prefix;
    if (prefix == 8 || (prefix == 0 && IsSlash(p[0]) && IsSlash(p[1]))) {
        p += wcsspn(p, L"\\/"); // the server...
        p += wcscspn(p, L"\\/");
        if (*p != L'\0') { // ... and its share
            ++p;
            p += wcscspn(p, L"\\/");
        }
        return static_cast<size_t>(p - path);
    }
    return p[0] != L'\0' && p[1] == L':' ? prefix + 2 : 0;
}
