#include "DataReports.h"
#include "Channel.h"
#include "ControlBlock.h"
#include "Formatting.h"
#include "SocketContext.h"
#include <cstring>

// How a data call runs, which picks its before-report.
enum CallMode { Asynchronous, Synchronous, NonBlocking, CallModeCount };

// Before-report texts by call mode, one table per call and socket class.
typedef const char* const ModeTexts[CallModeCount];

static ModeTexts RecvStreamTexts = {
    "socket (%s) receiving data asynchronously %s",
    "socket (%s) receiving data synchronously %s",
    "socket (%s) receiving data synchronously without blocking %s",
};
static ModeTexts RecvDatagramTexts = {
    "socket (%s) receiving a datagram asynchronously from its default address %s",
    "socket (%s) receiving a datagram synchronously from its default address %s",
    "socket (%s) receiving a datagram synchronously without blocking from its default address %s",
};
static ModeTexts RecvFromDatagramTexts = {
    "socket (%s) receiving a datagram asynchronously %s",
    "socket (%s) receiving a datagram synchronously %s",
    "socket (%s) receiving a datagram synchronously without blocking %s",
};
static ModeTexts SendStreamTexts = {
    "socket (%s) sending data asynchronously %s",
    "socket (%s) sending data synchronously %s",
    "socket (%s) sending data synchronously without blocking %s",
};
static ModeTexts SendDatagramTexts = {
    "socket (%s) sending a datagram asynchronously to its default address %s",
    "socket (%s) sending a datagram synchronously to its default address %s",
    "socket (%s) sending a datagram synchronously without blocking to its default address %s",
};
static ModeTexts SendToDatagramTexts = {
    "socket (%s) sending a datagram asynchronously %s",
    "socket (%s) sending a datagram synchronously %s",
    "socket (%s) sending a datagram synchronously without blocking %s",
};

static const char* const RecvUnknownText =
    "socket (%s) could not either receive data or receive a datagram from it default address %s - %s";
static const char* const RecvFromUnknownText =
    "socket (%s) could not either receive data or receive a datagram %s - %s";
static const char* const SendDefaultUnknownText =
    "socket (%s) could not either send data or send a datagram to its default address %s - %s";
static const char* const SendToUnknownText =
    "socket (%s) could not either send data or send a datagram %s - %s";

static const char* const RecvFailedText = "socket (%s) could not receive data - %s";
extern const char* const ReceivedText = "socket (%s) received %s bytes of data";
extern const char* const ClosedByPeerText =
    "socket (%s) did not receive any data, closed gracefully by peer";
static const char* const DatagramRecvFailedText = "socket (%s) could not receive a datagram - %s";
static const char* const DatagramReceivedText = "socket (%s) received a datagram that is %s bytes%s";
static const char* const PartialSuffix = " [flags=MSG_PARTIAL]";
static const char* const SendFailedText = "socket (%s) could not send data - %s";
static const char* const SentText = "socket (%s) sent %s bytes of data";
static const char* const DatagramSendFailedText = "socket (%s) could not send a datagram - %s";
static const char* const DatagramSentText = "socket (%s) sent a datagram that is %s bytes";

static const char* const TransmittingAsyncText =
    "socket (%s) transmitting file data asynchronously %s";
static const char* const TransmittingSyncText = "socket (%s) transmitting file data synchronously %s";
static const char* const TransmitFailedText = "socket (%s) could not transmit file data - %s";
static const char* const TransmittedUnknownText =
    "socket (%s) transmitted an undetermined amount of file data";
static const char* const TransmittedText = "socket (%s) transmitted %s bytes of file data";

static BOOL TextsWanted()
{
    return viewerWindow && detailLevel != Low;
}

static CallMode CallModeOf(const SocketContext* context, const void* overlapped)
{
    if ((context->flags & WSA_FLAG_OVERLAPPED) && overlapped)
        return Asynchronous;
    return context->blocking ? Synchronous : NonBlocking;
}

