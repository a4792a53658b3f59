#include "ControlReports.h"
#include "Channel.h"
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
