#include "SocketLifeReports.h"
#include "Channel.h"
#include "Formatting.h"
#include "SocketContext.h"

static const char* const CreatedText = "socket (%s) created [family=%s, type=%s, protocol=%s%s]";
static const char* const NotCreatedText =
    "a socket could not be created [family=%s, type=%s, protocol=%s%s] - %s";
static const char* const ClosedWithCountsText =
    "socket (%s) closed; bytes received=%s, bytes sent=%s";
static const char* const ClosedText = "socket (%s) closed";
static const char* const NotClosedText = "socket (%s) could not be closed - %s";
static const char* const WillBeClosedText =
    "socket (%s) will be closed when outstanding asynchronous calls finish";
static const char* const DeferredClosedWithCountsText =
    "async calls finished, socket (%s) closed; bytes received=%s, bytes sent=%s";
static const char* const DeferredClosedText = "async calls finished, socket (%s) closed";
static const char* const DeferredNotClosedText =
    "async calls finished, socket (%s) could not be closed - %s";
static const char* const TeardownClosedWithCountsText =
    "detaching from process, socket (%s) closed; bytes received=%s, bytes sent=%s";
static const char* const TeardownClosedText = "detaching from process, socket (%s) closed";
static const char* const TeardownNotClosedText =
    "detaching from process, socket (%s) could not be closed - %s";

void ResolveSocketRequest(const WSAPROTOCOL_INFOW* protocolInfo, int* addressFamily,
                          int* socketType, int* protocol)
{
    if (IsBadReadPtr(protocolInfo, sizeof(WSAPROTOCOL_INFOW)))
        return;
    if (*addressFamily == FROM_PROTOCOL_INFO)
        *addressFamily = protocolInfo->iAddressFamily;
    if (*socketType == FROM_PROTOCOL_INFO)
        *socketType = protocolInfo->iSocketType;
    if (*protocol == FROM_PROTOCOL_INFO)
        *protocol = protocolInfo->iProtocol;
}

void ReportSocketCreated(SOCKET result, int addressFamily, int socketType, int protocol,
                         const WSAPROTOCOL_INFOW* protocolInfo, GROUP group, DWORD flags,
                         const int* errorCell)
{
    if (!viewerWindow)
        return;
    ResolveSocketRequest(protocolInfo, &addressFamily, &socketType, &protocol);
    char familyScratch[NumberBufferSize], typeScratch[NumberBufferSize];
    char protocolScratch[NumberBufferSize], extra[FormatBufferSize];
    const char* family = AddressFamilyText(addressFamily, familyScratch);
    const char* type = SocketTypeText(socketType, typeScratch);
    const char* protocolText = ProtocolText(protocol, protocolScratch);
    FormatSocketCreationExtra(extra, group, flags);
    if (result == INVALID_SOCKET) {
        char errorScratch[NumberBufferSize + 8];
        SendTextRecord(NotCreatedText, family, type, protocolText, extra,
                       ErrorText(*errorCell, errorScratch), nullptr);
        return;
    }
    char number[NumberBufferSize];
    DWORD payload[2] = {RecordSocketCreated, static_cast<DWORD>(result)};
    SendKindRecord(sizeof(payload), payload, CreatedText, FormatNumber(result, number), family,
                   type, protocolText, extra, nullptr);
}

// A closed record with the text that suits the socket: listening sockets show no byte counts.
static void SendClosedRecord(const SocketContext* context, SOCKET socket,
                             const char* withCountsText, const char* plainText)
{
    char number[NumberBufferSize], received[NumberBufferSize], sent[NumberBufferSize];
    DWORD payload[2] = {RecordSocketClosed, static_cast<DWORD>(socket)};
    FormatNumber(socket, number);
    if (context->backlog < 0)
        SendKindRecord(sizeof(payload), payload, withCountsText, number,
                       FormatNumber(context->bytesReceived, received),
                       FormatNumber(context->bytesSent, sent), nullptr);
    else
        SendKindRecord(sizeof(payload), payload, plainText, number, nullptr);
}

static void SendNotClosedText(const char* format, SOCKET socket, int error)
{
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    SendTextRecord(format, FormatNumber(socket, number), ErrorText(error, errorScratch), nullptr);
}

void ReportSocketClosed(int result, const SocketContext* context, SOCKET socket,
                        const int* errorCell)
{
    if (!viewerWindow)
        return;
    if (result != 0) {
        SendNotClosedText(NotClosedText, socket, *errorCell);
    } else if (context->closing) {
        char number[NumberBufferSize];
        SendTextRecord(WillBeClosedText, FormatNumber(socket, number), nullptr);
    } else {
        SendClosedRecord(context, socket, ClosedWithCountsText, ClosedText);
    }
}

void ReportDeferredClose(int result, const SocketContext* context, SOCKET socket,
                         const int* errorCell)
{
    if (!viewerWindow)
        return;
    if (result != 0)
        SendNotClosedText(DeferredNotClosedText, socket, *errorCell);
    else
        SendClosedRecord(context, socket, DeferredClosedWithCountsText, DeferredClosedText);
}

void ReportTeardownClose(int result, const SocketContext* context, SOCKET socket,
                         const int* errorCell)
{
    if (!viewerWindow)
        return;
    if (result != 0)
        SendNotClosedText(TeardownNotClosedText, socket, *errorCell);
    else
        SendClosedRecord(context, socket, TeardownClosedWithCountsText, TeardownClosedText);
}
