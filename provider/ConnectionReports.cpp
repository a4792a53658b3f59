#include "ConnectionReports.h"
#include "Channel.h"
#include "Formatting.h"
#include "SocketContext.h"

static const char* const NotAcceptedText = "socket (%s) could not accept a connection - %s";
static const char* const AcceptingText = "socket (%s) accepting a connection synchronously";
static const char* const AcceptingNonBlockingText =
    "socket (%s) accepting a connection synchronously without blocking";
static const char* const AcceptedText = "socket (%s) accepted a connection on new socket (%s)%s";

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
