// What the probe asks of the platform. Each platform implements these once, in its own file;
// the build picks the file (Win32 shell and kernel on Windows, GIO and POSIX on Linux).
#pragma once

#include "image_info.h"

#include <cstddef>
#include <cstdint>

enum {
    PLATFORM_TEXT_SIZE = 260, // room for any name or type text a platform query returns
};

// The driver brackets every probe with these two calls. In between, the shell query, the file
// search and the detectors' open all work on the one look at the file that BeginFileProbe put
// into `path->look`, so the file that is read is the file that was looked at, even when the path
// is replaced meanwhile. Every call below takes a path so bracketed.
void BeginFileProbe(ProbePath* path);
void EndFileProbe(ProbePath* path);

// Takes now what probes share and keep (on Linux: the converters, the MIME database, a descriptor
// or two), so that none of it is missing later for want of a descriptor. The first probe does it
// too; what could not be taken is tried again by the next. Safe on several threads.
void PrepareFileProbes();

// Descriptors (handles) one probe holds at most at once, beyond those PrepareFileProbes keeps:
// for a tool that sizes its probers to its descriptors.
enum {
    PROBE_HANDLES = 2,
};

// Below, `*error` is left alone on success and when the file is simply not there; otherwise it
// receives the platform's code (errno, GetLastError) for why it could not be looked up or read.

// Asks the shell for the file's large icon and type name (code page 932). Returns 1 when the
// shell answered: *icon then owns a new icon handle. Returns 0 otherwise and writes nothing but
// `*error`.
int QueryShellFileInfo(const ProbePath* path, void** icon, char typeName[PLATFORM_TEXT_SIZE], uint32_t* error);

// Searches the file system for `path`. Returns 1 when found, with the file's own name as the
// file system stores it (code page 932, may still hold a directory part) and its whole size.
// Returns 0 when nothing was found, or it could not be looked for (`*error`).
int FindFileEntry(const ProbePath* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size, uint32_t* error);

// A file opened for reading header bytes: the platform's handle, and the code of the first
// failure to open or read it (0: none).
struct HeaderFile {
    intptr_t handle;
    uint32_t error;
    uint64_t size; // the file's size when it was opened: a read that reaches it has met the end
};

// Opens `path` for reading, leaving other readers and writers free to open it. Returns 1 when
// a regular disk file was opened; 0 otherwise, and for anything else (a directory, FIFO,
// device, socket or pseudo-file), which is never opened for reading at all. `file->error` is 0
// unless a file that is there could not be opened (no permission, held by another program, out
// of descriptors or memory).
int OpenHeaderFile(const ProbePath* path, HeaderFile* file);

// Reads up to `count` bytes at `offset` from the start of the file; fewer only at its end, or
// when a read failed: `file->error` then holds why. Returns the number of bytes read.
size_t ReadHeaderBytes(HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count);

// When a hole of a sparse file starts at `offset`, returns the offset of the next byte that may
// hold data, or the size of the file when only the hole is left; the bytes in between read as
// zero. Otherwise, or when the platform cannot tell, returns `offset`.
uint64_t SkipFileHole(const HeaderFile* file, uint64_t offset);

void CloseHeaderFile(HeaderFile* file);

// Gives back an icon handle that QueryShellFileInfo handed over.
void ReleaseShellIcon(void* icon);

// The system's words for an error code of the record (`readError`), in code page 932.
void FormatProbeError(uint32_t error, char* text, size_t capacity);
