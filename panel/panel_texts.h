// The texts of the information panel, built from one ImageInfo record without a window.
#pragma once

#include "image_info.h"

enum PanelIcon {
    PANEL_ICON_RECORD = 0, // the record's own icon
    PANEL_ICON_STOCK = 1,  // the system's stock exclamation icon
};

enum {
    PANEL_TEXT_SIZE = 256,
};

struct PanelTexts {
    int icon; // PanelIcon
    char caption[PANEL_TEXT_SIZE];
    char name[PANEL_TEXT_SIZE];
    char type[PANEL_TEXT_SIZE];
    char size[PANEL_TEXT_SIZE];
    char scale[PANEL_TEXT_SIZE];
    char colors[PANEL_TEXT_SIZE];
};

// Fills every text of `texts` from `info` alone.
void FormatPanelTexts(const ImageInfo* info, PanelTexts* texts);
