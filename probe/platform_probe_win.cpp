// The Win32 shell and file search. Every call reaches the file system with the exact Unicode
// path; what comes back is shown in code page 932 (wide_path_win.h).
#include "platform_probe.h"

#include "cp932_text.h"
#include "device_names.h"
#include "wide_path_win.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace {

enum {
    CP932 = 932,
    NARROW_PATH_SIZE = 2048, // the longest code page 932 path the probe is given, terminator included
};

// The Unicode form of `path`: the one the probe was given, else the code page 932 text read as
// such (each byte sequence stands for one character); empty when it cannot be read.
const wchar_t* WidePathOf(const ProbePath* path, wchar_t scratch[NARROW_PATH_SIZE])
{
    if (path->wide)
        return path->wide;
    if (MultiByteToWideChar(CP932, MB_ERR_INVALID_CHARS, path->text, -1, scratch, NARROW_PATH_SIZE) == 0)
        scratch[0] = L'\0';
    return scratch;
}

// The two bytes of a non-ASCII character when code page 932 holds it exactly: converted back, they
// give the same character. Returns their number, 0 when there is no such form.
size_t EncodeExactly(wchar_t unit, char bytes[2])
{
    BOOL usedDefault = FALSE;
    int count = WideCharToMultiByte(CP932, WC_NO_BEST_FIT_CHARS, &unit, 1, bytes, 2, nullptr, &usedDefault);
    wchar_t back = 0;
    if (count <= 0 || usedDefault || static_cast<unsigned char>(bytes[0]) < 0x80 ||
        MultiByteToWideChar(CP932, MB_ERR_INVALID_CHARS, bytes, count, &back, 1) != 1 || back != unit)
        return 0;
    return static_cast<size_t>(count);
}

// Keeps `failure` in `*error` unless it says that nothing is there.
void NoteFailure(DWORD failure, uint32_t* error)
{
    switch (failure) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NO_MORE_FILES:
        return;
    default:
        if (failure != 0)
            *error = failure;
    }
}

} // namespace

size_t ShowWideCharacter(const wchar_t* wide, char bytes[2], size_t* units)
{
    wchar_t unit = wide[0];
    bool pair = IS_HIGH_SURROGATE(unit) && IS_LOW_SURROGATE(wide[1]);
    *units = pair ? 2 : 1;
    if (unit < 0x80) {
        bytes[0] = static_cast<char>(unit);
        return 1;
    }
    if (const char* standIn = Cp932StandIn(unit)) {
        memcpy(bytes, standIn, 2);
        return 2;
    }
    size_t count = pair ? 0 : EncodeExactly(unit, bytes);
    if (count == 0)
        bytes[0] = '?';
    return count == 0 ? 1 : count;
}

bool ShowWideText(const wchar_t* wide, char* shown, size_t capacity)
{
    size_t length = 0;
    for (size_t units = 0; *wide != L'\0'; wide += units) {
        char bytes[2];
        size_t count = ShowWideCharacter(wide, bytes, &units);
        if (length + count >= capacity) {
            shown[length] = '\0';
            return false;
        }
        memcpy(shown + length, bytes, count);
        length += count;
    }
    shown[length] = '\0';
    return true;
}

size_t WideLength(const wchar_t* wide, size_t shownLength)
{
    size_t length = 0;
    for (size_t shown = 0, units = 0; wide[length] != L'\0'; length += units) {
        char bytes[2];
        shown += ShowWideCharacter(wide + length, bytes, &units);
        if (shown > shownLength)
            break;
    }
    return length;
}

namespace {

// "x.png." and "x.png " open as "x.png": that name is probed, its extension tested. The copies
// live on the stack of the one probe that needs them.
__attribute__((noinline)) int ProbeReachedName(ImageInfo* info, const char* path, const wchar_t* widePath)
{
    char reached[2 * WIDE_PATH_SIZE];
    wchar_t reachedWide[WIDE_PATH_SIZE];
    ProbePath probePath = {path, widePath, {-1, 0, 0, 0, 0}, false, -1, 0};
    if (ReachedName(path, widePath, reached, sizeof reached, reachedWide, WIDE_PATH_SIZE))
        probePath = {reached, reachedWide, {-1, 0, 0, 0, 0}, false, -1, 0};
    return ProbeImagePath(info, &probePath);
}

} // namespace

