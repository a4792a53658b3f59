#include "MenuTable.h"

#include "ControlIds.h"

#include <cstring>
#include <string>
#include <vector>

using namespace Id;

namespace {

const char SizeHint[] = "Maximum number of characters to keep in Log Buffer";
const char IntervalHint[] = "How often to add new lines to Log Buffer ";
const char ColorsHint[] = "Display colors in Log Buffer";
const char ClearHint[] = "Clear contents of Log Buffer";
const char CopyHint[] = "Copies the selection and puts it on the Clipboard";
const char SelectAllHint[] = "Selects the entire contents";

}  // namespace

const MenuRow MainMenuRows[] = {
    {0, MenuFile, "&File", nullptr, "", 0, false},
    {1, MenuItemExit, "E&xit", nullptr, "Quits the application", 0, false},
    {0, MenuEdit, "&Edit", nullptr, "", 0, false},
    {1, MenuItemUndo, "&Undo", "Ctrl+Z", "Reverses the last action", 0, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemCut, "Cu&t", "Ctrl+X", "Cuts the selection and puts it on the Clipboard", 1, false},
    {1, MenuItemCopy, "&Copy", "Ctrl+C", CopyHint, 2, false},
    {1, MenuItemPaste, "&Paste", "Ctrl+V", "Inserts Clipboard contents", 3, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemSelectAll, "Select A&ll", "Ctrl+A", SelectAllHint, 5, false},
    {0, MenuAction, "&Action", nullptr, "", 0, false},
    {1, MenuItemStart, "&Start", nullptr, "Wait for a process to spy", 0, false},
    {1, MenuItemStop, "S&top", nullptr, "Stop spying a process or waiting to spy a process", 0, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemPause, "&Pause", nullptr, "Temporarily discontinue adding new lines to the Log Buffer", 0, false},
    {1, MenuItemResume, "&Resume", nullptr, "Continue the addition of new lines to the Log Buffer", 0, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemReset, "R&eset", nullptr, "Reset Transferred counts to 0", 0, false},
    {0, MenuTools, "&Tools", nullptr, "", 0, false},
    {1, MMenuItemLogBuffer, "Log &Buffer", nullptr, "", 0, false},
    {2, MMenuItemSize, "&Size", nullptr, SizeHint, 0, false},
    {3, MMenuItem32KB, "&32 KB", nullptr, SizeHint, 32768, true},
    {3, MMenuItem128KB, "&128 KB", nullptr, SizeHint, 131072, true},
    {3, MMenuItem512KB, "&512 KB", nullptr, SizeHint, 524288, true},
    {3, MMenuItem2MB, "&2 MB", nullptr, SizeHint, 2097152, true},
    {3, MMenuItemUnlimited, "&Unlimited", nullptr, SizeHint, -1, true},
    {2, MMenuItemUpdateInterval, "&Update Interval", nullptr, IntervalHint, 0, false},
    {3, MMenuItem70ms, "&70 ms", nullptr, IntervalHint, 70, true},
    {3, MMenuItem125ms, "&125 ms", nullptr, IntervalHint, 125, true},
    {3, MMenuItem225ms, "&225 ms", nullptr, IntervalHint, 225, true},
    {2, MMenuItemColors, "Colo&rs", nullptr, ColorsHint, 0, false},
    {2, MMenuItemClear, "Cl&ear", nullptr, ClearHint, 0, false},
    {2, 0, nullptr, nullptr, nullptr, 0, false},
    {2, MMenuItemBacklogSize, "Backlog Size", nullptr,
     "Maximum size of buffer used to store backlogged lines to be displayed", 0, false},
    {3, MMenuItemBacklogSize1MB, "1 MB", nullptr,
     "Maximum size of buffer used to store backlogged lines to be displayed", 1048576, true},
    {3, MMenuItemBacklogSize4MB, "4 MB", nullptr,
     "Maximum size of buffer used to store backlogged lines to be displayed", 4194304, true},
    {3, MMenuItemBacklogSize10MB, "10 MB", nullptr,
     "Maximum size of buffer used to store backlogged lines to be displayed", 10485760, true},
    {2, MMenuItemShowBacklog, "Show Backlog", nullptr, "Show amount of backlogged buffer being used", 0, false},
    {1, MMenuItemDetail, "&Detail", nullptr, "Type of messages to show in Log Buffer; all written to Log File", 0, false},
    {2, MMenuItemLow, "&Low", nullptr, "Log all socket calls except those that transfer data", 0, true},
    {2, MMenuItemMedium, "&Medium", nullptr, "Log all socket calls", 1, true},
    {2, MMenuItemHigh, "&High", nullptr, "Log all socket calls and transferred data", 2, true},
    {1, MenuItemHexOnly, "&Hex Only", nullptr, "The data will only be displayed in Hex", 0, false},
    {0, MenuHelp, "&Help", nullptr, "", 0, false},
    {1, MenuItemContents, "&Contents", nullptr, "Displays the table of contents for the online documentation", 0, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemHomePage, "&Kestrix Home Page", nullptr, "Visit Kestrix's home page", 0, false},
    {1, 0, nullptr, nullptr, nullptr, 0, false},
    {1, MenuItemAbout, "&About...", nullptr, "Display program information and version number ", 0, false},
};
const size_t MainMenuRowCount = sizeof MainMenuRows / sizeof MainMenuRows[0];

