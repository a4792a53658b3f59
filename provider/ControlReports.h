// The reports of the socket control calls, which also keep the socket's notification state
// that the connect and data texts read.
#pragma once
#include <winsock2.h>

struct SocketContext;

// result is the call's: 0 or SOCKET_ERROR. A success selects message notification: the socket
// is no longer blocking and its event mask is the one asked for.
void ReportAsyncSelect(int result, SocketContext* context, SOCKET socket, HWND window,
                       UINT message, LONG eventMask, const int* errorCell);
// A success selects event notification: no window, not blocking, the event mask asked for.
void ReportEventSelect(int result, SocketContext* context, SOCKET socket, WSAEVENT event,
                       LONG eventMask, const int* errorCell);
void ReportGetSockOpt(int result, SOCKET socket, int level, int option, const char* value,
                      const int* length, const int* errorCell);
void ReportSetSockOpt(int result, SOCKET socket, int level, int option, const char* value,
                      int length, const int* errorCell);
void ReportShutdown(int result, SOCKET socket, int how, const int* errorCell);
// Reports FIONBIO, FIONREAD and SIOCATMARK and says nothing of any other code; a successful
// FIONBIO sets the socket's blocking flag. The values shown are read from the buffers, when
// they can be.
void ReportIoctl(int result, SOCKET socket, SocketContext* context, DWORD code, const void* input,
                 DWORD inputLength, const void* output, DWORD outputLength, DWORD bytesReturned,
                 const int* errorCell);
