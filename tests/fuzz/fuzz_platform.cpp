// The platform queries for the fuzz target: the file system alone. The GIO type lookup is
// left out because it costs most of each run and reads nothing the probe's own code parses.
#include "platform_probe.h"

#include "cp932_text.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>
#include <sys/stat.h>

int QueryShellFileInfo(const char*, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    *icon = nullptr;
    CopyTextFitted(typeName, PLATFORM_TEXT_SIZE, "image");
    return 1;
}

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint64_t* size)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return 0;
    const char* slash = strrchr(path, '/');
    CopyTextFitted(foundName, PLATFORM_TEXT_SIZE, slash ? slash + 1 : path);
    *size = static_cast<uint64_t>(status.st_size);
    return 1;
}

void BeginFileProbe(const char*) {}
void EndFileProbe() {}

int OpenHeaderFile(const char* path, HeaderFile* file)
{
    file->handle = open(path, O_RDONLY | O_CLOEXEC);
    return file->handle >= 0;
}

size_t ReadHeaderBytes(const HeaderFile* file, uint64_t offset, unsigned char* bytes, size_t count)
{
    ssize_t got = pread(static_cast<int>(file->handle), bytes, count, static_cast<off_t>(offset));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

uint64_t SkipFileHole(const HeaderFile*, uint64_t offset)
{
    return offset;
}

void CloseHeaderFile(HeaderFile* file)
{
    close(static_cast<int>(file->handle));
}

void ReleaseShellIcon(void*) {}