const MenuRow PopupMenuRows[] = {
    {0, MenuCopy, "&Copy", "Ctrl+C", CopyHint, 2, false},
    {0, MenuSelectAll, "Select A&ll", "Ctrl+A", SelectAllHint, 5, false},
    {0, 0, nullptr, nullptr, nullptr, 0, false},
    {0, MenuSize, "&Size", nullptr, SizeHint, 0, false},
    {1, MenuItem32KB, "&32 KB", nullptr, SizeHint, 32768, true},
    {1, MenuItem128KB, "&128 KB", nullptr, SizeHint, 131072, true},
    {1, MenuItem512KB, "&512 KB", nullptr, SizeHint, 524288, true},
    {1, MenuItem2MB, "&2 MB", nullptr, SizeHint, 2097152, true},
    {1, MenuItemUnlimited, "&Unlimited", nullptr, SizeHint, -1, true},
    {0, MenuUpdateInterval, "&Update Interval", nullptr, IntervalHint, 0, false},
    {1, MenuItem70ms, "&70 ms", nullptr, IntervalHint, 70, true},
    {1, MenuItem125ms, "&125 ms", nullptr, IntervalHint, 125, true},
    {1, MenuItem225ms, "&225 ms", nullptr, IntervalHint, 225, true},
    {0, MenuItemColors, "Colo&rs", nullptr, ColorsHint, 0, false},
    {0, MenuClear, "Cl&ear", nullptr, ClearHint, 0, false},
};
const size_t PopupMenuRowCount = sizeof PopupMenuRows / sizeof PopupMenuRows[0];

namespace {

// Appends rows[index..] of one depth to menu, recursing into deeper rows; returns the next index.
size_t AppendItems(HMENU menu, const MenuRow* rows, size_t count, size_t index, int depth)
{
    while (index < count && rows[index].depth == depth) {
        const MenuRow& row = rows[index];
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_DATA;
        info.wID = row.id;
        info.dwItemData = ULONG_PTR(&row);
        std::string text;
        if (!row.caption) {
            info.fType = MFT_SEPARATOR;
        } else {
            text = row.caption;
            if (row.shortcut)
                text = text + "\t" + row.shortcut;
            info.fMask |= MIIM_STRING;
            info.dwTypeData = text.data();
            info.fType = row.radio ? MFT_RADIOCHECK : MFT_STRING;
        }
        index++;
        if (index < count && rows[index].depth > depth) {
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = CreatePopupMenu();
            index = AppendItems(info.hSubMenu, rows, count, index, rows[index].depth);
        }
        InsertMenuItemA(menu, GetMenuItemCount(menu), TRUE, &info);
    }
    return index;
}

}  // namespace

HMENU BuildMenu(const MenuRow* rows, size_t count, bool bar)
{
    HMENU menu = bar ? CreateMenu() : CreatePopupMenu();
    AppendItems(menu, rows, count, 0, 0);
    return menu;
}

HACCEL BuildShortcuts()
{
    // every shortcut of the main menu is Ctrl and a letter, written last in its text
    std::vector<ACCEL> table;
    for (size_t i = 0; i < MainMenuRowCount; i++) {
        const MenuRow& row = MainMenuRows[i];
        if (row.shortcut)
            table.push_back({FCONTROL | FVIRTKEY, WORD(row.shortcut[strlen(row.shortcut) - 1]), WORD(row.id)});
    }
    return CreateAcceleratorTableA(table.data(), int(table.size()));
}

const MenuRow* FindMenuRow(UINT id)
{
    for (size_t i = 0; i < MainMenuRowCount; i++)
        if (MainMenuRows[i].id == id)
            return &MainMenuRows[i];
    for (size_t i = 0; i < PopupMenuRowCount; i++)
        if (PopupMenuRows[i].id == id)
            return &PopupMenuRows[i];
    return nullptr;
}
