#include "ControlReports.h"
#include "Channel.h"
#include "ControlBlock.h"
#include "Formatting.h"
#include "SocketContext.h"
#include <cstdio>
#include <cstring>

static const char* const AsyncSelectedText =
    "socket (%s) requested message-based event notification and enabled its nonblocking mode "
    "%s";
static const char* const NotAsyncSelectedText =
    "socket (%s) could not request message-based event notification and enable its nonblocking "
    "mode %s - %s";
static const char* const EventSelectedText =
    "socket (%s) specified an event object to be associated with the supplied set of network "
    "events and enabled its nonblocking mode %s";
static const char* const NotEventSelectedText =
    "socket (%s) could not specify an event object to be associated with the supplied set of "
    "network events and enable its nonblocking mode %s - %s";

// The state is kept whether or not a viewer is watching: it is the socket's, not the trace's.
static void SendSelectText(int result, const char* selectedText, const char* notSelectedText,
                           SOCKET socket, const char* arguments, const int* errorCell)
{
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    if (result == SOCKET_ERROR)
        SendTextRecord(notSelectedText, number, arguments, ErrorText(*errorCell, errorScratch),
                       nullptr);
    else
        SendTextRecord(selectedText, number, arguments, nullptr);
}

void ReportAsyncSelect(int result, SocketContext* context, SOCKET socket, HWND window,
                       UINT message, LONG eventMask, const int* errorCell)
{
    if (result != SOCKET_ERROR && context) {
        context->blocking = 0;
        context->eventMask = eventMask;
    }
    if (!viewerWindow)
        return;
    char arguments[FormatBufferSize];
    sprintf(arguments, "[hWnd=%X, wMsg=%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(window)),
            message);
    AppendEventNames(arguments, eventMask);
    strcat(arguments, "]");
    SendSelectText(result, AsyncSelectedText, NotAsyncSelectedText, socket, arguments, errorCell);
}

void ReportEventSelect(int result, SocketContext* context, SOCKET socket, WSAEVENT event,
                       LONG eventMask, const int* errorCell)
{
    if (result != SOCKET_ERROR && context) {
        context->asyncWindow = nullptr;
        context->blocking = 0;
        context->eventMask = eventMask;
    }
    if (!viewerWindow)
        return;
    char arguments[FormatBufferSize];
    sprintf(arguments, "[hEventObject=%X",
            static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(event)));
    AppendEventNames(arguments, eventMask);
    strcat(arguments, "]");
    SendSelectText(result, EventSelectedText, NotEventSelectedText, socket, arguments, errorCell);
}

static const char* const RetrievedOptionText = "socket (%s) retrieved one of its options %s";
static const char* const NotRetrievedOptionText =
    "socket (%s) could not retrieve one of its options %s - %s";
static const char* const SetOptionText = "socket (%s) set one of its options %s";
static const char* const NotSetOptionText =
    "socket (%s) could not set one of its options %s - %s";

// A failure shows the option without its value, which the call did not give or take.
static void SendOptionText(int result, const char* doneText, const char* notDoneText,
                           SOCKET socket, int level, int option, const char* value,
                           const int* length, const int* errorCell)
{
    char number[NumberBufferSize], arguments[FormatBufferSize];
    char errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    if (result == SOCKET_ERROR) {
        FormatSockOptArgs(arguments, level, option, nullptr, length);
        SendTextRecord(notDoneText, number, arguments, ErrorText(*errorCell, errorScratch),
                       nullptr);
        return;
    }
    FormatSockOptArgs(arguments, level, option, value, length);
    SendTextRecord(doneText, number, arguments, nullptr);
}

void ReportGetSockOpt(int result, SOCKET socket, int level, int option, const char* value,
                      const int* length, const int* errorCell)
{
    if (viewerWindow)
        SendOptionText(result, RetrievedOptionText, NotRetrievedOptionText, socket, level, option,
                       value, length, errorCell);
}

