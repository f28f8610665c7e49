// What the probe asks of the platform. Each platform implements these once, in its own file;
// the build picks the file (Win32 shell and kernel on Windows, GIO and POSIX on Linux).
#pragma once

#include <cstdint>
#include <cstdio>

enum {
    PLATFORM_TEXT_SIZE = 260, // room for any name or type text a platform query returns
};

// Asks the shell for the file's large icon and type name (code page 932). Returns 1 when the
// shell answered: *icon then owns a new icon handle. Returns 0 otherwise and writes nothing.
int QueryShellFileInfo(const char* path, void** icon, char typeName[PLATFORM_TEXT_SIZE]);

// Searches the file system for `path`. Returns 1 when found, with the file's own name as the
// file system stores it (code page 932, may still hold a directory part) and the low 32 bits of
// its size. Returns 0 when nothing was found.
int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow);

// Opens `path` for reading header bytes ("rb", shared). Null when it cannot be opened, and for
// anything but a regular file: a directory, FIFO or device is never opened by a detector.
FILE* OpenHeaderStream(const char* path);

// The stream stands at `offset`. When a hole of a sparse file starts there, moves the stream
// over it to the next byte that may hold data, or to the end of the file, and returns that
// offset; otherwise, or when the platform cannot tell, returns `offset` with the stream unmoved.
// The bytes passed over read as zero.
uint64_t SkipFileHole(FILE* stream, uint64_t offset);

// Gives back an icon handle that QueryShellFileInfo handed over.
void ReleaseShellIcon(void* icon);
