#include "show_image_info.h"

#include "icon_release.h"
#include "panel_texts.h"

namespace {

enum {
    APP_ICON_ID = 103, // IDI_APP of the program's resources
};

// LoadIcon hands out shared handles: the same one on every call, never to be destroyed.
HICON StockIcon()
{
    return LoadIconA(nullptr, IDI_EXCLAMATION);
}

HICON ApplicationIcon()
{
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(APP_ICON_ID));
}

} // namespace

void ShowImageInfo(HWND dialog, const ImageInfo* info)
{
    PanelTexts texts;
    FormatPanelTexts(info, &texts);

    HICON stock = nullptr;
    HICON shown = static_cast<HICON>(info->icon);
    if (texts.icon == PANEL_ICON_STOCK) {
        stock = StockIcon();
        shown = stock;
    }
    HWND iconControl = GetDlgItem(dialog, IDC_ICON);
    LRESULT previousResult =
        SendMessageA(iconControl, STM_SETICON, reinterpret_cast<WPARAM>(shown), 0);
    HICON previous = reinterpret_cast<HICON>(previousResult);
    SetDlgItemTextA(dialog, IDC_NAME, texts.name);
    SetWindowTextA(dialog, texts.caption);
    SetDlgItemTextA(dialog, IDC_TYPE, texts.type);
    SetDlgItemTextA(dialog, IDC_SIZE, texts.size);
    SetDlgItemTextA(dialog, IDC_SCALE, texts.scale);
    SetDlgItemTextA(dialog, IDC_COLORS, texts.colors);

    // The record that brought the previous shell icon is gone; nothing else will release it.
    if (previous == nullptr || previous == shown)
        return;
    if (stock == nullptr)
        stock = StockIcon();
    if (ShouldReleaseIcon(previous, shown, stock, ApplicationIcon()))
        DestroyIcon(previous);
}
