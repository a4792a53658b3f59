// The main window: one object that holds all of the viewer's state, its controls under the names
// of its form, and the handlers of its commands.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <map>
#include <string>
#include <vector>

#include "CaptureLines.h"
#include "CatchUpPlan.h"
#include "ControlIds.h"
#include "LineKind.h"
#include "LogBufferPace.h"
#include "LogWriter.h"
#include "RecordRendering.h"
#include "SocketModes.h"
#include "SpiedProcessWatch.h"

struct CaptureChannel;

// A Start that fails raises this with a short message; the caller shows it in an error box.
class ViewerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One line, or one hex dump of several rows, waiting to be shown.
struct BacklogEntry {
    BacklogEntry* Next;
    int32_t Kind;
    HANDLE Heap;      // the heap to free the entry to
    int32_t Length;   // characters of Text, line ends included, NUL excluded
    char Text[1];
};

struct MenuRow;

// What a window's scroll bars show.
struct ScrollBars {
    SCROLLINFO horizontal, vertical;
    LONG style;   // WS_HSCROLL and WS_VSCROLL
};
ScrollBars ReadScrollBars(HWND window);
bool operator!=(const ScrollBars& a, const ScrollBars& b);


extern const char* const MainWindowClassName;   // "TForm1"
extern const char* const MainWindowCaption;     // "Kestrix"
extern const char* const StatusStopped;
extern const char* const StatusStarted;
extern const char* const StatusPaused;
// The line in the log buffer where a display tick over its budget left lines out.
extern const char* const SkippedLinesText;

class TForm1 {
public:
    // Creates the window from its control and menu tables and reads the settings. The window is
    // shown by the caller.
    static TForm1* Create(HINSTANCE instance);
    ~TForm1();

    HWND Handle = nullptr;

    // controls
    HWND SpeedButtonCut = nullptr, SpeedButtonCopy = nullptr, SpeedButtonPaste = nullptr;
    HWND SpeedButtonStart = nullptr, SpeedButtonStop = nullptr, SpeedButtonPause = nullptr;
    HWND EditLogFile = nullptr, ButtonBrowse = nullptr, CheckBoxLogFileOnly = nullptr;
    HWND ButtonStart = nullptr, ButtonStop = nullptr, ButtonPause = nullptr;
    HWND LabelSCreated = nullptr, LabelSClosed = nullptr, LabelSCurrent = nullptr;
    HWND LabelTransRecvd = nullptr, LabelTransSent = nullptr;
    HWND LabelBacklog = nullptr, ProgressBarBacklog = nullptr;
    HWND Memo1 = nullptr, StatusBar1 = nullptr, ToolTips = nullptr;
    HMENU MainMenu1 = nullptr, PopupMenu1 = nullptr;
    HACCEL Shortcuts = nullptr;
    bool SpeedButtonPauseDown = false;

    // capture
    bool Started = false;
    bool WaitingForProcess = false;
    uint32_t SpiedProcessId = 0;
    HANDLE SemaphoreHandle = nullptr;
    HANDLE MappingHandle = nullptr;
    void* ControlView = nullptr;
    int32_t SocketsCreated = 0, SocketsClosed = 0, SocketsCurrent = 0;
    int32_t BytesReceived = 0, BytesSent = 0;
    SpiedProcessWatch SpiedProcess = {};   // notices a process that ends without detaching

