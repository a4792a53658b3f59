// The About box: program name, version, maker and home page.
#include "Form1.h"

#include "Maker.h"
#include "ToolGlyphs.h"
#include "resource.h"

namespace {

const int ClientWidth = 285;
const int ClientHeight = 177;

struct Placement {
    int id;
    int x, y, width, height;
};

// pixels at 96 dpi
const Placement AboutPlacements[] = {
    {IDC_ABOUT_BEVEL, 5, 5, 275, 141},
    {IDC_ABOUT_ICON, 10, 10, 64, 64},
    {IDC_ABOUT_PRODUCT, 80, 15, 190, 16},
    {IDC_ABOUT_VERSION, 80, 35, 190, 13},
    {IDC_ABOUT_LINE1, 80, 50, 190, 2},
    {IDC_ABOUT_MAKER, 80, 65, 190, 13},
    {IDC_ABOUT_HOMEPAGE, 80, 80, 190, 13},
    {IDC_ABOUT_LINE2, 80, 95, 190, 2},
    {IDOK, 206, 150, 75, 25},
};

struct AboutResources {
    HICON icon;
    HFONT bold;
    HFONT boldLarge;
    HFONT normal;
};

HFONT MakeFont(int height, int weight)
{
    return CreateFontA(-height, 0, 0, 0, weight, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
}

void LayOutAboutBox(HWND box, AboutResources* resources)
{
    RECT frame = {0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, GetWindowLongA(box, GWL_STYLE), FALSE, GetWindowLongA(box, GWL_EXSTYLE));
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(box, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER);
    for (const Placement& placement : AboutPlacements) {
        HWND control = GetDlgItem(box, placement.id);
        SetWindowPos(control, nullptr, placement.x, placement.y, placement.width, placement.height, SWP_NOZORDER);
        SendMessageA(control, WM_SETFONT, WPARAM(resources->normal), FALSE);
    }
    SendDlgItemMessageA(box, IDC_ABOUT_PRODUCT, WM_SETFONT, WPARAM(resources->boldLarge), FALSE);
    SendDlgItemMessageA(box, IDC_ABOUT_VERSION, WM_SETFONT, WPARAM(resources->bold), FALSE);
    SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_SETICON, WPARAM(resources->icon), 0);
    SetDlgItemTextA(box, IDC_ABOUT_MAKER, MakerName);
    SetDlgItemTextA(box, IDC_ABOUT_HOMEPAGE, MakerHomePage);
}

INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        LayOutAboutBox(box, reinterpret_cast<AboutResources*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(box, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void TForm1::ShowAboutBox()
{
    AboutResources resources = {CreateKestrixIcon(64), MakeFont(11, FW_BOLD), MakeFont(13, FW_BOLD),
                                MakeFont(11, FW_NORMAL)};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), Handle, AboutBoxProc,
                    LPARAM(&resources));
    DestroyIcon(resources.icon);
    DeleteObject(resources.bold);
    DeleteObject(resources.boldLarge);
    DeleteObject(resources.normal);
}
