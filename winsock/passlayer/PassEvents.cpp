// select and event notification, passed below. The sets, events and window messages
// carry the lower provider's handles, which are the application's.
#include "PassLayer.h"

namespace {

// The provider of the first handle in any of the sets; sets of several providers below
// cannot be waited for in one call.
LowerProvider* LowerForSets(fd_set* const sets[3], LPINT lpErrno)
{
    for (int i = 0; i < 3; ++i)
        if (sets[i] && sets[i]->fd_count > 0)
            return LowerForSocket(sets[i]->fd_array[0], lpErrno);
    LowerProvider* lower = AnyLowerProvider();
    if (!lower)
        *lpErrno = WSAEINVAL;
    return lower;
}

} // namespace

int WSPAPI PassSelect(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      const PTIMEVAL timeout, LPINT lpErrno)
{
    fd_set* const sets[3] = {readfds, writefds, exceptfds};
    LowerProvider* lower = LowerForSets(sets, lpErrno);
    return lower ? lower->table.lpWSPSelect(nfds, readfds, writefds, exceptfds, timeout, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassAsyncSelect(SOCKET s, HWND hWnd, unsigned int wMsg, long lEvent, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPAsyncSelect(s, hWnd, wMsg, lEvent, lpErrno) : SOCKET_ERROR;
}

int WSPAPI PassEventSelect(SOCKET s, WSAEVENT hEventObject, long lNetworkEvents, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPEventSelect(s, hEventObject, lNetworkEvents, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject,
                                 LPWSANETWORKEVENTS lpNetworkEvents, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPEnumNetworkEvents(s, hEventObject, lpNetworkEvents, lpErrno)
                 : SOCKET_ERROR;
}
