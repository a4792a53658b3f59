#include "TraceRun.h"

#include <cstdio>
#include <string>

#include "CaptureChannel.h"
#include "CaptureLines.h"
#include "Installer.h"
#include "LineKind.h"
#include "LogRecord.h"
#include "TraceOutput.h"
#include "WindowsErrorText.h"

namespace {

const char WindowClassName[] = "KestrixRunWindow";
const char LayerFileName[] = "KESTRIXLAYER.DLL";
const char CouldNotInitialize[] = "could not initialize";
const char NotAdministrator[] =
    "administrator rights are needed to change the Winsock catalog: run kestrixrun elevated";
const char LayerName[] = "Kestrix";
const char CouldNotCreateLogText[] = "could not create log file";
// Ctrl+C and Ctrl+Break, handled on a thread of the console's, reach the capture as this message.
const UINT StopMessage = WM_APP + 1;
// A console being closed ends the process soon after its handler returns: time for the cleanup.
const DWORD CloseCleanupMs = 4000;

struct TraceRunState {
    CaptureChannel channel = {};
    HWND window = nullptr;
    TraceOutput output;
    LARGE_INTEGER startCount = {}, frequency = {};
    HANDLE startedProcess = nullptr;   // the program kestrixrun started; null with --wait
    HANDLE tracedProcess = nullptr;    // the process whose records are taken, once it claimed
    DWORD tracedProcessId = 0;
    bool waitingForClaim = true;
    bool captureOver = false;
    bool stoppedByUser = false;
    bool writeFailed = false;          // the output could not take a record: nothing more is traced
    volatile LONG stopRequested = 0;   // set by the console handler's thread
};

TraceRunState* volatile activeRun;
HANDLE cleanupDone;

double SecondsSinceStart(const TraceRunState& run)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - run.startCount.QuadPart) / double(run.frequency.QuadPart);
}

void Fail(const std::string& message)
{
    fprintf(stderr, "kestrixrun: %s\n", message.c_str());
}

uint64_t MicrosecondsSince1970(const FILETIME& time)
{
    const uint64_t FileTimeOf1970 = 116444736000000000ull;   // in 100-ns units since 1601
    uint64_t ticks = uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    return ticks > FileTimeOf1970 ? (ticks - FileTimeOf1970) / 10 : 0;
}

// The layer is expected beside kestrixrun.exe; empty when the path does not fit.
std::string LayerPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return "";
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1) + LayerFileName;
}

void EndCapture(TraceRunState& run, const char* errorLine)
{
    if (run.captureOver)
        return;
    if (errorLine)
        run.output.CaptureLine(errorLine, ErrorLine, SecondsSinceStart(run));
    run.captureOver = true;
    CloseControlBlock(run.channel);
}

LRESULT HandleCopyData(TraceRunState& run, const COPYDATASTRUCT* data)
{
    if (!data)
        return 0;
    if (run.captureOver)
        return 1;   // the capture is over: the sender stops sending
    DWORD processId = DWORD(data->dwData);
    if (run.waitingForClaim) {
        if (!AcceptClaim(run.channel, processId))
            return 0;
        run.waitingForClaim = false;
        run.tracedProcessId = processId;
        run.tracedProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    } else if (processId != run.tracedProcessId) {
        return 1;
    }
    ReceivedRecord record;
    OutputResult result;
    try {
        if (!ReceiveRecord(data->lpData, data->cbData, record))
            return 0;
        result = run.output.Record(record, processId, SecondsSinceStart(run));
    } catch (const std::bad_alloc&) {
        result = OutputResult::OutOfMemory;
    }
    if (result == OutputResult::OutOfMemory) {
        EndCapture(run, OutOfMemoryText);
    } else if (result == OutputResult::WriteFailed) {
        run.writeFailed = true;
        EndCapture(run, nullptr);
    } else if (record.view.payloadLength >= KindPayloadSize && record.view.kind == RecordProcessDetached) {
        EndCapture(run, nullptr);
    }
    return 0;
}

