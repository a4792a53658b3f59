#include "ConnectionReports.h"
#include "Channel.h"
#include "Formatting.h"
#include "SocketContext.h"

static const char* const NotAcceptedText = "socket (%s) could not accept a connection - %s";
static const char* const AcceptingText = "socket (%s) accepting a connection synchronously";
static const char* const AcceptingNonBlockingText =
    "socket (%s) accepting a connection synchronously without blocking";
static const char* const AcceptedText = "socket (%s) accepted a connection on new socket (%s)%s";
static const char* const BoundText = "socket (%s) bound %s";
static const char* const NotBoundText = "socket (%s) could not be bound %s - %s";
static const char* const ListeningText = "socket (%s) established for listening [backlog=%s]";
static const char* const NotListeningText =
    "socket (%s) could not be established for listening [backlog=%s] - %s";
static const char* const ConnectUnknownText =
    "socket (%s) could not either connect or set a default address for sending and receiving "
    "%s - %s";
const char* const ConnectedText = "socket (%s) connected";
const char* const NotConnectedText = "socket (%s) could not connect - %s";
const char* const ConnectingAsynchronouslyText = "socket (%s) connecting asynchronously %s";
static const char* const DefaultAddressText =
    "socket (%s) set its default address for sending and receiving %s";
static const char* const NoDefaultAddressText =
    "socket (%s) could not set its default address for sending and receiving %s - %s";

// How a stream connect goes on, told by the socket's notification state.
enum ConnectStyle { ConnectBlocking, ConnectByMessage, ConnectByEvent, ConnectNonBlocking };
static const char* const ConnectingTexts[] = {
    "socket (%s) connecting synchronously %s",
    ConnectingAsynchronouslyText,
    "socket (%s) connecting asynchronously %s, result will not be displayed",
    "socket (%s) connecting synchronously without blocking %s",
};

// The success and failure texts of the two name queries.
struct NameTexts {
    const char* determined;
    const char* notDetermined;
};
static const NameTexts LocalNameTexts = {"socket (%s) determined its local name %s",
                                         "socket (%s) could not determine its local name - %s"};
static const NameTexts PeerNameTexts = {"socket (%s) determined its peer's name %s",
                                        "socket (%s) could not determine its peer's name - %s"};

static void SendNotAccepted(SOCKET socket, const int* errorCell)
{
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    SendTextRecord(NotAcceptedText, FormatNumber(socket, number),
                   ErrorText(*errorCell, errorScratch), nullptr);
}

void ReportAcceptUnknownSocket(SOCKET socket, const int* errorCell)
{
    if (viewerWindow)
        SendNotAccepted(socket, errorCell);
}

void ReportAccepting(SOCKET socket, const SocketContext* context)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize];
    SendTextRecord(context->blocking ? AcceptingText : AcceptingNonBlockingText,
                   FormatNumber(socket, number), nullptr);
}

void ReportAcceptResult(SOCKET result, SOCKET listening, const sockaddr* address,
                        const int* addressLength, const int* errorCell)
{
    if (!viewerWindow)
        return;
    if (result == INVALID_SOCKET) {
        SendNotAccepted(listening, errorCell);
        return;
    }
    char suffix[FormatBufferSize] = "";
    if (address && addressLength) {
        int length = IsBadReadPtr(addressLength, sizeof(int)) ? 0 : *addressLength;
        FormatSockAddr(suffix, AcceptAddressFormat, AcceptAddressInvalid, address, length);
    }
    char listeningNumber[NumberBufferSize], newNumber[NumberBufferSize];
    DWORD payload[2] = {RecordSocketCreated, static_cast<DWORD>(result)};
    SendKindRecord(sizeof(payload), payload, AcceptedText, FormatNumber(listening, listeningNumber),
                   FormatNumber(result, newNumber), suffix, nullptr);
}

const char* NameText(char* buffer, const sockaddr* address, int addressLength)
{
    FormatSockAddr(buffer, NameAddressFormat, NameAddressInvalid, address, addressLength);
    return buffer;
}