void ReportSetSockOpt(int result, SOCKET socket, int level, int option, const char* value,
                      int length, const int* errorCell)
{
    if (viewerWindow)
        SendOptionText(result, SetOptionText, NotSetOptionText, socket, level, option, value,
                       &length, errorCell);
}

// By how: SD_RECEIVE, SD_SEND, SD_BOTH.
static const char* const ShutdownTexts[][2] = {
    {"socket (%s) disabled its receives", "socket (%s) could not disable its receives - %s"},
    {"socket (%s) disabled its sends", "socket (%s) could not disable its sends - %s"},
    {"socket (%s) disabled its sends and receives",
     "socket (%s) could not disable its sends and receives - %s"},
};
static const char* const NotShutdownText =
    "socket (%s) could not disable its sends and/or receives - %s";

void ReportShutdown(int result, SOCKET socket, int how, const int* errorCell)
{
    if (!viewerWindow)
        return;
    BOOL known = how >= SD_RECEIVE && how <= SD_BOTH;
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    if (result == SOCKET_ERROR)
        SendTextRecord(known ? ShutdownTexts[how][1] : NotShutdownText, number,
                       ErrorText(*errorCell, errorScratch), nullptr);
    else if (known)
        SendTextRecord(ShutdownTexts[how][0], number, nullptr);
}

static const char* const NonBlockingTexts[2][2] = {
    // value 0, then any other value; success, then failure
    {"socket (%s) disabled its nonblocking mode",
     "socket (%s) could not disable its nonblocking mode - %s"},
    {"socket (%s) enabled its nonblocking mode",
     "socket (%s) could not enable its nonblocking mode - %s"},
};
static const char* const ReadableCountText = "socket (%s) can receive %s bytes atomically";
static const char* const NoReadableCountText =
    "socket (%s) could not determine how many bytes it can receive atomically - %s";
static const char* const NoOobText = "socket (%s) does not have any OOB data waiting to be read";
static const char* const OobText = "socket (%s) has OOB data waiting to be read";
static const char* const NoOobStateText =
    "socket (%s) could not determine whether it has any OOB data to be read - %s";

// The 4-byte value of an application's buffer; FALSE when it is shorter or cannot be read.
static BOOL ReadWord(const void* buffer, DWORD length, DWORD* value)
{
    if (length < sizeof(DWORD) || IsBadReadPtr(buffer, sizeof(DWORD)))
        return FALSE;
    memcpy(value, buffer, sizeof(DWORD));
    return TRUE;
}

void ReportIoctl(int result, SOCKET socket, SocketContext* context, DWORD code, const void* input,
                 DWORD inputLength, const void* output, DWORD outputLength, DWORD,
                 const int* errorCell)
{
    BOOL failed = result == SOCKET_ERROR;
    DWORD value = 0;
    if (code == FIONBIO) {
        BOOL known = ReadWord(input, inputLength, &value);
        if (!failed && known && context)
            context->blocking = value == 0;
        if (!viewerWindow || !known)
            return;
    } else if (code == FIONREAD || code == SIOCATMARK) {
        if (!viewerWindow)
            return;
        if (!failed) {
            if (!ReadWord(output, outputLength, &value))
                return;
            if (code == FIONREAD && detailLevel == Low)
                return;
        }
    } else {
        return;
    }
    char number[NumberBufferSize], count[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    const char* error = failed ? ErrorText(*errorCell, errorScratch) : nullptr;
    if (code == FIONBIO)
        SendTextRecord(NonBlockingTexts[value != 0][failed], number, error, nullptr);
    else if (code == FIONREAD)
        SendTextRecord(failed ? NoReadableCountText : ReadableCountText, number,
                       failed ? error : FormatNumber(static_cast<LONG>(value), count), nullptr);
    else
        SendTextRecord(failed ? NoOobStateText : value == 1 ? NoOobText : OobText, number, error,
                       nullptr);
}