int ProbeWideFile(ImageInfo* info, const char* path, const wchar_t* widePath)
{
    size_t length = wcslen(widePath);
    if (length > 0 && (widePath[length - 1] == L'.' || widePath[length - 1] == L' '))
        return ProbeReachedName(info, path, widePath);
    ProbePath probePath = {path, widePath, {-1, 0, 0, 0, 0}, false, -1, 0};
    return ProbeImagePath(info, &probePath);
}

int QueryShellFileInfo(const ProbePath* path, void** icon, char typeName[PLATFORM_TEXT_SIZE], uint32_t*)
{
    wchar_t scratch[NARROW_PATH_SIZE];
    const wchar_t* widePath = WidePathOf(path, scratch);
    SHFILEINFOW shellInfo;
    ZeroMemory(&shellInfo, sizeof shellInfo);
    // The shell takes no \\?\ path: for an exact name it answers from the attributes and the name.
    size_t prefix = ExactPrefixLength(widePath);
    DWORD attributes = prefix ? GetFileAttributesW(widePath) : FILE_ATTRIBUTE_NORMAL;
    UINT flags = SHGFI_ICON | SHGFI_TYPENAME | (prefix ? SHGFI_USEFILEATTRIBUTES : 0);
    if (widePath[0] == L'\0' || attributes == INVALID_FILE_ATTRIBUTES ||
        !SHGetFileInfoW(widePath + prefix, attributes, &shellInfo, sizeof shellInfo, flags))
        return 0;
    *icon = shellInfo.hIcon;
    shellInfo.szTypeName[ARRAYSIZE(shellInfo.szTypeName) - 1] = L'\0';
    ShowWideText(shellInfo.szTypeName, typeName, PLATFORM_TEXT_SIZE);
    return 1;
}

namespace {

int ShowFoundEntry(WIN32_FIND_DATAW* found, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size)
{
    found->cFileName[ARRAYSIZE(found->cFileName) - 1] = L'\0';
    ShowWideText(found->cFileName, foundName, PLATFORM_TEXT_SIZE);
    *size = static_cast<uint64_t>(found->nFileSizeHigh) << 32 | found->nFileSizeLow;
    return 1;
}

// "C:\", "C:\Windows\", "d\sub\" name the folder before the separators, which the search takes
// only without them. A root is no entry of any folder: it is named as written ("C:"), size 0.
__attribute__((noinline)) int FindFolderEntry(const wchar_t* widePath, size_t length, char foundName[PLATFORM_TEXT_SIZE],
                                              uint64_t* size)
{
    DWORD attributes = GetFileAttributesW(widePath);
    while (length > 0 && (widePath[length - 1] == L'\\' || widePath[length - 1] == L'/'))
        --length;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || length == 0 ||
        length >= WIDE_PATH_SIZE)
        return 0;
    wchar_t folder[WIDE_PATH_SIZE];
    wmemcpy(folder, widePath, length);
    folder[length] = L'\0';
    if (length <= RootLength(folder)) {
        *size = 0;
        return ShowWideText(folder + ExactPrefixLength(folder), foundName, PLATFORM_TEXT_SIZE);
    }
    WIN32_FIND_DATAW findData;
    HANDLE search = FindFirstFileW(folder, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ShowFoundEntry(&findData, foundName, size);
}

} // namespace

