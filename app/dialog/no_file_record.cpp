#include "no_file_record.h"

#include <cstring>

void BuildNoFileRecord(ImageInfo* info, void* appIcon)
{
    static const char name[] = "ファイルをドロップしてください。";
    static const char typeName[] = "画像情報取得ツール QVR Version 1.0";
    static_assert(sizeof name <= sizeof info->name, "the prompt fits the name field");
    static_assert(sizeof typeName <= sizeof info->typeName, "the tool's name fits the type field");

    memset(info, 0, sizeof *info);
    info->icon = appIcon;
    memcpy(info->name, name, sizeof name);
    memcpy(info->typeName, typeName, sizeof typeName);
    info->flags = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
}
