// Puts one ImageInfo record on the main dialog: icon, caption and the five fields.
#pragma once

#include <windows.h>

#include "image_info.h"
#include "panel_ids.h"

// The dialog holds the controls of panel_ids.h. Shell icons the control stops showing are
// destroyed here; the stock and application icons are shared and never are.
void ShowImageInfo(HWND dialog, const ImageInfo* info);
