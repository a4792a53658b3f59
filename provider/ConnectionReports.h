// The reports of the connection calls.
#pragma once
#include <winsock2.h>

struct SocketContext;

void ReportAcceptUnknownSocket(SOCKET socket, const int* errorCell);
void ReportAccepting(SOCKET socket, const SocketContext* context);
// result is the new layered handle or INVALID_SOCKET.
void ReportAcceptResult(SOCKET result, SOCKET listening, const sockaddr* address,
                        const int* addressLength, const int* errorCell);
