// Command and control ids of the main window, named after its controls and menu items.
#pragma once
#include <windows.h>

namespace Id {
enum : UINT {
    // main menu
    MenuFile = 100, MenuItemExit,
    MenuEdit, MenuItemUndo, MenuItemCut, MenuItemCopy, MenuItemPaste, MenuItemSelectAll,
    MenuAction, MenuItemStart, MenuItemStop, MenuItemPause, MenuItemResume, MenuItemReset,
    MenuTools, MMenuItemLogBuffer,
    MMenuItemSize, MMenuItem32KB, MMenuItem128KB, MMenuItem512KB, MMenuItem2MB, MMenuItemUnlimited,
    MMenuItemUpdateInterval, MMenuItem70ms, MMenuItem125ms, MMenuItem225ms,
    MMenuItemColors, MMenuItemClear,
    MMenuItemBacklogSize, MMenuItemBacklogSize1MB, MMenuItemBacklogSize4MB, MMenuItemBacklogSize10MB,
    MMenuItemShowBacklog,
    MMenuItemDetail, MMenuItemLow, MMenuItemMedium, MMenuItemHigh,
    MenuItemHexOnly,
    MenuHelp, MenuItemContents, MenuItemHomePage, MenuItemAbout,
    // context menu of the log buffer
    MenuCopy = 200, MenuSelectAll,
    MenuSize, MenuItem32KB, MenuItem128KB, MenuItem512KB, MenuItem2MB, MenuItemUnlimited,
    MenuUpdateInterval, MenuItem70ms, MenuItem125ms, MenuItem225ms,
    MenuItemColors, MenuClear,
    // controls
    SpeedButtonCut = 300, SpeedButtonCopy, SpeedButtonPaste, SpeedButtonStart, SpeedButtonStop,
    SpeedButtonPause,
    LabelLogFile, EditLogFile, ButtonBrowse, CheckBoxLogFileOnly, ButtonStart, ButtonStop, ButtonPause,
    GroupBoxSockets, LabelCreated, LabelClosed, LabelCurrent, LabelSCreated, LabelSClosed, LabelSCurrent,
    GroupBoxData, LabelReceived, LabelSent, LabelTransRecvd, LabelTransSent,
    LabelBacklog, ProgressBarBacklog, LabelLogBuffer, Memo1, StatusBar1,
};
}  // namespace Id