    // log buffer and backlog
    BacklogEntry* PendingHead = nullptr;
    BacklogEntry* PendingTail = nullptr;
    HANDLE BacklogHeap = nullptr;
    // The backlog heap is the user-interface thread's alone; the process heap, where entries go
    // when the backlog is full, is shared with every thread of the process.
    DWORD HeapFlags(HANDLE heap) const { return heap == BacklogHeap ? HEAP_NO_SERIALIZE : 0; }
    int32_t BacklogUsed = 0;
    UINT_PTR DisplayTimer = 0;
    DWORD LastDisplayTick = 0;      // GetTickCount of the last display tick
    bool LogBufferFrozen = false;   // Memo1 does not redraw until the next display tick
    ScrollBars FrozenScrollBars = {};   // Memo1's scroll bars when it stopped redrawing
    // Batches shown since the last display tick, on their way into Memo1 (LogBufferCatchUp.cpp).
    ShownBatch* ShownHead = nullptr;
    ShownBatch* ShownTail = nullptr;
    int64_t ShownLength = 0;                // characters of the whole chain
    ShownBatch* PlainTailStart = nullptr;   // the first of the chain's last batches that are all
    int64_t PlainTailLength = 0;            // plain text, and their length
    bool CatchingUp = false;        // Memo1 is being brought up to date
    LogBufferPace CatchUpPace;      // how fast Memo1 has taken text in
    int64_t FixedTickBudget = 0;    // a tick's budget fixed (tests); 0: TickBudget works it out
    DWORD LabelsChangedAt = 0;      // GetTickCount when the first unpainted count came
    bool Paused = false;
    int32_t BufferSize = 32768;
    int32_t UpdateInterval = 225;
    bool Colors = true;
    int32_t BacklogSize = 4194304;
    bool ShowBacklog = false;

    // log file
    LogWriter* LogFile = nullptr;   // null when no log file is written

    // data rendering
    int32_t Detail = 2;
    bool HexOnly = false;
    SocketModes TrackedSockets;

    // the shared click handler: dispatches by the sender's id
    void OnClick(UINT sender);

    // start-up and main window
    void ShowLongHint(const char* hint);
    void UpdateEditCommands();
    void EditCommand(int command);
    void OnPopup();
    void ShowHelpContents();
    void ShowHomePage();
    void ShowAboutBox();
    bool OnCloseQuery();
    void OnClose();
    const char* HintOf(UINT id) const;
    int32_t TagOf(UINT id) const;

    // capture
    void StartSpying();
    void StopSpying(bool exiting);
    LRESULT HandleCopyData(const COPYDATASTRUCT* data);
    LRESULT HandleRecord(const uint8_t* record, uint32_t length);
    void CloseSharedObjects(bool hourglass);
    void CheckSpiedProcess();
    bool WaitForNextProcess();
    void StopForLackOfMemory();
    void ResetCounters();
    void SetRunningState(bool started);
    // Shows the count in the label: read back at once, painted at the next display tick.
    void FormatCount(HWND label, int32_t value);
    const std::string* PendingLabelText(HWND label) const;   // null when the label shows its text
    bool LabelsChanged() const { return !pendingLabels.empty(); }   // a count is not yet painted
    void PaintCounterLabels();
    void SubclassCounterLabels();

