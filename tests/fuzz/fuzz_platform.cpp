// The platform queries for the fuzz target: the file system alone. The GIO type lookup is
// left out because it costs most of each run and reads nothing the probe's own code parses.
#include "platform_probe.h"

#include "cp932_text.h"

#include <string.h>
#include <sys/stat.h>

int QueryShellFileInfo(const char*, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    *icon = nullptr;
    CopyTextFitted(typeName, PLATFORM_TEXT_SIZE, "image");
    return 1;
}

int FindFileEntry(const char* path, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return 0;
    const char* slash = strrchr(path, '/');
    CopyTextFitted(foundName, PLATFORM_TEXT_SIZE, slash ? slash + 1 : path);
    *sizeLow = static_cast<uint32_t>(status.st_size);
    return 1;
}

FILE* OpenHeaderStream(const char* path)
{
    return fopen(path, "rb");
}

uint64_t SkipFileHole(FILE*, uint64_t offset)
{
    return offset;
}

void ReleaseShellIcon(void*) {}