LRESULT CALLBACK RunWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TraceRunState* run = activeRun;
    if (run && message == WM_COPYDATA)
        return HandleCopyData(*run, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (run && message == StopMessage) {
        run->stoppedByUser = true;
        EndCapture(*run, StoppedByUserText);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    TraceRunState* run = activeRun;
    if (!run)
        return FALSE;   // no capture to end: the default handler ends kestrixrun
    InterlockedExchange(&run->stopRequested, 1);
    PostMessageA(run->window, StopMessage, 0, 0);
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        WaitForSingleObject(cleanupDone, CloseCleanupMs);
    return TRUE;
}

bool CreateRunWindow(TraceRunState& run)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RunWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WindowClassName;
    RegisterClassA(&windowClass);
    run.window = CreateWindowExA(0, WindowClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
    return run.window != nullptr;
}

// Takes messages until the capture is over. A process that ends without its detach record ends
// the capture with the viewer's error line; the started program ending before any process
// claimed the block ends it with nothing traced.
void TakeRecords(TraceRunState& run)
{
    while (!run.captureOver) {
        HANDLE handles[2];
        DWORD count = 0;
        HANDLE traced = run.waitingForClaim ? nullptr : run.tracedProcess;
        if (traced)
            handles[count++] = traced;
        if (run.startedProcess && run.waitingForClaim)
            handles[count++] = run.startedProcess;
        DWORD woken = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
        if (woken < WAIT_OBJECT_0 + count) {
            if (handles[woken - WAIT_OBJECT_0] == traced) {
                // its last records may still be queued
                MSG message;
                while (!run.captureOver && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&message);
                EndCapture(run, SpiedProcessEndedText);
            } else {
                EndCapture(run, nullptr);
            }
            continue;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
}

DWORD ExitCodeOf(HANDLE process)
{
    DWORD code = RunFailedExitCode;
    if (process) {
        WaitForSingleObject(process, INFINITE);
        GetExitCodeProcess(process, &code);
    }
    return code;
}

// Whether the process may change the Winsock catalog: a member of the Administrators group, and
// elevated where the system separates the two (a filtered token has the group for denying only).
bool RunsAsAdministrator()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

}  // namespace

int RunTrace(const RunOptions& options)
{
    static TraceRunState run;   // the console handler's thread reaches it for the whole run
    QueryPerformanceFrequency(&run.frequency);
    QueryPerformanceCounter(&run.startCount);
    FILETIME startTime;
    GetSystemTimeAsFileTime(&startTime);

    // Refused before anything is touched, rather than failing half-way through the catalog.
    if (!RunsAsAdministrator()) {
        Fail(NotAdministrator);
        return RunFailedExitCode;
    }

    if (!CreateRunWindow(run)) {
        Fail("could not create a window: " + WindowsErrorText(GetLastError()));
        return RunFailedExitCode;
    }
    // From here on Ctrl+C ends the capture in order rather than the process, so that it never
    // leaves the catalog half written.
    cleanupDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    activeRun = &run;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    auto refuse = [](const std::string& message) {
        activeRun = nullptr;
        SetEvent(cleanupDone);
        Fail(message);
        return RunFailedExitCode;
    };
    // Another viewer or kestrixrun owns the channel: refused before anything is touched.
    if (const char* error = CreateCaptureChannel(run.channel))
        return refuse(error);
    if (!run.output.Open(options, MicrosecondsSince1970(startTime))) {
        DestroyCaptureChannel(run.channel);
        return refuse(run.output.WriteFailure().empty() ? CouldNotCreateLogText : run.output.WriteFailure());
    }
    PublishControlBlock(run.channel, run.window, DWORD(options.detail));
    std::string layer = LayerPath();
    std::string note; // why 32-bit programs are not traced, or why the installation failed
    if (layer.empty() || InstallLayerEverywhere(layer.c_str(), LayerName, &note) == -1) {
        run.output.Close();
        DestroyCaptureChannel(run.channel);
        return refuse(note.empty() ? CouldNotInitialize : std::string(CouldNotInitialize) + ": " + note);
    }
    // Said on standard error, so that the file stays the viewer's log file for the same records.
    if (!note.empty())
        Fail(note);
    run.output.CaptureLine(WaitingStatusText, StatusLine, SecondsSinceStart(run));
    if (options.wait)
        fprintf(stderr, "kestrixrun: %s\n", WaitingStatusText);

    bool started = true;
    if (run.stopRequested) {
        run.stoppedByUser = true;
        EndCapture(run, StoppedByUserText);
    } else if (!options.wait) {
        std::string commandLine = CommandLineOf(options.command);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
        if (started) {
            CloseHandle(process.hThread);
            run.startedProcess = process.hProcess;
        } else {
            Fail("cannot start " + options.command[0] + ": " + WindowsErrorText(GetLastError()));
            EndCapture(run, nullptr);
        }
    }
    TakeRecords(run);

    activeRun = nullptr;
    DestroyCaptureChannel(run.channel);
    RemoveLayerEverywhere();
    if (!run.output.Close())
        run.writeFailed = true;
    DestroyWindow(run.window);
    SetEvent(cleanupDone);

    int exitCode;
    if (run.writeFailed) {
        // the program runs on untraced
        Fail(run.output.WriteFailure());
        exitCode = RunFailedExitCode;
    } else if (!started) {
        exitCode = RunFailedExitCode;
    } else if (run.stoppedByUser) {
        exitCode = int(STATUS_CONTROL_C_EXIT);
    } else {
        exitCode = int(ExitCodeOf(run.startedProcess ? run.startedProcess : run.tracedProcess));
    }
    if (run.startedProcess)
        CloseHandle(run.startedProcess);
    if (run.tracedProcess)
        CloseHandle(run.tracedProcess);
    return exitCode;
}
