// The reports of the connection calls: bind, listen, connect, accept and the two names.
#pragma once
#include <winsock2.h>

struct SocketContext;

// Texts the connect reports share with ConnectEx's.
extern const char* const ConnectedText;
extern const char* const NotConnectedText;
extern const char* const ConnectingAsynchronouslyText;

// The address as the connection texts show it, "[name=...]", or its fallback; returns buffer,
// which holds FormatBufferSize characters.
const char* NameText(char* buffer, const sockaddr* address, int addressLength);

void ReportAcceptUnknownSocket(SOCKET socket, const int* errorCell);
void ReportAccepting(SOCKET socket, const SocketContext* context);
// result is the new layered handle or INVALID_SOCKET.
void ReportAcceptResult(SOCKET result, SOCKET listening, const sockaddr* address,
                        const int* addressLength, const int* errorCell);

// result is the lower call's: 0 or SOCKET_ERROR.
void ReportBind(int result, SOCKET socket, const sockaddr* address, int addressLength,
                const int* errorCell);
// A success records the backlog in the context, so the close shows no byte counts.
void ReportListen(int result, SocketContext* context, SOCKET socket, int backlog,
                  const int* errorCell);
void ReportConnectUnknownSocket(SOCKET socket, const sockaddr* address, int addressLength,
                                const int* errorCell);
void ReportConnecting(const SocketContext* context, SOCKET socket, const sockaddr* address,
                      int addressLength);
void ReportConnectResult(int result, const SocketContext* context, SOCKET socket,
                         const sockaddr* address, int addressLength, const int* errorCell);
void ReportGetSockName(int result, SOCKET socket, const sockaddr* address,
                       const int* addressLength, const int* errorCell);
void ReportGetPeerName(int result, SOCKET socket, const sockaddr* address,
                       const int* addressLength, const int* errorCell);
