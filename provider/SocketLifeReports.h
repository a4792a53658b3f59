// The reports that begin and end a socket's trace.
#pragma once
#include <winsock2.h>

struct SocketContext;

void ReportSocketCreated(SOCKET result, int addressFamily, int socketType, int protocol,
                         const WSAPROTOCOL_INFOW* protocolInfo, GROUP group, DWORD flags,
                         const int* errorCell);
void ReportSocketClosed(int result, const SocketContext* context, SOCKET socket,
                        const int* errorCell);
void ReportDeferredClose(int result, const SocketContext* context, SOCKET socket,
                         const int* errorCell);
void ReportTeardownClose(int result, const SocketContext* context, SOCKET socket,
                         const int* errorCell);

// Family, type and protocol of -1 taken from readable protocol information.
void ResolveSocketRequest(const WSAPROTOCOL_INFOW* protocolInfo, int* addressFamily,
                          int* socketType, int* protocol);
