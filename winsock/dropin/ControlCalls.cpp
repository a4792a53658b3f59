// Options, control codes and event selection. WSAIoctl goes to the owner like every other
// call, so extension functions come from the top of the socket's chain.
#include "Routing.h"

#include <mswsock.h>

namespace {

// SO_OPENTYPE belongs to the calling thread, not to a socket: it is answered here whatever the
// handle, which is usually INVALID_SOCKET.
bool IsOpenType(int level, int optname)
{
    return level == SOL_SOCKET && optname == SO_OPENTYPE;
}

// The length is taken as unsigned, so a negative one reads as large enough, as Windows and
// Wine's own take it.
bool OpenTypeLengthFits(int optlen)
{
    return static_cast<unsigned>(optlen) >= sizeof(int);
}

} // namespace

extern "C" {

int WSAAPI WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer,
                    LPVOID lpvOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbBytesReturned,
                    LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPIoctl(s, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer,
                                cbOutBuffer, lpcbBytesReturned, lpOverlapped, lpCompletionRoutine,
                                lpOverlapped ? CurrentThreadId() : nullptr, error);
    });
}

int WSAAPI ioctlsocket(SOCKET s, long cmd, u_long* argp)
{
    DWORD returned = 0;
    return WSAIoctl(s, static_cast<DWORD>(cmd), argp, sizeof *argp, argp, sizeof *argp, &returned,
                    nullptr, nullptr);
}

int WSAAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    if (IsOpenType(level, optname)) {
        if (!WinsockStarted())
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSANOTINITIALISED);
        if (!OpenTypeLengthFits(optlen) || IsBadReadPtr(optval, sizeof(int)))
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
        int openType;
        memcpy(&openType, optval, sizeof(openType));
        SetThreadOpenType(openType);
        WSASetLastError(0); // as every other option's success does
        return 0;
    }
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSetSockOpt(s, level, optname, optval, optlen, error);
    });
}

int WSAAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    if (IsOpenType(level, optname)) {
        if (!WinsockStarted())
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSANOTINITIALISED);
        if (IsBadWritePtr(optlen, sizeof(int)) || !OpenTypeLengthFits(*optlen) ||
            IsBadWritePtr(optval, sizeof(int)))
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
        int openType = ThreadOpenType();
        memcpy(optval, &openType, sizeof(openType));
        *optlen = sizeof(openType);
        WSASetLastError(0); // as every other option's success does
        return 0;
    }
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPGetSockOpt(s, level, optname, optval, optlen, error);
    });
}

int WSAAPI WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPAsyncSelect(s, hWnd, wMsg, lEvent, error);
    });
}

int WSAAPI WSAEventSelect(SOCKET s, WSAEVENT hEventObject, long lNetworkEvents)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPEventSelect(s, hEventObject, lNetworkEvents, error);
    });
}

int WSAAPI WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject,
                                LPWSANETWORKEVENTS lpNetworkEvents)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPEnumNetworkEvents(s, hEventObject, lpNetworkEvents, error);
    });
}

} // extern "C"