static void SendStartText(const ModeTexts& texts, const SocketContext* context,
                          const void* overlapped, const char* arguments)
{
    char number[NumberBufferSize];
    SendTextRecord(texts[CallModeOf(context, overlapped)],
                   FormatNumber(context->layeredHandle, number), arguments, nullptr);
}

static void SendUnknownText(const char* format, SOCKET socket, const char* arguments,
                            const int* errorCell)
{
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    SendTextRecord(format, FormatNumber(socket, number), arguments,
                   ErrorText(*errorCell, errorScratch), nullptr);
}

static void SendErrorText(const char* format, SOCKET socket, int error)
{
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    SendTextRecord(format, FormatNumber(socket, number), ErrorText(error, errorScratch), nullptr);
}

void ReportRecvUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                             const DWORD* flags, const int* errorCell)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatRecvArgs(arguments, buffers, bufferCount, flags);
    SendUnknownText(RecvUnknownText, socket, arguments, errorCell);
}

void ReportRecvFromUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                                 const DWORD* flags, const int* errorCell)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatRecvArgs(arguments, buffers, bufferCount, flags);
    SendUnknownText(RecvFromUnknownText, socket, arguments, errorCell);
}

void ReportSendUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount, DWORD flags,
                             const int* errorCell)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatSendArgs(arguments, buffers, bufferCount, flags, TRUE);
    SendUnknownText(SendDefaultUnknownText, socket, arguments, errorCell);
}

void ReportSendToUnknownSocket(SOCKET socket, const WSABUF* buffers, DWORD bufferCount,
                               DWORD flags, const sockaddr* to, int toLength,
                               const int* errorCell)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatSendToArgs(arguments, buffers, bufferCount, flags, to, toLength, nullptr);
    SendUnknownText(SendToUnknownText, socket, arguments, errorCell);
}

void ReportRecvStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                     const DWORD* flags, const WSAOVERLAPPED* overlapped)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatRecvArgs(arguments, buffers, bufferCount, flags);
    SendStartText(IsStreamType(context->socketType) ? RecvStreamTexts : RecvDatagramTexts, context,
                  overlapped, arguments);
}

void ReportRecvFromStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                         const DWORD* flags, const WSAOVERLAPPED* overlapped)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatRecvArgs(arguments, buffers, bufferCount, flags);
    SendStartText(IsStreamType(context->socketType) ? RecvStreamTexts : RecvFromDatagramTexts,
                  context, overlapped, arguments);
}

void ReportSendStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                     DWORD flags, const WSAOVERLAPPED* overlapped)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatSendArgs(arguments, buffers, bufferCount, flags, TRUE);
    SendStartText(IsStreamType(context->socketType) ? SendStreamTexts : SendDatagramTexts, context,
                  overlapped, arguments);
}

void ReportSendToStart(const SocketContext* context, const WSABUF* buffers, DWORD bufferCount,
                       DWORD flags, const sockaddr* to, int toLength,
                       const WSAOVERLAPPED* overlapped)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize];
    FormatSendToArgs(arguments, buffers, bufferCount, flags, to, toLength, context);
    SendStartText(IsStreamType(context->socketType) ? SendStreamTexts : SendToDatagramTexts,
                  context, overlapped, arguments);
}

// The success and failure shared by both receive results; suffix finishes a datagram's text.
static void ReportReceived(int result, const SocketContext* context, const WSABUF* buffers,
                           DWORD bufferCount, DWORD count, const int* errorCell,
                           const char* suffix)
{
    SOCKET socket = context->layeredHandle;
    char number[NumberBufferSize], countText[NumberBufferSize];
    BOOL stream = IsStreamType(context->socketType);
    if (result == SOCKET_ERROR) {
        if (detailLevel != Low)
            SendErrorText(stream ? RecvFailedText : DatagramRecvFailedText, socket, *errorCell);
    } else if (stream && count == 0) {
        if (detailLevel != Low)
            SendTextRecord(ClosedByPeerText, FormatNumber(socket, number), nullptr);
    } else if (stream) {
        SendDataEvent(socket, buffers, bufferCount, count, RecordDataReceived, ReceivedText,
                      FormatNumber(socket, number), FormatNumber(count, countText), nullptr);
    } else {
        SendDataEvent(socket, buffers, bufferCount, count, RecordDataReceived,
                      DatagramReceivedText, FormatNumber(socket, number),
                      FormatNumber(count, countText), suffix, nullptr);
    }
}

