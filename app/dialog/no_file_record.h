// The records the dialog shows without a probe: the prompt to drop a file, and a dropped file whose
// path is too long to be read whole. Portable.
#pragma once

#include "image_info.h"

// Clears `info` and fills it with the prompt texts, the application's icon and the flags that
// make the panel show the plain caption and unknown size.
void BuildNoFileRecord(ImageInfo* info, void* appIcon);

// Clears `info` and fills it as a probe does for a file the shell does not know and the search does
// not find: both messages, no icon, the plain caption and placeholders for every number.
void BuildMissingFileRecord(ImageInfo* info);
