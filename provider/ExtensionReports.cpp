#include "ExtensionReports.h"
#include "Channel.h"
#include "ConnectionReports.h"
#include "ControlBlock.h"
#include "DataReports.h"
#include "Formatting.h"

static const char* const ConnectExFailedText = "socket (%s) could not connect %s - %s";
static const char* const AcceptExFailedText =
    "socket (%s) could not accept a connection on existing socket (%s) - %s";
static const char* const AcceptExStartText =
    "socket (%s) accepting a connection asynchronously on existing socket (%s)";
static const char* const AcceptExDoneText =
    "socket (%s) accepted a connection on existing socket (%s)%s";

typedef char ErrorScratch[NumberBufferSize + 8];

void ReportConnectExFailure(SOCKET socket, const sockaddr* address, int addressLength, int error)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], name[FormatBufferSize];
    ErrorScratch scratch;
    SendTextRecord(ConnectExFailedText, FormatNumber(socket, number),
                   NameText(name, address, addressLength), ErrorText(error, scratch), nullptr);
}

void ReportConnectExStart(SOCKET socket, const sockaddr* address, int addressLength)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize], name[FormatBufferSize];
    SendTextRecord(ConnectingAsynchronouslyText, FormatNumber(socket, number),
                   NameText(name, address, addressLength), nullptr);
}

void ReportConnectExResult(BOOL success, SOCKET socket, int error)
{
    if (!viewerWindow)
        return;
    char number[NumberBufferSize];
    ErrorScratch scratch;
    if (success)
        SendTextRecord(ConnectedText, FormatNumber(socket, number), nullptr);
    else
        SendTextRecord(NotConnectedText, FormatNumber(socket, number),
                       ErrorText(error, scratch), nullptr);
}

void ReportAcceptExFailure(SOCKET listening, SOCKET accepting, int error)
{
    if (!viewerWindow)
        return;
    char listeningNumber[NumberBufferSize], acceptingNumber[NumberBufferSize];
    ErrorScratch scratch;
    SendTextRecord(AcceptExFailedText, FormatNumber(listening, listeningNumber),
                   FormatNumber(accepting, acceptingNumber), ErrorText(error, scratch), nullptr);
}

void ReportAcceptExStart(SOCKET listening, SOCKET accepting)
{
    if (!viewerWindow)
        return;
    char listeningNumber[NumberBufferSize], acceptingNumber[NumberBufferSize];
    SendTextRecord(AcceptExStartText, FormatNumber(listening, listeningNumber),
                   FormatNumber(accepting, acceptingNumber), nullptr);
}

// " [addr=...]" with the peer's address from the output buffer, which the application may have
// handed over unreadable.
static void FormatPeerSuffix(char* suffix, PVOID outputBuffer, DWORD receiveDataLength,
                             DWORD localAddressLength, DWORD remoteAddressLength,
                             LPFN_GETACCEPTEXSOCKADDRS readAddresses)
{
    ULONGLONG size = static_cast<ULONGLONG>(receiveDataLength) + localAddressLength +
                     remoteAddressLength;
    sockaddr* local = nullptr;
    sockaddr* remote = nullptr;
    int localLength = 0, remoteLength = 0;
    if (readAddresses && size <= MAXDWORD &&
        !IsBadReadPtr(outputBuffer, static_cast<UINT_PTR>(size)))
        readAddresses(outputBuffer, receiveDataLength, localAddressLength, remoteAddressLength,
                      &local, &localLength, &remote, &remoteLength);
    FormatSockAddr(suffix, AcceptAddressFormat, AcceptAddressInvalid, remote, remoteLength);
}

void ReportAcceptExResult(BOOL success, SOCKET listening, SOCKET accepting, PVOID outputBuffer,
                          DWORD receiveDataLength, DWORD localAddressLength,
                          DWORD remoteAddressLength, DWORD bytesReceived, int error,
                          LPFN_GETACCEPTEXSOCKADDRS readAddresses)
{
    if (!viewerWindow)
        return;
    if (!success) {
        ReportAcceptExFailure(listening, accepting, error);
        return;
    }
    char listeningNumber[NumberBufferSize], acceptingNumber[NumberBufferSize];
    char suffix[FormatBufferSize] = "";
    if (outputBuffer)
        FormatPeerSuffix(suffix, outputBuffer, receiveDataLength, localAddressLength,
                         remoteAddressLength, readAddresses);
    FormatNumber(listening, listeningNumber);
    FormatNumber(accepting, acceptingNumber);
    SendTextRecord(AcceptExDoneText, listeningNumber, acceptingNumber, suffix, nullptr);
    if (receiveDataLength == 0)
        return;
    if (bytesReceived == 0) {
        if (detailLevel != Low)
            SendTextRecord(ClosedByPeerText, acceptingNumber, nullptr);
        return;
    }
    // The first bytes sit at the start of the output buffer.
    WSABUF data = {receiveDataLength, static_cast<char*>(outputBuffer)};
    char countText[NumberBufferSize];
    SendDataEvent(accepting, &data, outputBuffer ? 1 : 0, bytesReceived, RecordDataReceived,
                  ReceivedText,
                  acceptingNumber, FormatNumber(bytesReceived, countText), nullptr);
}
