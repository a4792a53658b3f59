// The backlog of lines waiting to be shown, and their display in the log buffer.
#include "Form1.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstddef>
#include <cstring>

#include "SettingChoices.h"

using namespace Id;

namespace {

const UINT_PTR DisplayTimerId = 1;
const int32_t MergedBatchLimit = 1024;   // a merged batch ends after the entry that passes this

size_t EntrySize(int32_t length)
{
    return offsetof(BacklogEntry, Text) + size_t(length) + 1;
}

struct Choice {
    UINT mainItem;
    UINT popupItem;   // 0 where the context menu has no twin
};

const Choice BufferSizeItems[] = {
    {MMenuItem32KB, MenuItem32KB}, {MMenuItem128KB, MenuItem128KB}, {MMenuItem512KB, MenuItem512KB},
    {MMenuItem2MB, MenuItem2MB}, {MMenuItemUnlimited, MenuItemUnlimited},
};
const Choice UpdateIntervalItems[] = {
    {MMenuItem70ms, MenuItem70ms}, {MMenuItem125ms, MenuItem125ms}, {MMenuItem225ms, MenuItem225ms},
};
const Choice BacklogSizeItems[] = {
    {MMenuItemBacklogSize1MB, 0}, {MMenuItemBacklogSize4MB, 0}, {MMenuItemBacklogSize10MB, 0},
};

bool SameBar(const SCROLLINFO& a, const SCROLLINFO& b)
{
    return a.nMin == b.nMin && a.nMax == b.nMax && a.nPage == b.nPage && a.nPos == b.nPos;
}

}  // namespace

ScrollBars ReadScrollBars(HWND window)
{
    ScrollBars bars = {};
    bars.horizontal.cbSize = bars.vertical.cbSize = sizeof(SCROLLINFO);
    bars.horizontal.fMask = bars.vertical.fMask = SIF_ALL;
    GetScrollInfo(window, SB_HORZ, &bars.horizontal);
    GetScrollInfo(window, SB_VERT, &bars.vertical);
    bars.style = GetWindowLongA(window, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL);
    return bars;
}

bool operator!=(const ScrollBars& a, const ScrollBars& b)
{
    return !SameBar(a.horizontal, b.horizontal) || !SameBar(a.vertical, b.vertical) || a.style != b.style;
}

bool TForm1::AddLine(const char* text, int32_t kind, bool forced, int32_t length)
{
    if (length < 0)
        length = int32_t(strlen(text));
    WriteLogLine(text, kind, length);
    if (LogFileOnly() && !forced)
        return true;
    BacklogEntry* entry = NewBacklogEntry(length + 2, kind);
    if (!entry)
        return false;
    memcpy(entry->Text, text, size_t(length));
    memcpy(entry->Text + length, "\r\n", 3);
    QueueEntries(entry, entry);
    if (!Paused && DisplayTimer == 0)
        StartDisplayTimer();
    return true;
}

bool TForm1::OpenBacklog()
{
    BacklogHeap = HeapCreate(HEAP_NO_SERIALIZE, 0, SIZE_T(BacklogSize));
    if (!BacklogHeap)
        return false;
    BacklogUsed = 0;
    SendMessageA(ProgressBarBacklog, PBM_SETRANGE32, 0, BacklogSize);
    UpdateBacklogGauge();
    return true;
}

void TForm1::CloseBacklog()
{
    if (!BacklogHeap)
        return;
    // no entry may outlive its heap, and those from the process heap must not leak
    DiscardEntries();
    HeapDestroy(BacklogHeap);
    BacklogHeap = nullptr;
    BacklogUsed = 0;
    UpdateBacklogGauge();
}

