// The capture as the window sees it: Start and Stop, the records of the traced process, the
// counters and the two running states of the controls.
//
// The shared control block and the layer's installation belong to the capture control proper
// and are added beside these handlers; until then Start and Stop switch the viewer's own parts
// (backlog, log file, controls), and records are taken only from a process already accepted.
#include "Form1.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "../common/ControlBlock.h"
#include "../common/LogRecord.h"
#include "CountFormat.h"

using namespace Id;

const char* const WaitingStatusText = "the next process to start and make a socket call will be spyed";
const char* const StoppedByUserText = "stopped by user";
const char* const OutOfMemoryText = "out of memory";

namespace {

const char CloseQuestion[] = "Do you want to stop processing and exit?";

}  // namespace

void TForm1::StartSpying()
{
    HCURSOR normal = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    SetWindowTextA(Memo1, "");
    if (!OpenBacklog()) {
        SetCursor(normal);
        throw ViewerError("could not create heap");
    }
    std::string name = LogFileName();
    if (!OpenLogFile(name.c_str())) {
        CloseBacklog();
        SetFocus(EditLogFile);
        SetCursor(normal);
        throw ViewerError("could not create log file");
    }
    SetRunningState(true);
    AddStatusLine(WaitingStatusText);
    WaitingForProcess = true;
    ResetCounters();
    SetCursor(normal);
}

void TForm1::StopSpying(bool)
{
    Paused = false;
    ShowNextBatch();
    CloseBacklog();
    KillTimer(Handle, 1);
    DisplayTimer = 0;
    FreeTrackedSockets();
    CloseLogFile();
    SetRunningState(false);
}

LRESULT TForm1::HandleCopyData(const COPYDATASTRUCT* data)
{
    if (!Started || !data)
        return 0;
    if (WaitingForProcess)
        return 0;   // only a process that claimed the control block is accepted
    if (data->dwData != SpiedProcessId)
        return 1;
    return HandleRecord(static_cast<const uint8_t*>(data->lpData), data->cbData);
}

bool TForm1::ActOnRecord(const RecordParts& parts)
{
    int32_t payloadLength = parts.payloadLength;
    uint32_t payloadPresent = parts.payloadPresent;
    const uint8_t* payload = parts.payload;
    const char* text = parts.text;
    bool ok = true;
    if (payloadLength <= 0 || payloadPresent < KindPayloadSize) {
        if (text)
            ok = AddMessageLine(text, false);
    } else {
        DWORD kind;
        memcpy(&kind, payload, sizeof kind);
        DWORD socket = 0;
        if (payloadPresent >= SocketPayloadSize)
            memcpy(&socket, payload + KindPayloadSize, sizeof socket);
        bool tracking = Detail == 2 && !HexOnly;
        switch (kind) {
        case RecordProcessAttached:
            // the provider always names the process; without a text there is nothing to show
            if (text)
                ok = AddMessageLine(text, true);
            break;
        case RecordSocketCreated:
            if (text)
                ok = AddMessageLine(text, false);
            if (ok && tracking)
                ok = TrackSocket(socket);
            if (ok) {
                FormatCount(LabelSCreated, ++SocketsCreated);
                FormatCount(LabelSCurrent, ++SocketsCurrent);
            }
            break;
        case RecordSocketClosed:
            if (text)
                ok = AddMessageLine(text, false);
            if (ok) {
                if (tracking)
                    if (TrackedSocket* entry = FindTrackedSocket(socket))
                        UntrackSocket(entry);
                FormatCount(LabelSClosed, ++SocketsClosed);
                FormatCount(LabelSCurrent, --SocketsCurrent);
            }
            break;
        case RecordDataSent:
        case RecordDataReceived: {
            DataPayloadHeader header = {};
            memcpy(&header, payload, payloadPresent < DataHeaderSize ? payloadPresent : DataHeaderSize);
            int32_t present = payloadPresent > DataHeaderSize ? int32_t(payloadPresent - DataHeaderSize) : 0;
            int32_t shown = header.count < uint32_t(present) ? int32_t(header.count) : present;
            int32_t& total = kind == RecordDataSent ? BytesSent : BytesReceived;
            total = int32_t(uint32_t(total) + header.count);
            ok = AddDataRecord(socket, payload + DataHeaderSize, shown, text ? text : "");
            FormatCount(kind == RecordDataSent ? LabelTransSent : LabelTransRecvd, total);
            break;
        }
        case RecordProcessDetached:
            if (text)
                ok = AddMessageLine(text, true);
            if (ok) {
                ok = AddStatusLine(WaitingStatusText);
                WaitingForProcess = true;
            }
            break;
        default:
            if (text)
                ok = AddMessageLine(text, false);
            break;
        }
    }
    return ok;
}

LRESULT TForm1::HandleRecord(const uint8_t* record, uint32_t size)
{
    if (!record || size < RecordLengthSize)
        return 0;
    int32_t payloadLength;
    memcpy(&payloadLength, record, sizeof payloadLength);
    // A record is trusted no further than the bytes the message holds.
    uint32_t available = size - RecordLengthSize;
    uint32_t payloadPresent = payloadLength <= 0 ? 0 : std::min(uint32_t(payloadLength), available);
    const uint8_t* payload = record + RecordLengthSize;
    // The text is used in place when its NUL lies inside the message; a text cut off by the
    // message's end is copied so that it ends in one.
    std::string textCopy;
    const char* text = nullptr;
    bool ok = true;   // false when an allocation failed
    if (payloadLength >= 0 && available > uint32_t(payloadLength)) {
        const char* start = reinterpret_cast<const char*>(payload + payloadLength);
        size_t room = available - uint32_t(payloadLength);
        if (memchr(start, 0, room)) {
            text = start;
        } else {
            try {
                textCopy.assign(start, room);
                text = textCopy.c_str();
            } catch (const std::bad_alloc&) {
                ok = false;
            }
        }
    }

    if (ok)
        ok = ActOnRecord({payloadLength, payloadPresent, payload, text});
    if (!ok) {
        DiscardEntries();
        bool shown = AddErrorLine(OutOfMemoryText);
        StopSpying(false);
        if (!shown)
            MessageBoxA(Handle, OutOfMemoryText, MainWindowCaption, MB_OK | MB_ICONERROR);
    }
    return 0;
}

void TForm1::ResetCounters()
{
    SocketsCreated = SocketsClosed = SocketsCurrent = BytesReceived = BytesSent = 0;
    for (HWND label : {LabelSCreated, LabelSClosed, LabelSCurrent, LabelTransRecvd, LabelTransSent})
        FormatCount(label, 0);
}

void TForm1::FormatCount(HWND label, int32_t value)
{
    SetWindowTextA(label, FormatCountText(value).c_str());
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
        SpeedButtonPauseDown = false;
        InvalidateRect(SpeedButtonPause, nullptr, TRUE);
        SetControlHint(Id::SpeedButtonPause, std::string("Pause|") + HintOf(MenuItemPause));
        SetWindowTextA(ButtonPause, "&Pause");
        SetControlHint(Id::ButtonPause, std::string("|") + HintOf(MenuItemPause));
    }
    InvalidateRect(EditLogFile, nullptr, TRUE);
}

bool TForm1::OnCloseQuery()
{
    if (!Started)
        return true;
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
