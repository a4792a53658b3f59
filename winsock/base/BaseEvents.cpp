// select and the event and window notifications. The sets, the events and the window
// messages all carry the real handles, which are the application's handles too.
#include "BaseProvider.h"

int WSPAPI BaseSelect(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      const PTIMEVAL timeout, LPINT lpErrno)
{
    int result = real.select(nfds, readfds, writefds, exceptfds, timeout);
    return result == SOCKET_ERROR ? FailWithRealError(lpErrno) : result;
}

int WSPAPI BaseAsyncSelect(SOCKET s, HWND hWnd, unsigned int wMsg, long lEvent, LPINT lpErrno)
{
    return real.WSAAsyncSelect(s, hWnd, wMsg, lEvent) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseEventSelect(SOCKET s, WSAEVENT hEventObject, long lNetworkEvents, LPINT lpErrno)
{
    return real.WSAEventSelect(s, hEventObject, lNetworkEvents) == 0 ? 0
                                                                     : FailWithRealError(lpErrno);
}

int WSPAPI BaseEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject,
                                 LPWSANETWORKEVENTS lpNetworkEvents, LPINT lpErrno)
{
    return real.WSAEnumNetworkEvents(s, hEventObject, lpNetworkEvents) == 0
               ? 0
               : FailWithRealError(lpErrno);
}
