// The main dialog: shows one file, hands every further dropped file to a new instance.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "app_win.h"
#include "command_line.h"
#include "image_info.h"
#include "no_file_record.h"
#include "show_image_info.h"
#include "resource.h"
#include "wide_path_win.h"

namespace {

enum {
    DROP_PATH_SIZE = 2048,
    // Leaves room for the two quotation marks around a further dropped path.
    DROP_FURTHER_PATH_SIZE = DROP_PATH_SIZE - 2,
    // Each byte of a dropped path's code page 932 form stands for at most two UTF-16 units.
    DROP_WIDE_PATH_SIZE = 2 * DROP_PATH_SIZE,
};

INT_PTR OnInitDialog(HWND hwnd)
{
    HICON appIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    if (g_showCmd != SW_SHOWNORMAL)
        ShowWindow(hwnd, SW_RESTORE);

    ImageInfo info;
    if (g_startPath[0] != '\0')
        ProbeWideFile(&info, g_startPath, g_startWidePath);
    else
        BuildNoFileRecord(&info, appIcon);
    ShowImageInfo(hwnd, &info);
    return 1;
}

INT_PTR OnCommand(HWND hwnd, WPARAM wParam)
{
    // The "OK" button carries IDCANCEL, so Escape, Enter and the close box all end here.
    if (LOWORD(wParam) != IDCANCEL)
        return 0;
    EndDialog(hwnd, 1);
    return 1;
}

// Reads the dropped path at `index` into `widePath`, as the system knows it, and its code page
// 932 form into `path`, only when both fit whole: a path cut to fit could name another file.
// Returns 1 when they did.
int QueryWholeDroppedPath(HDROP drop, UINT index, wchar_t widePath[DROP_WIDE_PATH_SIZE], char* path, size_t capacity)
{
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length == 0 || length >= DROP_WIDE_PATH_SIZE ||
        DragQueryFileW(drop, index, widePath, DROP_WIDE_PATH_SIZE) != length)
        return 0;
    return ShowWideText(widePath, path, capacity);
}

void ShowFirstDroppedFile(HWND hwnd, HDROP drop)
{
    if (DragQueryFileW(drop, 0, nullptr, 0) == 0)
        return; // nothing arrived: keep showing what is shown
    wchar_t widePath[DROP_WIDE_PATH_SIZE];
    char path[DROP_PATH_SIZE];
    ImageInfo info;
    if (QueryWholeDroppedPath(drop, 0, widePath, path, DROP_PATH_SIZE))
        ProbeWideFile(&info, path, widePath);
    else
        BuildMissingFileRecord(&info);
    ShowImageInfo(hwnd, &info);
}

void LaunchFurtherDroppedFiles(HDROP drop)
{
    // The new instance is given the path between quotation marks, as the system knows it.
    wchar_t parameters[DROP_WIDE_PATH_SIZE + 2];
    wchar_t exePath[WIDE_PATH_SIZE];
    char path[DROP_FURTHER_PATH_SIZE];
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 1; i < count; ++i) {
        // A path too long to hand on whole is not handed on; a failed launch is not reported. The
        // remaining files are still handed on either way.
        if (!QueryWholeDroppedPath(drop, i, parameters + 1, path, sizeof path))
            continue;
        size_t length = wcslen(parameters + 1);
        parameters[0] = L'"';
        parameters[length + 1] = L'"';
        parameters[length + 2] = L'\0';
        GetModuleFileNameW(nullptr, exePath, WIDE_PATH_SIZE);
        ShellExecuteW(nullptr, nullptr, exePath, parameters, nullptr, SW_SHOWNORMAL);
    }
}

INT_PTR OnDropFiles(HWND hwnd, HDROP drop)
{
    ShowFirstDroppedFile(hwnd, drop);
    LaunchFurtherDroppedFiles(drop);
    DragFinish(drop);
    SetForegroundWindow(hwnd);
    return 1;
}

} // namespace

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_COMMAND:
        return OnCommand(hwnd, wParam);
    case WM_DROPFILES:
        return OnDropFiles(hwnd, reinterpret_cast<HDROP>(wParam));
    default:
        return 0;
    }
}