void ReportRecvResult(int result, const SocketContext* context, const WSABUF* buffers,
                      DWORD bufferCount, const DWORD* bytes, const DWORD* flags,
                      const int* errorCell)
{
    if (!viewerWindow)
        return;
    BOOL partial = (ReadableValue(flags) & MSG_PARTIAL) != 0;
    ReportReceived(result, context, buffers, bufferCount, ReadableValue(bytes), errorCell,
                   partial ? PartialSuffix : "");
}

void ReportRecvFromResult(int result, const SocketContext* context, const WSABUF* buffers,
                          DWORD bufferCount, const DWORD* bytes, const DWORD* flags,
                          const sockaddr* from, const int* fromLength, const int* errorCell)
{
    if (!viewerWindow)
        return;
    char suffix[FormatBufferSize] = "";
    BOOL partial = (ReadableValue(flags) & MSG_PARTIAL) != 0;
    if (result != SOCKET_ERROR && !IsStreamType(context->socketType) && (partial || from)) {
        strcpy(suffix, " [");
        if (partial)
            strcat(suffix, "flags=MSG_PARTIAL");
        if (partial && from)
            strcat(suffix, ", ");
        if (from) {
            int length = IsBadReadPtr(fromLength, sizeof(int)) ? 0 : *fromLength;
            FormatSockAddr(suffix + strlen(suffix), FromAddressFormat, FromAddressInvalid, from,
                           length);
        }
        strcat(suffix, "]");
    }
    ReportReceived(result, context, buffers, bufferCount, ReadableValue(bytes), errorCell, suffix);
}

void ReportSendResult(int result, const SocketContext* context, const WSABUF* buffers,
                      DWORD bufferCount, const DWORD* bytes, const int* errorCell)
{
    if (!viewerWindow)
        return;
    SOCKET socket = context->layeredHandle;
    BOOL stream = IsStreamType(context->socketType);
    if (result == SOCKET_ERROR) {
        if (detailLevel != Low)
            SendErrorText(stream ? SendFailedText : DatagramSendFailedText, socket, *errorCell);
        return;
    }
    DWORD count = ReadableValue(bytes);
    char number[NumberBufferSize], countText[NumberBufferSize];
    SendDataEvent(socket, buffers, bufferCount, count, RecordDataSent,
                  stream ? SentText : DatagramSentText, FormatNumber(socket, number),
                  FormatNumber(count, countText), nullptr);
}

void ReportTransmitFileStart(const SocketContext* context, HANDLE file, DWORD bytesToWrite,
                             DWORD bytesPerSend, const OVERLAPPED* overlapped,
                             const void* transmitBuffers, DWORD flags)
{
    if (!TextsWanted())
        return;
    char arguments[FormatBufferSize], number[NumberBufferSize];
    FormatTransmitFileArgs(arguments, file, bytesToWrite, bytesPerSend, overlapped,
                           transmitBuffers, flags);
    BOOL asynchronous = (context->flags & WSA_FLAG_OVERLAPPED) && overlapped;
    SendTextRecord(asynchronous ? TransmittingAsyncText : TransmittingSyncText,
                   FormatNumber(context->layeredHandle, number), arguments, nullptr);
}

void ReportTransmitFileResult(BOOL success, SOCKET socket, LONG count, int error)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], countText[NumberBufferSize];
    if (!success) {
        if (detailLevel != Low)
            SendErrorText(TransmitFailedText, socket, error);
    } else if (count == -1) {
        if (detailLevel != Low)
            SendTextRecord(TransmittedUnknownText, FormatNumber(socket, number), nullptr);
    } else {
        SendCountEvent(socket, static_cast<DWORD>(count), RecordDataSent, TransmittedText,
                       FormatNumber(socket, number), FormatNumber(count, countText), nullptr);
    }
}
