/* Control ids of the information panel. Plain defines: the resource compiler reads this too.
   <windows.h> names two obsolete stock cursors IDC_ICON and IDC_SIZE; the dialog's controls take
   those names over, so include this after <windows.h>. */
#pragma once

#undef IDC_ICON
#undef IDC_SIZE

#define IDC_ICON 1000
#define IDC_TYPE 1001
#define IDC_SIZE 1002
#define IDC_SCALE 1003
#define IDC_NAME 1004
#define IDC_COLORS 1005
