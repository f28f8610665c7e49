// Resource ids of the Windows program. Plain #defines: read by windres and by the C++ sources.
#pragma once

#include "panel_ids.h" // IDC_ICON .. IDC_COLORS, written by the panel

#define IDD_MAIN 101
#define IDI_APP 103
#define IDC_STATIC (-1)
