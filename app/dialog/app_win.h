// Start-up state and the dialog procedure of the Windows program.
#pragma once

#include <windows.h>

#include "command_line.h"

// Written once by WinMain before the dialog opens; only read afterwards.
extern HINSTANCE g_instance;
extern int g_showCmd;
extern char g_startPath[START_PATH_SIZE]; // empty: no file to show at start

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
