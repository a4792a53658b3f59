// Cut, Copy, Paste, Select All and Undo on the focused control, and keeping their menu items
// and tool buttons enabled exactly when they can act.
#include "Form1.h"

#include <richedit.h>

using namespace Id;

namespace {

struct SelectionState {
    bool eligible;
    bool readOnly;
    DWORD selectionLength;
    DWORD textLength;
};

DWORD EditSelectionLength(HWND edit)
{
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    return end - start;
}

DWORD MemoSelectionLength(HWND memo)
{
    CHARRANGE range = {};
    SendMessageA(memo, EM_EXGETSEL, 0, LPARAM(&range));
    return DWORD(range.cpMax - range.cpMin);
}

// Characters as the selection counts them (one per line break).
DWORD MemoTextLength(HWND memo)
{
    GETTEXTLENGTHEX query = {GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    return DWORD(SendMessageA(memo, EM_GETTEXTLENGTHEX, WPARAM(&query), 0));
}

}  // namespace

void TForm1::EditCommand(int command)
{
    HWND focused = GetFocus();
    if (focused == EditLogFile) {
        switch (command) {
        case 1: SendMessageA(focused, WM_CUT, 0, 0); break;
        case 2: SendMessageA(focused, WM_COPY, 0, 0); break;
        case 3: SendMessageA(focused, WM_PASTE, 0, 0); break;
        case 4: SendMessageA(focused, WM_CLEAR, 0, 0); break;
        case 5: SendMessageA(focused, EM_SETSEL, 0, -1); break;
        default: SendMessageA(focused, WM_UNDO, 0, 0); break;
        }
        return;
    }
    if (command == 2)
        SendMessageA(Memo1, WM_COPY, 0, 0);
    else
        SendMessageA(Memo1, EM_SETSEL, 0, -1);
}

void TForm1::UpdateEditCommands()
{
    HWND focused = GetFocus();
    SelectionState state = {};
    if (focused == EditLogFile) {
        state = {true, (GetWindowLongA(focused, GWL_STYLE) & ES_READONLY) != 0, EditSelectionLength(focused),
                 DWORD(GetWindowTextLengthA(focused))};
        EnableItem(MenuItemUndo, SendMessageA(focused, EM_CANUNDO, 0, 0) != 0);
    } else {
        EnableItem(MenuItemUndo, false);
        if (focused == Memo1) {
            // selecting all takes in the final paragraph mark, one past the text
            DWORD textLength = MemoTextLength(Memo1);
            DWORD selectionLength = MemoSelectionLength(Memo1);
            state = {true, true, selectionLength < textLength ? selectionLength : textLength, textLength};
        }
    }
    bool canCut = state.eligible && !state.readOnly && state.selectionLength > 0;
    bool canCopy = state.eligible && state.selectionLength > 0;
    bool canPaste = state.eligible && !state.readOnly && IsClipboardFormatAvailable(CF_TEXT);
    bool canSelectAll = state.eligible && state.textLength != state.selectionLength;
    EnableItem(MenuItemCut, canCut);
    EnableItem(MenuItemCopy, canCopy);
    EnableItem(MenuItemPaste, canPaste);
    EnableItem(MenuItemSelectAll, canSelectAll);
    // only redraw a button whose state changes
    const std::pair<HWND, bool> buttons[] = {{SpeedButtonCut, canCut}, {SpeedButtonCopy, canCopy},
                                             {SpeedButtonPaste, canPaste}};
    for (const auto& [button, enabled] : buttons)
        if (bool(IsWindowEnabled(button)) != enabled)
            EnableWindow(button, enabled);
}

void TForm1::OnPopup()
{
    EnableItem(MenuCopy, MemoSelectionLength(Memo1) > 0);
    EnableItem(MenuSelectAll, LogBufferLength() > 0);
}