int FindFileEntry(const ProbePath* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size, uint32_t* error)
{
    // One path names one file: a pattern is not searched, lest its first match stand in for it.
    wchar_t scratch[NARROW_PATH_SIZE];
    const wchar_t* widePath = WidePathOf(path, scratch);
    if (HasWildcard(widePath + ExactPrefixLength(widePath)))
        return 0;
    size_t length = wcslen(widePath);
    if (length > 0 && (widePath[length - 1] == L'\\' || widePath[length - 1] == L'/'))
        return FindFolderEntry(widePath, length, foundName, size);
    WIN32_FIND_DATAW findData;
    HANDLE search = FindFirstFileW(widePath, &findData);
    if (search == INVALID_HANDLE_VALUE) {
        NoteFailure(GetLastError(), error);
        return 0;
    }
    FindClose(search);
    return ShowFoundEntry(&findData, foundName, size);
}

// Every query opens the path by itself: what is read is checked on the open handle.
void BeginFileProbe(ProbePath*) {}
void EndFileProbe(ProbePath*) {}
void PrepareFileProbes() {}

int OpenHeaderFile(const ProbePath* path, HeaderFile* file)
{
    file->handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    file->error = 0;
    file->size = 0;
    // Opening a device or a pipe may already wait on it (a serial port, a console, a pipe server),
    // so such a path is refused before CreateFileW; whatever still gets opened is checked on the
    // handle.
    wchar_t scratch[NARROW_PATH_SIZE];
    const wchar_t* widePath = WidePathOf(path, scratch);
    if (RefusesOpening(widePath))
        return 0;
    HANDLE handle = CreateFileW(widePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A folder refuses to be opened as a file: it is not read, and that is no failure.
        DWORD failure = GetLastError();
        DWORD attributes = failure == ERROR_ACCESS_DENIED ? GetFileAttributesW(widePath) : INVALID_FILE_ATTRIBUTES;
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            NoteFailure(failure, &file->error);
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return 0;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    file->size = static_cast<uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    return 1;
}

size_t ReadHeaderBytes(HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    // Short of the size the file had, a short read is read on: a failure may follow it.
    size_t total = 0;
    while (total < count && (total == 0 || offset + total < file->size)) {
        // A synchronous handle reads at the offset the OVERLAPPED record names.
        OVERLAPPED at;
        ZeroMemory(&at, sizeof at);
        at.Offset = static_cast<DWORD>(offset + total);
        at.OffsetHigh = static_cast<DWORD>((offset + total) >> 32);
        DWORD ask = count - total > 0x10000 ? 0x10000 : static_cast<DWORD>(count - total);
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file->handle), bytes + total, ask, &got, &at)) {
            // Past the end a read at an offset fails with ERROR_HANDLE_EOF: that is the end.
            if (GetLastError() != ERROR_HANDLE_EOF && !file->error)
                file->error = GetLastError();
            break;
        }
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

uint64_t SkipFileHole(const HeaderFile*, uint64_t offset)
{
    return offset; // the holes of sparse files are read like any other zeros
}

void CloseHeaderFile(HeaderFile* file)
{
    CloseHandle(reinterpret_cast<HANDLE>(file->handle));
    file->handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

void ReleaseShellIcon(void* icon)
{
    if (icon)
        DestroyIcon(static_cast<HICON>(icon));
}

void FormatProbeError(uint32_t error, char* text, size_t capacity)
{
    // Denied access in the words the C runtimes use, as the tools' folder messages give it; any
    // other failure in the system's own words.
    if (error == ERROR_ACCESS_DENIED) {
        CopyTextFitted(text, capacity, "Permission denied");
        return;
    }
    wchar_t words[256];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  words, ARRAYSIZE(words), nullptr);
    while (length > 0 && (words[length - 1] == L'\r' || words[length - 1] == L'\n' || words[length - 1] == L' '))
        --length;
    words[length] = L'\0';
    if (length == 0) {
        char number[24] = "error ";
        size_t digits = 6;
        for (uint32_t rest = error; digits == 6 || rest != 0; rest /= 10)
            number[digits++] = static_cast<char>('0' + rest % 10);
        for (size_t i = 6, j = digits - 1; i < j; ++i, --j) {
            char digit = number[i];
            number[i] = number[j];
            number[j] = digit;
        }
        number[digits] = '\0';
        CopyTextFitted(text, capacity, number);
        return;
    }
    ShowWideText(words, text, capacity);
}
