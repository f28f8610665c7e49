// Entry point: start-up state, the command line, the next instance, the modal dialog.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

#include "app_win.h"
#include "device_names.h"
#include "resource.h"
#include "wide_path_win.h"

HINSTANCE g_instance;
int g_showCmd;
char g_startPath[START_PATH_SIZE];
wchar_t g_startWidePath[START_WIDE_PATH_SIZE];

namespace {

// The command line's code page 932 form (each UTF-16 unit becomes at most two bytes), and the
// quoted path taken from its Unicode form.
char g_commandLine[2 * WIDE_PATH_SIZE];
wchar_t g_wideSpan[WIDE_PATH_SIZE];

// Where the character at `from` of the command line's code page 932 form stands in the Unicode form.
const wchar_t* WideAt(const wchar_t* wide, const char* from)
{
    return wide + WideLength(wide, static_cast<size_t>(from - g_commandLine));
}

// Copies the Unicode characters that stand for the `length` bytes at `from` of the code page 932
// form into `span`, which has room for them.
const wchar_t* CopyWideSpan(const wchar_t* wide, const char* from, size_t length, wchar_t* span)
{
    const wchar_t* start = WideAt(wide, from);
    size_t count = WideLength(start, length);
    wmemcpy(span, start, count);
    span[count] = L'\0';
    return span;
}

void StoreStartPath(const wchar_t* wide, const StartCommand& start)
{
    memcpy(g_startPath, start.path, start.length);
    g_startPath[start.length] = '\0';
    CopyWideSpan(wide, start.path, start.length, g_startWidePath);
}

// A quoted path must name something that exists. It is taken as given, so that the name's own
// extension is tested, unless it is too long for the start path: then its short form is taken
// when that fits. A pattern is never converted: the conversion could name its first match. A
// dropped file handed on in its exact form (\\?\C:\...) is taken as such, and its ? is no pattern.
void StoreQuotedPath(const wchar_t* wide, const StartCommand& start)
{
    wchar_t shortPath[START_PATH_SIZE];
    char path[START_PATH_SIZE];
    const wchar_t* longPath = CopyWideSpan(wide, start.path, start.length, g_wideSpan);
    if (HasWildcard(longPath + ExactPrefixLength(longPath)))
        return;
    DWORD length = GetShortPathNameW(longPath, shortPath, START_PATH_SIZE);
    if (length == 0)
        return;
    if (!start.shortForm) {
        StoreStartPath(wide, start);
    } else if (length < START_PATH_SIZE && ShowWideText(shortPath, path, sizeof path)) {
        memcpy(g_startPath, path, sizeof path);
        wmemcpy(g_startWidePath, shortPath, length + 1);
    }
}

void LaunchNextInstance(const wchar_t* parameters)
{
    wchar_t exePath[WIDE_PATH_SIZE];
    GetModuleFileNameW(nullptr, exePath, WIDE_PATH_SIZE);
    ShellExecuteW(nullptr, nullptr, exePath, parameters, nullptr, SW_SHOWNORMAL);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCmd)
{
    g_showCmd = showCmd;
    g_instance = instance;

    // The rules read the code page 932 form; the file system gets the same characters from the
    // Unicode form, never a converted path (a ¥ converted by likeness would be a separator).
    const wchar_t* wide = GetCommandLineW();
    ShowWideText(wide, g_commandLine, sizeof g_commandLine);
    StartCommand start;
    ParseCommandLine(SkipProgramName(g_commandLine), &start);
    if (start.quoted && start.path)
        StoreQuotedPath(wide, start);
    else if (start.path)
        StoreStartPath(wide, start);
    if (start.launch)
        LaunchNextInstance(WideAt(wide, start.rest));

    return static_cast<int>(DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                            MainDlgProc, 0));
}
