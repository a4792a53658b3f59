// The capture as the window sees it: Start and Stop, the shared control block that one traced
// process at a time claims, the records of that process, the counters and the two running
// states of the controls.
#include "Form1.h"

#include <cstring>
#include <new>

#include "../common/ControlBlock.h"
#include "../common/LogRecord.h"
#include "CaptureChannel.h"
#include "Installer.h"

using namespace Id;

namespace {

const char CloseQuestion[] = "Do you want to stop processing and exit?";
const char LayerFileName[] = "KESTRIXLAYER.DLL";
const char LayerName[] = "Kestrix";
const char CouldNotInitialize[] = "could not initialize";
const int InstallNotePanel = 2;   // the status bar's last part; hints use the first, the state the second

// The display timer is 1; this one looks once a second for a traced process that died.
const UINT_PTR SpiedProcessTimerId = 2;
const UINT SpiedProcessCheckInterval = 1000;

// The layer is expected beside the viewer's working directory; empty when the directory does
// not fit the buffer.
std::string LayerPath()
{
    char directory[256];
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory)
        return "";
    std::string path(directory, length);
    if (path.back() != '\\')
        path += '\\';
    return path + LayerFileName;
}

// A rendered record in the window: its lines go to the log file and the backlog, its counts to
// the labels.
class FormSink final : public RecordSink {
public:
    explicit FormSink(TForm1& form) : form(form) {}
    bool Line(int32_t kind, const char* text, size_t length, bool forced) override
    {
        return form.AddLine(text, kind, forced, int32_t(length));
    }
    bool HexDump(const uint8_t* data, size_t count, size_t from) override
    {
        return form.AddHexDump(data, int32_t(count), int32_t(from));
    }
    bool MakeRoom() override { return form.ShowNextBatch(); }
    void Count(TraceCounter counter, uint32_t amount) override
    {
        switch (counter) {
        case CounterSocketsCreated:
            form.FormatCount(form.LabelSCreated, ++form.SocketsCreated);
            form.FormatCount(form.LabelSCurrent, ++form.SocketsCurrent);
            break;
        case CounterSocketsClosed:
            form.FormatCount(form.LabelSClosed, ++form.SocketsClosed);
            form.FormatCount(form.LabelSCurrent, --form.SocketsCurrent);
            break;
        case CounterBytesReceived:
            form.BytesReceived = int32_t(uint32_t(form.BytesReceived) + amount);
            form.FormatCount(form.LabelTransRecvd, form.BytesReceived);
            break;
        case CounterBytesSent:
            form.BytesSent = int32_t(uint32_t(form.BytesSent) + amount);
            form.FormatCount(form.LabelTransSent, form.BytesSent);
            break;
        }
    }

private:
    TForm1& form;
};

}  // namespace

static CaptureChannel ChannelOf(const TForm1& form)
{
    return {form.SemaphoreHandle, form.MappingHandle, static_cast<ControlBlock*>(form.ControlView)};
}

void TForm1::StartSpying()
{
    HCURSOR normal = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    auto fail = [&](const char* message) {
        SetCursor(normal);
        throw ViewerError(message);
    };
    DiscardShownBatches();
    SetWindowTextA(Memo1, "");
    CaptureChannel channel = ChannelOf(*this);
    if (!SemaphoreHandle) {
        if (const char* error = CreateCaptureChannel(channel))
            fail(error);
        PublishControlBlock(channel, Handle, DWORD(Detail));
        std::string path = LayerPath();
        // Why 32-bit programs are not traced, or why the installation failed: said once, in
        // the status bar, since only the first Start installs.
        std::string note;
        bool installed = !path.empty() && InstallLayerEverywhere(path.c_str(), LayerName, &note) != -1;
        if (!note.empty())
            SetStatusText(InstallNotePanel, note.c_str());
        if (!installed) {
            DestroyCaptureChannel(channel);
            fail(CouldNotInitialize);
        }
        SemaphoreHandle = channel.semaphore;
        MappingHandle = channel.mapping;
        ControlView = channel.block;
    } else {
        RearmControlBlock(channel, DWORD(Detail));
    }
    if (!OpenBacklog()) {
        CloseSharedObjects(false);
        fail("could not create heap");
    }
    std::string name = LogFileName();
    if (!OpenLogFile(name.c_str())) {
        CloseBacklog();
        CloseSharedObjects(false);
        SetFocus(EditLogFile);
        fail("could not create log file");
    }
    SetRunningState(true);
    AddStatusLine(WaitingStatusText);
    WaitingForProcess = true;
    ResetCounters();
    SetCursor(normal);
}

void TForm1::StopSpying(bool exiting)
{
    Paused = false;
    ShowNextBatch();
    CatchUpLogBuffer();
    CloseBacklog();
    KillTimer(Handle, 1);
    DisplayTimer = 0;
    KillTimer(Handle, SpiedProcessTimerId);
    StopWatchingProcess(SpiedProcess);
    FreeTrackedSockets();
    CloseLogFile();
    if (exiting) {
        CloseSharedObjects(true);
    } else if (SemaphoreHandle) {
        CaptureChannel channel = ChannelOf(*this);
        CloseControlBlock(channel);
    }
    SetRunningState(false);
}