    // log buffer and display
    bool AddLine(const char* text, int32_t kind, bool forced, int32_t length = -1);
    bool AddStatusLine(const char* text) { return AddLine(text, StatusLine, true); }
    bool AddMessageLine(const char* text, bool forced) { return AddLine(text, MessageLine, forced); }
    bool AddErrorLine(const char* text) { return AddLine(text, ErrorLine, true); }
    BacklogEntry* NewBacklogEntry(int32_t length, int32_t kind);
    void QueueEntries(BacklogEntry* first, BacklogEntry* last);
    void DiscardEntries(BacklogEntry** chain);
    void DiscardEntries() { DiscardEntries(&PendingHead); PendingTail = nullptr; }
    int32_t FreeBacklogEntry(BacklogEntry* entry);   // returns the size it freed in the backlog heap
    bool ShowNextBatch();
    int32_t TrimLogBuffer(int32_t incoming);
    // Deletes whole lines from the top of the log buffer until at most room characters are left.
    int32_t TrimLogBufferTo(int32_t room);
    // Trims for the text, then appends it at the end in its colour.
    void ShowInLogBuffer(const char* text, int32_t length, COLORREF colour);
    void AppendToLogBuffer(const char* text, COLORREF colour);
    void FreezeLogBuffer();
    // the batches between shown and in Memo1
    ShownBatch* NewShownBatch(int32_t length, int32_t kind);
    void QueueShownBatch(ShownBatch* batch);
    void DiscardShownBatches();
    // Brings Memo1 up to date with the shown batches; anything that asks Memo1 does this first.
    void CatchUpLogBuffer();
    // The characters that bringing the chain in may put into Memo1: what fits a share of the
    // update interval at the pace Memo1 has shown.
    int64_t TickBudget() const;
    static const int64_t NoBudget = INT64_MAX;
    // Leaves in the chain its newest text of at most budget characters, after a line that says
    // lines were skipped: a chain longer than a tick can bring in is cut so.
    void SkipToNewest(int64_t budget);
    // Appends the batches from the given one on, the first from the given offset.
    void AppendShownBatches(const ShownBatch* from, int32_t offset);
    // Appends them as one rich text when their colours change; false when they did not go in.
    bool AppendAsRichText(const ShownBatch* from, int32_t offset);
    void SubclassLogBuffer();
    int32_t LogBufferLength() const;
    void HandleDisplayTimer();
    // The display tick's work: every waiting line shown, batch by batch, and the log buffer
    // brought up to date within the tick's budget and painted.
    void ShowEverythingWaiting();
    void StartDisplayTimer();
    // Runs the display tick from a record when a flood of records has kept WM_TIMER away.
    void TickIfOverdue();
    // Paints what changed since the last display tick: the log buffer and the counter labels.
    void RefreshDisplay();
    bool OpenBacklog();
    void CloseBacklog();
    void Pause();
    void Resume();
    // The pause tool button, the Pause/Resume button and their hints, as paused or not.
    void ShowPauseButtons(bool paused);
    void Clear();
    void ToggleColors();
    void ToggleShowBacklog();
    void SetBufferSize(UINT sender);
    void SetUpdateInterval(UINT sender);
    void SetBacklogSize(UINT sender);
    void CheckBufferSize();
    void CheckUpdateInterval();
    void CheckBacklogSize();
    void UpdateBacklogGauge();
    bool LogFileOnly() const;

    // log file
    bool OpenLogFile(const char* name);
    void WriteLogText(const char* text, int32_t kind, int32_t length = -1);
    void WriteLogLine(const char* text, int32_t kind, int32_t length);
    void CloseLogFile();
    void Browse();

    // data rendering
    bool AddHexDump(const uint8_t* data, int32_t count, int32_t from);
    TrackedSocket* FindTrackedSocket(uint32_t socket) { return ::FindTrackedSocket(TrackedSockets, socket); }
    void FreeTrackedSockets() { ::FreeTrackedSockets(TrackedSockets); }
    void SetShowData(UINT sender);
    void ToggleHexOnly();
    void CheckDetail();

    // settings
    void LoadSettings();
    void SaveSettings();

    // menu state helpers
    void EnableItem(UINT id, bool enabled);
    void CheckItem(UINT id, bool checked);
    bool ItemChecked(UINT id) const;
    void SetStatusText(int panel, const char* text);
    std::string LogFileName() const;
    void SetControlHint(UINT id, const std::string& hint) { controlHints[id] = hint; }
    // The application's hint moved to this text; shows it when it changed.
    void HintChanged(const char* hint);
    bool QuitOnDestroy = false;   // the program's own window ends the message loop

private:
    TForm1() = default;
    void CreateControls(HINSTANCE instance);
    void LayOut();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void DrawSpeedButton(const DRAWITEMSTRUCT* item);
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    struct PendingLabel {
        HWND label;
        std::string text;
    };
    std::vector<PendingLabel> pendingLabels;   // counter texts the labels have not been given yet
    std::map<UINT, std::string> controlHints;   // hints of the buttons; Pause changes its own
    std::string shownHint;
    HFONT formFont = nullptr;
    HFONT memoFont = nullptr;
    HBRUSH readOnlyBrush = nullptr;
    HWND focusBeforeMenu = nullptr;
};

// The window's TForm1, or null.
TForm1* FormOfWindow(HWND window);
