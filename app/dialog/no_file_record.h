// The record the dialog shows when it has no file: the prompt to drop one. Portable.
#pragma once

#include "image_info.h"

// Clears `info` and fills it with the prompt texts, the application's icon and the flags that
// make the panel show the plain caption and unknown size.
void BuildNoFileRecord(ImageInfo* info, void* appIcon);
