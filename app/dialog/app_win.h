// Start-up state and the dialog procedure of the Windows program.
#pragma once

#include <windows.h>

#include "command_line.h"

enum {
    // A start path in code page 932 takes at most START_PATH_SIZE - 1 bytes; each byte stands for
    // at most two UTF-16 units of its Unicode form (a '?' for a surrogate pair).
    START_WIDE_PATH_SIZE = 2 * START_PATH_SIZE,
};

// Written once by WinMain before the dialog opens; only read afterwards.
extern HINSTANCE g_instance;
extern int g_showCmd;
extern char g_startPath[START_PATH_SIZE];             // code page 932; empty: no file to show at start
extern wchar_t g_startWidePath[START_WIDE_PATH_SIZE]; // the same path as the system knows it

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
