// The main dialog: shows one file, hands every further dropped file to a new instance.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "app_win.h"
#include "command_line.h"
#include "device_names.h"
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
    // ... and its exact form has up to eight more: \\?\UNC\ for \\.
    DROP_EXACT_PATH_SIZE = DROP_WIDE_PATH_SIZE + 8,
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

// A dropped path is the system's own listing of the file. Where the system would trim it when
// opening it (x.png. beside x.png, a folder dir.), its exact form reaches the file listed.
const wchar_t* ExactDroppedPath(const wchar_t* widePath, wchar_t exact[DROP_EXACT_PATH_SIZE])
{
    return TrimmedWhenOpened(widePath, 0) && MakeExactPath(widePath, L"", exact, DROP_EXACT_PATH_SIZE) ? exact
                                                                                                        : widePath;
}

void ShowFirstDroppedFile(HWND hwnd, HDROP drop)
{
    if (DragQueryFileW(drop, 0, nullptr, 0) == 0)
        return; // nothing arrived: keep showing what is shown
    wchar_t widePath[DROP_WIDE_PATH_SIZE];
    wchar_t exact[DROP_EXACT_PATH_SIZE];
    char path[DROP_PATH_SIZE];
    ImageInfo info;
    if (QueryWholeDroppedPath(drop, 0, widePath, path, DROP_PATH_SIZE))
        ProbeWideFile(&info, path, ExactDroppedPath(widePath, exact));
    else
        BuildMissingFileRecord(&info);
    ShowImageInfo(hwnd, &info);
}

void LaunchFurtherDroppedFiles(HDROP drop)
{
    // The new instance is given the path between quotation marks, as the system knows it, in its
    // exact form where that is needed: the new instance takes such a path as it is.
    wchar_t widePath[DROP_WIDE_PATH_SIZE];
    wchar_t parameters[DROP_EXACT_PATH_SIZE + 2];
    wchar_t exePath[WIDE_PATH_SIZE];
    char path[DROP_FURTHER_PATH_SIZE];
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 1; i < count; ++i) {
        // A path too long to hand on whole is not handed on; a failed launch is not reported. The
        // remaining files are still handed on either way.
        if (!QueryWholeDroppedPath(drop, i, widePath, path, sizeof path))
            continue;
        const wchar_t* handed = ExactDroppedPath(widePath, parameters + 1);
        if (handed == widePath)
            wcscpy(parameters + 1, widePath);
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
