// Entry point: start-up state, the command line, the next instance, the modal dialog.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "app_win.h"
#include "resource.h"

HINSTANCE g_instance;
int g_showCmd;
char g_startPath[START_PATH_SIZE];

namespace {

enum {
    // The system passes at most 32767 UTF-16 units of command line; a quoted path longer than
    // that many bytes is left unconverted, like any path that cannot be converted.
    QUOTED_TEXT_SIZE = 32768,
};

// Only a successful conversion that fits writes the start path.
void StoreShortPath(const char* longPath)
{
    char shortPath[START_PATH_SIZE];
    DWORD length = GetShortPathNameA(longPath, shortPath, START_PATH_SIZE);
    if (length > 0 && length < START_PATH_SIZE)
        memcpy(g_startPath, shortPath, length + 1);
}

void LaunchNextInstance(const char* parameters)
{
    char exePath[START_PATH_SIZE];
    GetModuleFileNameA(nullptr, exePath, START_PATH_SIZE);
    ShellExecuteA(nullptr, nullptr, exePath, parameters, nullptr, SW_SHOWNORMAL);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCmd)
{
    g_showCmd = showCmd;
    g_instance = instance;

    // MinGW's start-up skips a first byte of 0x80 or above after the program name as if it were
    // a blank, so its lpCmdLine cannot be trusted; the command line is derived here instead.
    const char* args = SkipProgramName(GetCommandLineA());
    StartCommand start;
    char quotedText[QUOTED_TEXT_SIZE];
    ParseCommandLine(args, &start, quotedText, sizeof quotedText);
    if (start.quoted) {
        StoreShortPath(quotedText);
    } else {
        memcpy(g_startPath, start.path, sizeof g_startPath);
        if (start.launch)
            LaunchNextInstance(start.rest);
    }

    return static_cast<int>(DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                            MainDlgProc, 0));
}
