// Options, control codes and event selection. WSAIoctl goes to the owner like every other
// call, so extension functions come from the top of the socket's chain.
#include "Routing.h"

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
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSetSockOpt(s, level, optname, optval, optlen, error);
    });
}

int WSAAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
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