BacklogEntry* TForm1::NewBacklogEntry(int32_t length, int32_t kind)
{
    if (length < 0)
        return nullptr;
    size_t size = EntrySize(length);
    BacklogEntry* entry = nullptr;
    HANDLE heap = BacklogHeap;
    while (heap && !entry) {
        entry = static_cast<BacklogEntry*>(HeapAlloc(heap, HEAP_NO_SERIALIZE, size));
        if (entry) {
            BacklogUsed += int32_t(HeapSize(heap, HEAP_NO_SERIALIZE, entry));
            UpdateBacklogGauge();
        } else if (!ShowNextBatch()) {
            break;
        }
    }
    if (!entry) {
        heap = GetProcessHeap();
        entry = static_cast<BacklogEntry*>(HeapAlloc(heap, 0, size));
        if (!entry)
            return nullptr;
    }
    entry->Next = nullptr;
    entry->Kind = kind;
    entry->Heap = heap;
    entry->Length = length;
    entry->Text[0] = 0;
    return entry;
}

void TForm1::QueueEntries(BacklogEntry* first, BacklogEntry* last)
{
    if (!first)
        return;
    if (PendingHead)
        PendingTail->Next = first;
    else
        PendingHead = first;
    PendingTail = last;
}

int32_t TForm1::FreeBacklogEntry(BacklogEntry* entry)
{
    int32_t size = entry->Heap == BacklogHeap ? int32_t(HeapSize(entry->Heap, HEAP_NO_SERIALIZE, entry)) : 0;
    HeapFree(entry->Heap, HeapFlags(entry->Heap), entry);
    return size;
}

void TForm1::DiscardEntries(BacklogEntry** chain)
{
    int32_t freed = 0;
    while (*chain) {
        BacklogEntry* entry = *chain;
        *chain = entry->Next;
        freed += FreeBacklogEntry(entry);
    }
    if (chain == &PendingHead)
        PendingTail = nullptr;
    if (freed) {
        BacklogUsed -= freed;
        UpdateBacklogGauge();
    }
}

int32_t TForm1::LogBufferLength() const
{
    GETTEXTLENGTHEX query = {GTL_USECRLF | GTL_PRECISE | GTL_NUMCHARS, CP_ACP};
    return int32_t(SendMessageA(Memo1, EM_GETTEXTLENGTHEX, WPARAM(&query), 0));
}

int32_t TForm1::TrimLogBuffer(int32_t incoming)
{
    if (BufferSize < 0)
        return LogBufferLength();
    return TrimLogBufferTo(BufferSize - incoming);
}

int32_t TForm1::TrimLogBufferTo(int32_t room)
{
    int32_t length = LogBufferLength();
    if (length <= 0 || length <= room)
        return length;
    // Whole lines go from the top until the rest fits; they are removed in one step, which
    // leaves the same text as removing them one at a time.
    int32_t lines = int32_t(SendMessageA(Memo1, EM_GETLINECOUNT, 0, 0));
    int32_t removed = 0;
    int32_t line = 0;
    while (line < lines - 1 && length - removed > room) {
        LRESULT start = SendMessageA(Memo1, EM_LINEINDEX, line, 0);
        removed += int32_t(SendMessageA(Memo1, EM_LINELENGTH, start, 0)) + 2;
        line++;
    }
    LRESULT end = line < lines - 1 || length - removed <= room
                      ? SendMessageA(Memo1, EM_LINEINDEX, line, 0)
                      : -1;   // even the last line goes
    SendMessageA(Memo1, EM_SETSEL, 0, end);
    SendMessageA(Memo1, EM_REPLACESEL, FALSE, LPARAM(""));
    return LogBufferLength();
}

void TForm1::FreezeLogBuffer()
{
    // The rich edit repaints after every change unless told not to, and a repaint costs several
    // batches: it waits for the display tick.
    if (!LogBufferFrozen) {
        FrozenScrollBars = ReadScrollBars(Memo1);
        SendMessageA(Memo1, WM_SETREDRAW, FALSE, 0);
        LogBufferFrozen = true;
    }
}

void TForm1::ShowInLogBuffer(const char* text, int32_t length, COLORREF colour)
{
    FreezeLogBuffer();
    TrimLogBuffer(length);
    AppendToLogBuffer(text, colour);
}

