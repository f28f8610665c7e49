// The Win32 shell and file search, with the ANSI (code page 932) functions throughout.
#include "platform_probe.h"

#include "cp932_text.h"

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

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow)
{
    WIN32_FIND_DATAA findData;
    HANDLE search = FindFirstFileA(path, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    findData.cFileName[sizeof findData.cFileName - 1] = '\0';
    CopyTextFitted(foundName, PLATFORM_TEXT_SIZE, findData.cFileName);
    *sizeLow = findData.nFileSizeLow;
    return 1;
}

FILE* OpenHeaderStream(const char* path)
{
    // The C runtime opens shared: other readers and writers stay free to open the file.
    return fopen(path, "rb");
}

uint64_t SkipFileHole(FILE*, uint64_t offset)
{
    // Sparse files are rare here; their holes are read like any other zeros.
    return offset;
}

void ReleaseShellIcon(void* icon)
{
    if (icon)
        DestroyIcon(static_cast<HICON>(icon));
}
