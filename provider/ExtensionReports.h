// The reports of the layer's ConnectEx and AcceptEx, made by their replacements for calls that
// end at once and by the completion step for overlapped ones.
#pragma once
#include <winsock2.h>
#include <mswsock.h>

// The socket is unknown, or the lower ConnectEx could not be had.
void ReportConnectExFailure(SOCKET socket, const sockaddr* address, int addressLength, int error);
void ReportConnectExStart(SOCKET socket, const sockaddr* address, int addressLength);
void ReportConnectExResult(BOOL success, SOCKET socket, int error);

// Either socket is unknown, or the lower AcceptEx could not be had.
void ReportAcceptExFailure(SOCKET listening, SOCKET accepting, int error);
void ReportAcceptExStart(SOCKET listening, SOCKET accepting);
// readAddresses is the lower provider's GetAcceptExSockaddrs, which alone knows how its AcceptEx
// laid out the output buffer; null when it could not be had, and the address is then not shown.
void ReportAcceptExResult(BOOL success, SOCKET listening, SOCKET accepting, PVOID outputBuffer,
                          DWORD receiveDataLength, DWORD localAddressLength,
                          DWORD remoteAddressLength, DWORD bytesReceived, int error,
                          LPFN_GETACCEPTEXSOCKADDRS readAddresses);