void TForm1::AppendToLogBuffer(const char* text, COLORREF colour)
{
    SendMessageA(Memo1, EM_SETSEL, WPARAM(-1), LPARAM(-1));
    CHARFORMAT2A format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = colour;
    SendMessageA(Memo1, EM_SETCHARFORMAT, SCF_SELECTION, LPARAM(&format));
    SendMessageA(Memo1, EM_REPLACESEL, FALSE, LPARAM(text));
}

bool TForm1::ShowNextBatch()
{
    if (Paused || !PendingHead)
        return false;
    int32_t kind = PendingHead->Kind;
    // measure the batch first so that one buffer holds it
    int32_t total = 0;
    int32_t taken = 0;
    for (BacklogEntry* entry = PendingHead; entry; entry = entry->Next) {
        if (taken > 0 && (total > MergedBatchLimit || (Colors && entry->Kind != kind)))
            break;
        total += entry->Length;
        taken++;
    }
    int32_t freed = 0;
    if (ShownBatch* batch = NewShownBatch(total, kind)) {
        // it reaches the log buffer at the display tick, with the batches shown before it
        int32_t length = 0;
        while (taken-- > 0) {
            BacklogEntry* entry = PendingHead;
            PendingHead = entry->Next;
            memcpy(batch->Text + length, entry->Text, size_t(entry->Length));
            length += entry->Length;
            freed += FreeBacklogEntry(entry);
        }
        QueueShownBatch(batch);
    } else {
        // without memory for the batch, the first entry alone goes into the log buffer now
        CatchUpLogBuffer();
        BacklogEntry* single = PendingHead;
        ShowInLogBuffer(single->Text, single->Length, Colors ? COLORREF(kind) : 0);
        SendMessageA(Memo1, EM_SCROLLCARET, 0, 0);
        PendingHead = single->Next;
        freed += FreeBacklogEntry(single);
    }
    if (!PendingHead)
        PendingTail = nullptr;
    if (freed) {
        BacklogUsed -= freed;
        UpdateBacklogGauge();
    }
    return true;
}

void TForm1::HandleDisplayTimer()
{
    LastDisplayTick = GetTickCount();
    ShowEverythingWaiting();
    // nothing waits now, or the display is paused: the next line starts the timer again
    KillTimer(Handle, DisplayTimerId);
    DisplayTimer = 0;
}

void TForm1::ShowEverythingWaiting()
{
    // Every batch, not one: a display that shows one a tick falls minutes behind a program that
    // writes thousands of lines a second. Those that later ones trim away, or that are more than
    // a tick can bring in, are let go on the way (QueueShownBatch).
    while (ShowNextBatch()) {
    }
    RefreshDisplay();
}

void TForm1::StartDisplayTimer()
{
    DisplayTimer = SetTimer(Handle, DisplayTimerId, UINT(UpdateInterval), nullptr);
    LastDisplayTick = GetTickCount();
}

void TForm1::TickIfOverdue()
{
    // WM_TIMER comes only when no sent message waits; a tick missed twice over is run here.
    DWORD now = GetTickCount();
    DWORD late = 2 * DWORD(UpdateInterval);
    if (DisplayTimer && now - LastDisplayTick >= late)
        HandleDisplayTimer();
    else if (LabelsChanged() && now - LabelsChangedAt >= late)
        RefreshDisplay();
}

void TForm1::RefreshDisplay()
{
    bool frozenBefore = LogBufferFrozen;
    CatchUpLogBuffer();
    if (LogBufferFrozen) {
        LogBufferFrozen = false;
        SendMessageA(Memo1, WM_SETREDRAW, TRUE, 0);
        // Wine paints the whole frame after the redraw comes back on, and its scroll bars cost
        // several times the text. Frozen only for what was brought in just now, the frame is as
        // last drawn unless the bars have moved.
        bool frameChanged = frozenBefore || ReadScrollBars(Memo1) != FrozenScrollBars;
        if (!frameChanged)
            RedrawWindow(Memo1, nullptr, nullptr, RDW_VALIDATE | RDW_NOFRAME | RDW_NOCHILDREN);
        UINT frame = frameChanged ? RDW_FRAME : 0;
        RedrawWindow(Memo1, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | frame | RDW_UPDATENOW);
    }
    PaintCounterLabels();
}

