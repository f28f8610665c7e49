#include "image_info.h"

#include "cp932_text.h"
#include "platform_probe.h"

#include <cstring>

// The text after the last 0x5C that stands as a character of its own. A 0x5C that trails a
// lead byte (表 95 5C, ソ 83 5C, 能 94 5C) belongs to that character.
static const char* FindDisplayName(const char* name)
{
    const char* start = name;
    for (const char* p = name; *p != '\0'; ++p) {
        if (IsCp932LeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0')
            ++p;
        else if (*p == '\\')
            start = p + 1;
    }
    return start;
}

int GetShellFileFacts(ImageInfo* info, const ProbePath* path)
{
    int result = 1;
    char text[PLATFORM_TEXT_SIZE] = "";
    void* icon = nullptr;
    uint32_t error = 0;
    if (QueryShellFileInfo(path, &icon, text, &error)) {
        text[PLATFORM_TEXT_SIZE - 1] = '\0';
        info->icon = icon;
        CopyTextFitted(info->typeName, sizeof info->typeName, text);
    } else {
        CopyTextFitted(info->typeName, sizeof info->typeName, INFO_NO_TYPE_NAME_TEXT);
        info->flags |= INFO_DEFAULT_ICON;
        result = 0;
    }

    char found[PLATFORM_TEXT_SIZE] = "";
    uint64_t size = 0;
    int entryFound = FindFileEntry(path, found, &size, &error);
    info->readError = error;
    if (!entryFound) {
        CopyTextFitted(info->name, sizeof info->name, INFO_BAD_FILE_NAME_TEXT);
        info->flags |= INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
        return 0;
    }
    found[PLATFORM_TEXT_SIZE - 1] = '\0';
    CopyTextFitted(info->name, sizeof info->name, FindDisplayName(found));
    info->fileSize = static_cast<uint32_t>(size);
    info->fileSizeHigh = static_cast<uint32_t>(size >> 32);
    return result;
}