void TForm1::CloseSharedObjects(bool hourglass)
{
    HCURSOR normal = hourglass ? SetCursor(LoadCursor(nullptr, IDC_WAIT)) : nullptr;
    RemoveLayerEverywhere();
    CaptureChannel channel = ChannelOf(*this);
    DestroyCaptureChannel(channel);
    SemaphoreHandle = MappingHandle = nullptr;
    ControlView = nullptr;
    if (hourglass)
        SetCursor(normal);
}

LRESULT TForm1::HandleCopyData(const COPYDATASTRUCT* data)
{
    if (!Started || !data)
        return 0;
    if (WaitingForProcess) {
        CaptureChannel channel = ChannelOf(*this);
        if (!ControlView || !AcceptClaim(channel, DWORD(data->dwData)))
            return 0;
        WaitingForProcess = false;
        SpiedProcessId = uint32_t(data->dwData);
        ResetCounters();
        WatchSpiedProcess(SpiedProcess, SpiedProcessId);
        SetTimer(Handle, SpiedProcessTimerId, SpiedProcessCheckInterval, nullptr);
    } else if (data->dwData != SpiedProcessId) {
        return 1;
    }
    LRESULT result = HandleRecord(static_cast<const uint8_t*>(data->lpData), data->cbData);
    TickIfOverdue();
    return result;
}

bool TForm1::WaitForNextProcess()
{
    KillTimer(Handle, SpiedProcessTimerId);
    StopWatchingProcess(SpiedProcess);
    if (ControlView) {
        CaptureChannel channel = ChannelOf(*this);
        ReopenControlBlock(channel);
    }
    WaitingForProcess = true;
    return AddStatusLine(WaitingStatusText);
}

void TForm1::CheckSpiedProcess()
{
    if (!Started || WaitingForProcess) {
        KillTimer(Handle, SpiedProcessTimerId);
        return;
    }
    if (!SpiedProcessEnded(SpiedProcess))
        return;
    if (!AddErrorLine(SpiedProcessEndedText) || !WaitForNextProcess())
        StopForLackOfMemory();
}

void TForm1::StopForLackOfMemory()
{
    DiscardEntries();
    bool shown = AddErrorLine(OutOfMemoryText);
    StopSpying(false);
    if (!shown)
        MessageBoxA(Handle, OutOfMemoryText, MainWindowCaption, MB_OK | MB_ICONERROR);
}

LRESULT TForm1::HandleRecord(const uint8_t* data, uint32_t size)
{
    ReceivedRecord record;
    if (!ReceiveRecord(data, size, record))
        return 0;
    FormSink sink(*this);
    bool ok = RenderRecord(record, {Detail, HexOnly}, TrackedSockets, sink);
    if (ok && record.view.payloadLength >= KindPayloadSize && record.view.kind == RecordProcessDetached)
        ok = WaitForNextProcess();
    if (!ok)
        StopForLackOfMemory();
    return 0;
}

void TForm1::ResetCounters()
{
    SocketsCreated = SocketsClosed = SocketsCurrent = BytesReceived = BytesSent = 0;
    for (HWND label : {LabelSCreated, LabelSClosed, LabelSCurrent, LabelTransRecvd, LabelTransSent})
        FormatCount(label, 0);
}

void TForm1::SetRunningState(bool started)
{
    Started = started;
    SendMessageA(EditLogFile, EM_SETREADONLY, started, 0);
    EnableWindow(CheckBoxLogFileOnly, !started);
    EnableWindow(ButtonBrowse, !started);
    EnableItem(MenuItemStart, !started);
    EnableWindow(SpeedButtonStart, !started);
    EnableWindow(ButtonStart, !started);
    SendMessageA(ButtonStart, BM_SETSTYLE, started ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON, TRUE);
    for (UINT item : {MenuItemStop, MenuItemReset, MenuItemPause})
        EnableItem(item, started);
    for (HWND control : {SpeedButtonStop, ButtonStop, SpeedButtonPause, ButtonPause})
        EnableWindow(control, started);
    for (UINT item : {MMenuItemBacklogSize1MB, MMenuItemBacklogSize4MB, MMenuItemBacklogSize10MB, MenuItemHexOnly,
                      MMenuItemLow, MMenuItemMedium, MMenuItemHigh})
        EnableItem(item, !started);
    SetStatusText(1, started ? StatusStarted : StatusStopped);
    if (!started) {
        Paused = false;
        EnableItem(MenuItemResume, false);
        ShowPauseButtons(false);
    }
    InvalidateRect(EditLogFile, nullptr, TRUE);
}

bool TForm1::OnCloseQuery()
{
    if (!Started) {
        if (SemaphoreHandle)
            CloseSharedObjects(true);
        return true;
    }
    if (MessageBoxA(Handle, CloseQuestion, MainWindowCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    DiscardEntries();
    AddErrorLine(StoppedByUserText);
    StopSpying(true);
    return true;
}

void TForm1::OnClose()
{
    SaveSettings();
}