void TForm1::UpdateBacklogGauge()
{
    if (ShowBacklog)
        SendMessageA(ProgressBarBacklog, PBM_SETPOS, WPARAM(BacklogUsed), 0);
}

void TForm1::Pause()
{
    if (!Started)
        return;
    Paused = true;
    SetStatusText(1, StatusPaused);
    EnableItem(MenuItemPause, false);
    EnableItem(MenuItemResume, true);
    ShowPauseButtons(true);
}

void TForm1::Resume()
{
    if (!Started)
        return;
    Paused = false;
    ShowEverythingWaiting();   // however long the pause, the display is live again at once
    SetStatusText(1, StatusStarted);
    EnableItem(MenuItemPause, true);
    EnableItem(MenuItemResume, false);
    ShowPauseButtons(false);
}

void TForm1::ShowPauseButtons(bool paused)
{
    UINT item = paused ? MenuItemResume : MenuItemPause;
    SpeedButtonPauseDown = paused;
    InvalidateRect(SpeedButtonPause, nullptr, TRUE);
    SetControlHint(Id::SpeedButtonPause, std::string(paused ? "Resume|" : "Pause|") + HintOf(item));
    SetWindowTextA(ButtonPause, paused ? "&Resume" : "&Pause");
    SetControlHint(Id::ButtonPause, std::string("|") + HintOf(item));
}

void TForm1::Clear()
{
    DiscardShownBatches();
    SetWindowTextA(Memo1, "");
    DiscardEntries();
}

void TForm1::ToggleColors()
{
    Colors = !Colors;
    CheckItem(MenuItemColors, Colors);
    CheckItem(MMenuItemColors, Colors);
}

void TForm1::ToggleShowBacklog()
{
    ShowBacklog = !ShowBacklog;
    CheckItem(MMenuItemShowBacklog, ShowBacklog);
    ShowWindow(LabelBacklog, ShowBacklog ? SW_SHOW : SW_HIDE);
    ShowWindow(ProgressBarBacklog, ShowBacklog ? SW_SHOW : SW_HIDE);
    UpdateBacklogGauge();
}

void TForm1::SetBufferSize(UINT sender)
{
    int32_t size = TagOf(sender);
    CatchUpLogBuffer();   // the batches shown so far were shown at the old size
    if (size >= 0 && (BufferSize < 0 || size < BufferSize)) {
        BufferSize = size;
        TrimLogBuffer(0);
    }
    BufferSize = NormaliseBufferSize(size);
    CheckBufferSize();
}

void TForm1::SetUpdateInterval(UINT sender)
{
    UpdateInterval = NormaliseUpdateInterval(TagOf(sender));
    CheckUpdateInterval();
    if (DisplayTimer) {
        KillTimer(Handle, DisplayTimerId);
        StartDisplayTimer();
    }
}

void TForm1::SetBacklogSize(UINT sender)
{
    BacklogSize = NormaliseBacklogSize(TagOf(sender));
    CheckBacklogSize();
}

namespace {

template <size_t N>
void CheckChoice(TForm1& form, const Choice (&items)[N], const int32_t* values, int32_t value)
{
    for (size_t i = 0; i < N; i++) {
        form.CheckItem(items[i].mainItem, values[i] == value);
        if (items[i].popupItem)
            form.CheckItem(items[i].popupItem, values[i] == value);
    }
}

}  // namespace

void TForm1::CheckBufferSize()
{
    const int32_t values[] = {BufferSizeChoices[0], BufferSizeChoices[1], BufferSizeChoices[2],
                              BufferSizeChoices[3], UnlimitedBufferSize};
    CheckChoice(*this, BufferSizeItems, values, BufferSize);
}

void TForm1::CheckUpdateInterval()
{
    CheckChoice(*this, UpdateIntervalItems, UpdateIntervalChoices, UpdateInterval);
}

void TForm1::CheckBacklogSize()
{
    CheckChoice(*this, BacklogSizeItems, BacklogSizeChoices, BacklogSize);
}
