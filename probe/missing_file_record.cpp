#include "image_info.h"

#include <cstring>

void BuildMissingFileRecord(ImageInfo* info)
{
    memset(info, 0, sizeof *info);
    memcpy(info->name, INFO_BAD_FILE_NAME_TEXT, sizeof INFO_BAD_FILE_NAME_TEXT);
    memcpy(info->typeName, INFO_NO_TYPE_NAME_TEXT, sizeof INFO_NO_TYPE_NAME_TEXT);
    info->flags = INFO_DEFAULT_ICON | INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
}
