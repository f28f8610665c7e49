// The Win32 shell and file search, with the ANSI (code page 932) functions throughout.
#include "platform_probe.h"

#include "cp932_text.h"
#include "device_names.h"

#include <windows.h>
#include <shellapi.h>

int QueryShellFileInfo(const char* path, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    SHFILEINFOA shellInfo;
    ZeroMemory(&shellInfo, sizeof shellInfo);
    if (!SHGetFileInfoA(path, FILE_ATTRIBUTE_NORMAL, &shellInfo, sizeof shellInfo,
                        SHGFI_ICON | SHGFI_TYPENAME))
        return 0;
    *icon = shellInfo.hIcon;
    shellInfo.szTypeName[sizeof shellInfo.szTypeName - 1] = '\0';
    CopyTextFitted(typeName, PLATFORM_TEXT_SIZE, shellInfo.szTypeName);
    return 1;
}

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size)
{
    // One path names one file: a pattern is not searched, lest its first match stand in for it.
    if (HasWildcard(path))
        return 0;
    WIN32_FIND_DATAA findData;
    HANDLE search = FindFirstFileA(path, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    findData.cFileName[sizeof findData.cFileName - 1] = '\0';
    CopyTextFitted(foundName, PLATFORM_TEXT_SIZE, findData.cFileName);
    *size = static_cast<uint64_t>(findData.nFileSizeHigh) << 32 | findData.nFileSizeLow;
    return 1;
}

// Every query opens the path by itself: what is read is checked on the open handle.
void BeginFileProbe(const char*) {}
void EndFileProbe() {}

int OpenHeaderFile(const char* path, HeaderFile* file)
{
    // Opening a device may already wait on it (a serial port, a console), so such a name is refused
    // before CreateFileA; whatever still gets opened is checked on the handle.
    if (NamesDosDevice(path) || InDeviceNamespace(path) || HasWildcard(path))
        return 0;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return 0;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    return 1;
}

size_t ReadHeaderBytes(const HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    size_t total = 0;
    while (total < count) {
        // A synchronous handle reads at the offset the OVERLAPPED record names.
        OVERLAPPED at;
        ZeroMemory(&at, sizeof at);
        at.Offset = static_cast<DWORD>(offset + total);
        at.OffsetHigh = static_cast<DWORD>((offset + total) >> 32);
        DWORD ask = count - total > 0x10000 ? 0x10000 : static_cast<DWORD>(count - total);
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file->handle), bytes + total, ask, &got, &at) || got == 0)
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
