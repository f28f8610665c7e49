#include "fake_platform.h"

#include "platform_probe.h"

#include <cstring>

FakePlatform g_fake;

int QueryShellFileInfo(const char*, void** icon, char typeName[PLATFORM_TEXT_SIZE])
{
    ++g_fake.shellQueries;
    if (!g_fake.shellAnswers)
        return 0;
    *icon = g_fake.icon;
    strncpy(typeName, g_fake.typeName.c_str(), PLATFORM_TEXT_SIZE - 1);
    typeName[PLATFORM_TEXT_SIZE - 1] = '\0';
    return 1;
}

int FindFileEntry(const char*, char foundName[PLATFORM_TEXT_SIZE], uint32_t* sizeLow)
{
    ++g_fake.searches;
    if (!g_fake.fileFound)
        return 0;
    strncpy(foundName, g_fake.foundName.c_str(), PLATFORM_TEXT_SIZE - 1);
    foundName[PLATFORM_TEXT_SIZE - 1] = '\0';
    *sizeLow = g_fake.sizeLow;
    return 1;
}

FILE* OpenHeaderStream(const char* path)
{
    ++g_fake.opens;
    return fopen(path, "rb");
}

uint64_t SkipFileHole(FILE*, uint64_t offset)
{
    return offset; // the walk reads every zero
}

void ReleaseShellIcon(void*) {}