void ReportBind(int result, SOCKET socket, const sockaddr* address, int addressLength,
                const int* errorCell)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], name[FormatBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    NameText(name, address, addressLength);
    if (result == SOCKET_ERROR)
        SendTextRecord(NotBoundText, number, name, ErrorText(*errorCell, errorScratch), nullptr);
    else
        SendTextRecord(BoundText, number, name, nullptr);
}

void ReportListen(int result, SocketContext* context, SOCKET socket, int backlog,
                  const int* errorCell)
{
    // The first backlog stays: a second listen only changes the queue of a listening socket.
    if (result != SOCKET_ERROR && context && context->backlog == -1)
        context->backlog = backlog;
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], backlogText[NumberBufferSize];
    char errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    FormatNumber(backlog, backlogText);
    if (result == SOCKET_ERROR) {
        SendTextRecord(NotListeningText, number, backlogText, ErrorText(*errorCell, errorScratch),
                       nullptr);
        return;
    }
    SendTextRecord(ListeningText, number, backlogText, nullptr);
}

void ReportConnectUnknownSocket(SOCKET socket, const sockaddr* address, int addressLength,
                                const int* errorCell)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], name[FormatBufferSize], errorScratch[NumberBufferSize + 8];
    SendTextRecord(ConnectUnknownText, FormatNumber(socket, number),
                   NameText(name, address, addressLength), ErrorText(*errorCell, errorScratch),
                   nullptr);
}

static ConnectStyle StyleOf(const SocketContext* context)
{
    if (context->blocking)
        return ConnectBlocking;
    if (!(context->eventMask & FD_CONNECT))
        return ConnectNonBlocking;
    return context->asyncWindow ? ConnectByMessage : ConnectByEvent;
}

void ReportConnecting(const SocketContext* context, SOCKET socket, const sockaddr* address,
                      int addressLength)
{
    if (!viewerWindow || !IsStreamType(context->socketType))
        return;
    char number[NumberBufferSize], name[FormatBufferSize];
    SendTextRecord(ConnectingTexts[StyleOf(context)], FormatNumber(socket, number),
                   NameText(name, address, addressLength), nullptr);
}

void ReportConnectResult(int result, const SocketContext* context, SOCKET socket,
                         const sockaddr* address, int addressLength, const int* errorCell)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], name[FormatBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    if (!IsStreamType(context->socketType)) {
        NameText(name, address, addressLength);
        if (result == SOCKET_ERROR)
            SendTextRecord(NoDefaultAddressText, number, name,
                           ErrorText(*errorCell, errorScratch), nullptr);
        else
            SendTextRecord(DefaultAddressText, number, name, nullptr);
        return;
    }
    if (result != SOCKET_ERROR) {
        SendTextRecord(ConnectedText, number, nullptr);
        return;
    }
    // A connect that goes on in the background has no outcome to show yet.
    BOOL goesOn = *errorCell == WSAEWOULDBLOCK && !context->blocking &&
                  (context->eventMask & FD_CONNECT);
    if (!goesOn)
        SendTextRecord(NotConnectedText, number, ErrorText(*errorCell, errorScratch), nullptr);
}

static void ReportName(const NameTexts& texts, int result, SOCKET socket,
                       const sockaddr* address, const int* addressLength, const int* errorCell)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], errorScratch[NumberBufferSize + 8];
    FormatNumber(socket, number);
    if (result == SOCKET_ERROR) {
        SendTextRecord(texts.notDetermined, number, ErrorText(*errorCell, errorScratch), nullptr);
        return;
    }
    char name[FormatBufferSize];
    int length = IsBadReadPtr(addressLength, sizeof(int)) ? 0 : *addressLength;
    SendTextRecord(texts.determined, number, NameText(name, address, length), nullptr);
}

void ReportGetSockName(int result, SOCKET socket, const sockaddr* address,
                       const int* addressLength, const int* errorCell)
{
    ReportName(LocalNameTexts, result, socket, address, addressLength, errorCell);
}

void ReportGetPeerName(int result, SOCKET socket, const sockaddr* address,
                       const int* addressLength, const int* errorCell)
{
    ReportName(PeerNameTexts, result, socket, address, addressLength, errorCell);
}
