#include "Form1.h"

#include <new>

#include <commctrl.h>
#include <windowsx.h>
#include <richedit.h>

#include "MenuTable.h"
#include "SettingChoices.h"
#include "ToolGlyphs.h"

using namespace Id;

const char* const MainWindowClassName = "TForm1";
const char* const MainWindowCaption = "Kestrix";
const char* const StatusStopped = "Stopped";
const char* const StatusStarted = "Started";
const char* const StatusPaused = "Paused";

namespace {

const int DesignedWidth = 633;
const int DesignedHeight = 407;
const int ToolPanelHeight = 31;     // Panel2
const int ControlPanelHeight = 125; // Panel3
const int MarginWidth = 10;         // Panel1, Panel4, Panel5
const int StatusBarHeight = 19;
const int StatusPanel0Width = 341;
const int StatusPanel1Width = 100;
const int GaugeRightMargin = 40;    // the gauge keeps its distance from the right edge

struct ControlRow {
    UINT id;
    const char* className;
    const char* caption;
    DWORD style;
    DWORD exStyle;
    int x, y, width, height;
    const char* hint;
    HWND TForm1::*field;
};

const DWORD Child = WS_CHILD | WS_VISIBLE;
const DWORD SpeedButton = Child | BS_OWNERDRAW;
const DWORD RightLabel = Child | SS_RIGHT;

// Positions in client pixels at 96 dpi; the control panel starts at y 31.
const ControlRow ControlRows[] = {
    {SpeedButtonCut, WC_BUTTONA, "", SpeedButton, 0, 5, 3, 25, 25,
     "Cut|Cuts the selection and puts it on the Clipboard", &TForm1::SpeedButtonCut},
    {SpeedButtonCopy, WC_BUTTONA, "", SpeedButton, 0, 30, 3, 25, 25,
     "Copy|Copies the selection and puts it on the Clipboard", &TForm1::SpeedButtonCopy},
    {SpeedButtonPaste, WC_BUTTONA, "", SpeedButton, 0, 55, 3, 25, 25,
     "Paste|Inserts Clipboard contents", &TForm1::SpeedButtonPaste},
    {SpeedButtonStart, WC_BUTTONA, "", SpeedButton, 0, 85, 3, 25, 25,
     "Start|Wait for a process to spy", &TForm1::SpeedButtonStart},
    {SpeedButtonStop, WC_BUTTONA, "", SpeedButton | WS_DISABLED, 0, 110, 3, 25, 25,
     "Stop|Stop waiting for a process to spy or spying a process", &TForm1::SpeedButtonStop},
    {SpeedButtonPause, WC_BUTTONA, "", SpeedButton | WS_DISABLED, 0, 135, 3, 25, 25,
     "Pause|Temporarily discontinue adding new lines to the Log Buffer", &TForm1::SpeedButtonPause},
    {LabelLogFile, WC_STATICA, "Log F&ile:", Child, 0, 10, 39, 100, 13, nullptr, nullptr},
    {EditLogFile, WC_EDITA, "", Child | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 10, 56, 220, 21,
     nullptr, &TForm1::EditLogFile},
    {ButtonBrowse, WC_BUTTONA, "&Browse...", Child | WS_TABSTOP, 0, 235, 54, 75, 25, nullptr,
     &TForm1::ButtonBrowse},
    {CheckBoxLogFileOnly, WC_BUTTONA, "Log File Only", Child | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 10, 81, 97, 17,
     nullptr, &TForm1::CheckBoxLogFileOnly},
    {ButtonStart, WC_BUTTONA, "&Start", Child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 10, 106, 75, 25,
     "|Wait for a process to spy", &TForm1::ButtonStart},
    {ButtonStop, WC_BUTTONA, "St&op", Child | WS_TABSTOP | WS_DISABLED, 0, 90, 106, 75, 25,
     "|Stop waiting for a process to spy or spying a process", &TForm1::ButtonStop},
    {ButtonPause, WC_BUTTONA, "&Pause", Child | WS_TABSTOP | WS_DISABLED, 0, 170, 106, 75, 25,
     "|Temporarily discontinue adding new lines to the Log Buffer", &TForm1::ButtonPause},
    {LabelCreated, WC_STATICA, "Created:", Child, 0, 330, 51, 50, 13, nullptr, nullptr},
    {LabelClosed, WC_STATICA, "Closed:", Child, 0, 330, 66, 50, 13, nullptr, nullptr},
    {LabelCurrent, WC_STATICA, "Current:", Child, 0, 330, 81, 50, 13, nullptr, nullptr},
    {LabelSCreated, WC_STATICA, "0", RightLabel, 0, 385, 51, 50, 13, nullptr, &TForm1::LabelSCreated},
    {LabelSClosed, WC_STATICA, "0", RightLabel, 0, 385, 66, 50, 13, nullptr, &TForm1::LabelSClosed},
    {LabelSCurrent, WC_STATICA, "0", RightLabel, 0, 385, 81, 50, 13, nullptr, &TForm1::LabelSCurrent},
    {LabelReceived, WC_STATICA, "Received:", Child, 0, 460, 51, 54, 13, nullptr, nullptr},
    {LabelSent, WC_STATICA, "Sent:", Child, 0, 460, 66, 54, 13, nullptr, nullptr},
    {LabelTransRecvd, WC_STATICA, "0", RightLabel, 0, 515, 51, 70, 13, nullptr, &TForm1::LabelTransRecvd},
    {LabelTransSent, WC_STATICA, "0", RightLabel, 0, 515, 66, 70, 13, nullptr, &TForm1::LabelTransSent},
    // group boxes below their labels in the z-order, and clipped by them
    {GroupBoxSockets, WC_BUTTONA, "Sockets", Child | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 320, 34, 130, 70, nullptr, nullptr},
    {GroupBoxData, WC_BUTTONA, "Data Transferred", Child | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 455, 34, 140, 70, nullptr, nullptr},
    {LabelBacklog, WC_STATICA, "Backlog:", Child, 0, 280, 113, 48, 13, nullptr, &TForm1::LabelBacklog},
    {ProgressBarBacklog, PROGRESS_CLASSA, "", Child | PBS_SMOOTH, 0, 330, 111, 255, 16, nullptr,
     &TForm1::ProgressBarBacklog},
    {LabelLogBuffer, WC_STATICA, "&Log Buffer:", Child, 0, 10, 141, 100, 13, nullptr, nullptr},
    {Memo1, "RichEdit20A", "",
     Child | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL |
         ES_AUTOVSCROLL | ES_NOHIDESEL | ES_DISABLENOSCROLL,
     WS_EX_CLIENTEDGE, 10, 156, 605, 150, nullptr, &TForm1::Memo1},
};

bool IsSpeedButton(UINT id)
{
    return id >= SpeedButtonCut && id <= SpeedButtonPause;
}

// Speed buttons never take the focus: the edit commands work on the control that has it.
LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR)
{
    if (message == WM_SETFOCUS && wParam && IsWindow(HWND(wParam))) {
        SetFocus(HWND(wParam));
        return 0;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExA(instance, MainWindowClassName, &windowClass))
        return true;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = MainWindowClassName;
    windowClass.hIcon = CreateKestrixIcon(32);
    windowClass.hIconSm = CreateKestrixIcon(16);
    return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

TForm1* FormOfWindow(HWND window)
{
    return reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

TForm1* TForm1::Create(HINSTANCE instance)
{
    static HMODULE richEdit = LoadLibraryA("riched20.dll");
    if (!richEdit)
        throw ViewerError("could not load the rich edit control");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterMainWindowClass(instance))
        throw ViewerError("could not register the main window");

    TForm1* form = new TForm1;
    form->Handle = CreateWindowExA(WS_EX_CONTROLPARENT, MainWindowClassName, MainWindowCaption,
                                   WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                   DesignedWidth, DesignedHeight, nullptr, nullptr, instance, nullptr);
    if (!form->Handle) {
        delete form;
        throw ViewerError("could not create the main window");
    }
    SetWindowLongPtrA(form->Handle, GWLP_USERDATA, LONG_PTR(form));
    SetWindowLongPtrA(form->Handle, GWLP_WNDPROC, LONG_PTR(StaticWindowProc));
    form->CreateControls(instance);

    form->Started = false;
    form->SemaphoreHandle = nullptr;
    form->LoadSettings();
    SendMessageA(form->EditLogFile, EM_SETREADONLY, FALSE, 0);
    EnableWindow(form->CheckBoxLogFileOnly, TRUE);
    EnableWindow(form->ButtonBrowse, TRUE);
    form->BufferSize = NormaliseBufferSize(form->BufferSize);
    form->CheckBufferSize();
    form->CheckDetail();
    form->UpdateInterval = NormaliseUpdateInterval(form->UpdateInterval);
    form->CheckUpdateInterval();
    form->BacklogSize = NormaliseBacklogSize(form->BacklogSize);
    form->CheckBacklogSize();
    form->CheckItem(MenuItemHexOnly, form->HexOnly);
    form->CheckItem(MenuItemColors, form->Colors);
    form->CheckItem(MMenuItemColors, form->Colors);
    form->CheckItem(MMenuItemShowBacklog, form->ShowBacklog);
    ShowWindow(form->LabelBacklog, form->ShowBacklog ? SW_SHOW : SW_HIDE);
    ShowWindow(form->ProgressBarBacklog, form->ShowBacklog ? SW_SHOW : SW_HIDE);
    form->SetRunningState(false);

    // centred on the screen at the size the settings gave
    RECT frame;
    GetWindowRect(form->Handle, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(form->Handle, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return form;
}

TForm1::~TForm1()
{
    DiscardShownBatches();
    if (Handle && IsWindow(Handle)) {
        SetWindowLongPtrA(Handle, GWLP_USERDATA, 0);
        DestroyWindow(Handle);
    }
    DiscardEntries();
    CloseBacklog();
    CloseLogFile();
    FreeTrackedSockets();
    StopWatchingProcess(SpiedProcess);
    // a window destroyed without the close query still leaves the catalog as it found it
    if (SemaphoreHandle)
        CloseSharedObjects(false);
    if (Shortcuts)
        DestroyAcceleratorTable(Shortcuts);
    if (PopupMenu1)
        DestroyMenu(PopupMenu1);
    if (formFont)
        DeleteObject(formFont);
    if (memoFont)
        DeleteObject(memoFont);
}

void TForm1::CreateControls(HINSTANCE instance)
{
    formFont = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
    memoFont = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    for (const ControlRow& row : ControlRows) {
        HWND control = CreateWindowExA(row.exStyle, row.className, row.caption, row.style, row.x, row.y,
                                       row.width, row.height, Handle, HMENU(UINT_PTR(row.id)), instance,
                                       nullptr);
        SendMessageA(control, WM_SETFONT, WPARAM(row.id == Id::Memo1 ? memoFont : formFont), FALSE);
        if (row.field)
            this->*row.field = control;
        if (row.hint)
            controlHints[row.id] = row.hint;
        if (IsSpeedButton(row.id))
            SetWindowSubclass(control, SpeedButtonProc, 0, 0);
    }
    SendMessageA(EditLogFile, EM_LIMITTEXT, 255, 0);
    SubclassCounterLabels();
    SubclassLogBuffer();

    // the log buffer: unlimited text, Courier New in the ANSI character set, no wrapping
    SendMessageA(Memo1, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageA(Memo1, EM_SETTARGETDEVICE, 0, 1);
    CHARFORMAT2A format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR;
    format.yHeight = 13 * 15;   // 13 pixels at 96 dpi, in twips
    format.bCharSet = ANSI_CHARSET;
    format.bPitchAndFamily = FIXED_PITCH | FF_MODERN;   // a fixed font stands in where Courier New is missing
    format.crTextColor = 0;
    lstrcpyA(format.szFaceName, "Courier New");
    SendMessageA(Memo1, EM_SETCHARFORMAT, SCF_ALL, LPARAM(&format));
    SendMessageA(Memo1, EM_SETCHARFORMAT, SCF_DEFAULT, LPARAM(&format));

    StatusBar1 = CreateWindowExA(0, STATUSCLASSNAMEA, "", Child | SBARS_SIZEGRIP, 0, 0, 0, StatusBarHeight,
                                 Handle, HMENU(UINT_PTR(Id::StatusBar1)), instance, nullptr);
    int parts[] = {StatusPanel0Width, StatusPanel0Width + StatusPanel1Width, -1};
    SendMessageA(StatusBar1, SB_SETPARTS, 3, LPARAM(parts));
    SetStatusText(1, StatusStopped);

    ToolTips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                               Handle, nullptr, instance, nullptr);
    for (HWND button : {SpeedButtonCut, SpeedButtonCopy, SpeedButtonPaste, SpeedButtonStart,
                        SpeedButtonStop, SpeedButtonPause}) {
        TTTOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle;
        tool.uId = UINT_PTR(button);
        tool.lpszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(ToolTips, TTM_ADDTOOLA, 0, LPARAM(&tool));
    }

    MainMenu1 = BuildMenu(MainMenuRows, MainMenuRowCount, true);
    SetMenu(Handle, MainMenu1);
    PopupMenu1 = BuildMenu(PopupMenuRows, PopupMenuRowCount, false);
    Shortcuts = BuildShortcuts();
    LayOut();
}

void TForm1::LayOut()
{
    RECT client;
    GetClientRect(Handle, &client);
    SendMessageA(StatusBar1, WM_SIZE, 0, 0);
    // the status bar takes the height its font needs
    RECT status;
    GetWindowRect(StatusBar1, &status);
    int statusHeight = status.bottom > status.top ? int(status.bottom - status.top) : StatusBarHeight;
    int top = ToolPanelHeight + ControlPanelHeight;
    int width = client.right - 2 * MarginWidth;
    int height = client.bottom - top - statusHeight - MarginWidth;
    SetWindowPos(Memo1, nullptr, MarginWidth, top, width > 0 ? width : 0, height > 0 ? height : 0,
                 SWP_NOZORDER);
    RECT gauge;
    GetWindowRect(ProgressBarBacklog, &gauge);
    MapWindowPoints(nullptr, Handle, reinterpret_cast<POINT*>(&gauge), 2);
    int gaugeWidth = client.right - gauge.left - GaugeRightMargin;
    SetWindowPos(ProgressBarBacklog, nullptr, 0, 0, gaugeWidth > 0 ? gaugeWidth : 0, gauge.bottom - gauge.top,
                 SWP_NOZORDER | SWP_NOMOVE);
    InvalidateRect(Handle, nullptr, TRUE);
}

void TForm1::DrawSpeedButton(const DRAWITEMSTRUCT* item)
{
    bool down = (item->itemState & ODS_SELECTED) || (item->CtlID == Id::SpeedButtonPause && SpeedButtonPauseDown);
    RECT face = item->rcItem;
    FillRect(item->hDC, &face, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(item->hDC, &face, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_ADJUST);
    if (down)
        OffsetRect(&face, 1, 1);
    DrawToolGlyph(item->hDC, face, item->CtlID, !(item->itemState & ODS_DISABLED));
}

void TForm1::SetStatusText(int panel, const char* text)
{
    SendMessageA(StatusBar1, SB_SETTEXTA, panel, LPARAM(text));
}

const char* TForm1::HintOf(UINT id) const
{
    auto control = controlHints.find(id);
    if (control != controlHints.end())
        return control->second.c_str();
    const MenuRow* row = FindMenuRow(id);
    return row && row->hint ? row->hint : "";
}

int32_t TForm1::TagOf(UINT id) const
{
    const MenuRow* row = FindMenuRow(id);
    return row ? row->tag : 0;
}

void TForm1::ShowLongHint(const char* hint)
{
    SetStatusText(0, LongHintOf(hint));
}

void TForm1::HintChanged(const char* hint)
{
    if (shownHint == hint)
        return;
    shownHint = hint;
    ShowLongHint(hint);
}

void TForm1::EnableItem(UINT id, bool enabled)
{
    HMENU menu = id >= MenuCopy && id < Id::SpeedButtonCut ? PopupMenu1 : MainMenu1;
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TForm1::CheckItem(UINT id, bool checked)
{
    HMENU menu = id >= MenuCopy && id < Id::SpeedButtonCut ? PopupMenu1 : MainMenu1;
    CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool TForm1::ItemChecked(UINT id) const
{
    HMENU menu = id >= MenuCopy && id < Id::SpeedButtonCut ? PopupMenu1 : MainMenu1;
    return GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED;
}

std::string TForm1::LogFileName() const
{
    char name[256] = "";
    GetWindowTextA(EditLogFile, name, sizeof name);
    return name;
}

bool TForm1::LogFileOnly() const
{
    return SendMessageA(CheckBoxLogFileOnly, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::OnClick(UINT sender)
{
    try {
        switch (sender) {
        case MenuItemExit: PostMessageA(Handle, WM_CLOSE, 0, 0); break;
        case MenuItemUndo: case MenuItemCut: case MenuItemCopy: case MenuItemPaste: case MenuItemSelectAll:
        case Id::SpeedButtonCut: case Id::SpeedButtonCopy: case Id::SpeedButtonPaste:
            EditCommand(sender >= Id::SpeedButtonCut ? int(sender - Id::SpeedButtonCut + 1) : TagOf(sender));
            break;
        case MenuCopy: EditCommand(2); break;
        case MenuSelectAll: EditCommand(5); break;
        case MenuItemStart: case Id::SpeedButtonStart: case Id::ButtonStart: StartSpying(); break;
        case MenuItemStop: case Id::SpeedButtonStop: case Id::ButtonStop:
            DiscardEntries();
            AddErrorLine(StoppedByUserText);
            StopSpying(false);
            break;
        case MenuItemPause: Pause(); break;
        case MenuItemResume: Resume(); break;
        case Id::SpeedButtonPause: case Id::ButtonPause: Paused ? Resume() : Pause(); break;
        case MenuItemReset:
            BytesSent = BytesReceived = 0;
            FormatCount(LabelTransSent, 0);
            FormatCount(LabelTransRecvd, 0);
            break;
        case MMenuItem32KB: case MMenuItem128KB: case MMenuItem512KB: case MMenuItem2MB: case MMenuItemUnlimited:
        case MenuItem32KB: case MenuItem128KB: case MenuItem512KB: case MenuItem2MB: case MenuItemUnlimited:
            SetBufferSize(sender);
            break;
        case MMenuItem70ms: case MMenuItem125ms: case MMenuItem225ms:
        case MenuItem70ms: case MenuItem125ms: case MenuItem225ms:
            SetUpdateInterval(sender);
            break;
        case MMenuItemColors: case MenuItemColors: ToggleColors(); break;
        case MMenuItemClear: case MenuClear: Clear(); break;
        case MMenuItemBacklogSize1MB: case MMenuItemBacklogSize4MB: case MMenuItemBacklogSize10MB:
            SetBacklogSize(sender);
            break;
        case MMenuItemShowBacklog: ToggleShowBacklog(); break;
        case MMenuItemLow: case MMenuItemMedium: case MMenuItemHigh: SetShowData(sender); break;
        case MenuItemHexOnly: ToggleHexOnly(); break;
        case MenuItemContents: ShowHelpContents(); break;
        case MenuItemHomePage: ShowHomePage(); break;
        case MenuItemAbout: ShowAboutBox(); break;
        case Id::ButtonBrowse: Browse(); break;
        default: break;
        }
    } catch (const std::exception& error) {
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        MessageBoxA(Handle, error.what(), MainWindowCaption, MB_OK | MB_ICONERROR);
    }
}

LRESULT CALLBACK TForm1::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TForm1* form = FormOfWindow(window);
    if (!form)
        return DefWindowProcA(window, message, wParam, lParam);
    return form->WindowProc(message, wParam, lParam);
}

LRESULT TForm1::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = HandleMessage(message, wParam, lParam);
    // Records may come faster than the eye follows: only they leave the display to the next
    // tick; every other message shows it as it stands.
    if (message != WM_COPYDATA)
        RefreshDisplay();
    return result;
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    // Running out of memory anywhere on a record's way, the log file writer included, ends the
    // capture with its error line; it never takes an exception out of the window procedure.
    case WM_COPYDATA:
        try {
            return HandleCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        } catch (const std::bad_alloc&) {
            StopForLackOfMemory();
            return 0;
        }
    case WM_TIMER:
        try {
            if (wParam == 1)
                HandleDisplayTimer();
            else if (wParam == 2)
                CheckSpiedProcess();
            else if (wParam == 3)
                KillTimer(Handle, 3);   // the labels are painted below, as after every message
        } catch (const std::bad_alloc&) {
            StopForLackOfMemory();
        }
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (IsWindowEnabled(ButtonStart))
                OnClick(Id::ButtonStart);
        } else if (!lParam || HIWORD(wParam) == BN_CLICKED) {
            OnClick(LOWORD(wParam));
        }
        return 0;
    case WM_SIZE:
        LayOut();
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        // labels, group boxes and the read-only log file box stand on the window's face
        SetBkColor(HDC(wParam), GetSysColor(COLOR_BTNFACE));
        return LRESULT(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DRAWITEM:
        DrawSpeedButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_MENUSELECT: {
        HMENU menu = HMENU(lParam);
        if (HIWORD(wParam) == 0xFFFF && !menu) {
            HintChanged("");
            return 0;
        }
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        bool byPosition = HIWORD(wParam) & MF_POPUP;
        if (GetMenuItemInfoA(menu, LOWORD(wParam), byPosition, &info) && info.dwItemData)
            HintChanged(reinterpret_cast<const MenuRow*>(info.dwItemData)->hint);
        else
            HintChanged("");
        return 0;
    }
    case WM_INITMENUPOPUP:
        UpdateEditCommands();
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == TTN_GETDISPINFOA) {
            auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            static std::string shortHint;
            std::string hint = HintOf(GetDlgCtrlID(HWND(header->idFrom)));
            shortHint = hint.substr(0, hint.find('|'));
            info->lpszText = shortHint.data();
        }
        return 0;
    }
    case WM_CONTEXTMENU:
        if (HWND(wParam) == Memo1) {
            OnPopup();
            POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (at.x == -1 && at.y == -1) {
                at = {0, 0};
                ClientToScreen(Memo1, &at);
            }
            TrackPopupMenu(PopupMenu1, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle, nullptr);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (OnCloseQuery()) {
            OnClose();
            DestroyWindow(Handle);
        }
        return 0;
    case WM_DESTROY:
        if (QuitOnDestroy)
            PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(Handle, message, wParam, lParam);
}
