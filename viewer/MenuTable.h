// The main menu and the log buffer's context menu as data, and the one engine that builds them.
#pragma once
#include <windows.h>

#include <cstdint>

struct MenuRow {
    int depth;              // 0 for a menu of the bar; an item is a submenu when the next row is deeper
    UINT id;                // 0 for a separator
    const char* caption;
    const char* shortcut;   // shown after a TAB; the accelerator table is built from the same rows
    const char* hint;
    int32_t tag;
    bool radio;             // one of a group of choices
};

extern const MenuRow MainMenuRows[];
extern const size_t MainMenuRowCount;
extern const MenuRow PopupMenuRows[];
extern const size_t PopupMenuRowCount;

// Builds a menu bar (bar true) or a popup menu from the rows; every item keeps its row in its
// item data.
HMENU BuildMenu(const MenuRow* rows, size_t count, bool bar);

// The keyboard shortcuts of the main menu.
HACCEL BuildShortcuts();

// The row of a menu item id in either menu, or null.
const MenuRow* FindMenuRow(UINT id);
