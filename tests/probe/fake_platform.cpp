#include "fake_platform.h"

#include "platform_probe.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FakePlatform g_fake;

int QueryShellFileInfo(const ProbePath*, void** icon, char typeName[PLATFORM_TEXT_SIZE], uint32_t* error)
{
    if (!g_fake.shellAnswers) {
        *error = g_fake.shellError ? g_fake.shellError : *error;
        return 0;
    }
    *icon = g_fake.icon;
    snprintf(typeName, PLATFORM_TEXT_SIZE, "%s", g_fake.typeName.c_str());
    return 1;
}

int FindFileEntry(const ProbePath*, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size, uint32_t* error)
{
    if (!g_fake.fileFound) {
        *error = g_fake.findError ? g_fake.findError : *error;
        return 0;
    }
    snprintf(foundName, PLATFORM_TEXT_SIZE, "%s", g_fake.foundName.c_str());
    *size = g_fake.size;
    return 1;
}

void PrepareFileProbes() {}
void BeginFileProbe(ProbePath*) { ++g_fake.probes; }
void EndFileProbe(ProbePath*) { --g_fake.probes; }

int OpenHeaderFile(const ProbePath* path, HeaderFile* file)
{
    ++g_fake.opens;
    file->error = g_fake.openError;
    file->handle = g_fake.openError ? -1 : open(path->text, O_RDONLY | O_CLOEXEC);
    file->size = UINT64_MAX;
    return file->handle >= 0;
}

size_t ReadHeaderBytes(HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    struct stat status; // as a disk does: only bytes of the file that lie in the bad part fail
    if (fstat(int(file->handle), &status) == 0 && uint64_t(status.st_size) < offset + count)
        count = offset < uint64_t(status.st_size) ? size_t(uint64_t(status.st_size) - offset) : 0;
    if (offset + count > g_fake.failReadsFrom) {
        file->error = EIO;
        count = offset < g_fake.failReadsFrom ? size_t(g_fake.failReadsFrom - offset) : 0;
    }
    ssize_t got = pread(int(file->handle), bytes, count, off_t(offset));
    return got > 0 ? size_t(got) : 0;
}

uint64_t SkipFileHole(const HeaderFile*, uint64_t offset) { return offset; } // the walk reads every zero

void CloseHeaderFile(HeaderFile* file) { close(int(file->handle)); }

void ReleaseShellIcon(void*) {}

void FormatProbeError(uint32_t error, char* text, size_t capacity) { snprintf(text, capacity, "error %u", error); }
