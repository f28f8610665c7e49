// The main dialog: shows one file, hands every further dropped file to a new instance.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "app_win.h"
#include "command_line.h"
#include "image_info.h"
#include "no_file_record.h"
#include "show_image_info.h"
#include "resource.h"

namespace {

enum {
    DROP_PATH_SIZE = 2048,
    // Leaves room for the two quotation marks around a further dropped path. (The parameters are
    // quoted by hand: wsprintfA stops at 1024 bytes and would cut a long path.)
    DROP_FURTHER_PATH_SIZE = DROP_PATH_SIZE - 2,
};

INT_PTR OnInitDialog(HWND hwnd)
{
    HICON appIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    if (g_showCmd != SW_SHOWNORMAL)
        ShowWindow(hwnd, SW_RESTORE);

    ImageInfo info;
    if (g_startPath[0] != '\0')
        ProbeImageFile(&info, g_startPath);
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

// Copies the dropped path at `index` into `path` only when it fits whole: a path cut to fit the
// buffer could name another file. Returns 1 when it was copied.
int QueryWholeDroppedPath(HDROP drop, UINT index, char* path, UINT capacity)
{
    UINT length = DragQueryFileA(drop, index, nullptr, 0);
    if (length == 0 || length >= capacity)
        return 0;
    return DragQueryFileA(drop, index, path, capacity) == length;
}

void ShowFirstDroppedFile(HWND hwnd, HDROP drop)
{
    if (DragQueryFileA(drop, 0, nullptr, 0) == 0)
        return; // nothing arrived: keep showing what is shown
    char path[DROP_PATH_SIZE];
    ImageInfo info;
    if (QueryWholeDroppedPath(drop, 0, path, DROP_PATH_SIZE))
        ProbeImageFile(&info, path);
    else
        BuildMissingFileRecord(&info);
    ShowImageInfo(hwnd, &info);
}

void LaunchFurtherDroppedFiles(HDROP drop)
{
    char path[DROP_PATH_SIZE];
    char parameters[DROP_PATH_SIZE];
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 1; i < count; ++i) {
        // A path too long to hand on whole is not handed on; a failed launch is not reported. The
        // remaining files are still handed on either way.
        if (!QueryWholeDroppedPath(drop, i, path, DROP_FURTHER_PATH_SIZE))
            continue;
        QuoteLaunchPath(parameters, sizeof parameters, path);
        GetModuleFileNameA(nullptr, path, DROP_PATH_SIZE);
        ShellExecuteA(nullptr, nullptr, path, parameters, nullptr, SW_SHOWNORMAL);
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
