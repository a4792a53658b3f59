// Socket creation, connection set-up and tear-down, passed to the provider below. New
// handles from below are handed up unchanged, registered as the layer's.
#include "PassLayer.h"

SOCKET WSPAPI PassSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                         GROUP g, DWORD dwFlags, LPINT lpErrno)
{
    LowerProvider* lower = LowerForEntry(lpProtocolInfo);
    if (!lower) {
        *lpErrno = WSAEINVAL;
        return INVALID_SOCKET;
    }
    WSAPROTOCOL_INFOW info = LowerInfoFor(lower, lpProtocolInfo);
    SOCKET s = lower->table.lpWSPSocket(af, type, protocol, &info, g, dwFlags, lpErrno);
    return s == INVALID_SOCKET ? s : AdoptLowerHandle(lower, s, lpErrno);
}

SOCKET WSPAPI PassAccept(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC lpfnCondition,
                         DWORD_PTR dwCallbackData, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    if (!lower)
        return INVALID_SOCKET;
    SOCKET accepted =
        lower->table.lpWSPAccept(s, addr, addrlen, lpfnCondition, dwCallbackData, lpErrno);
    return accepted == INVALID_SOCKET ? accepted : AdoptLowerHandle(lower, accepted, lpErrno);
}

SOCKET WSPAPI PassJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                           LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags,
                           LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    if (!lower)
        return INVALID_SOCKET;
    SOCKET leaf = lower->table.lpWSPJoinLeaf(s, name, namelen, lpCallerData, lpCalleeData,
                                             lpSQOS, lpGQOS, dwFlags, lpErrno);
    // A multipoint root makes a new socket; a leaf answers with its own.
    if (leaf == INVALID_SOCKET || leaf == s)
        return leaf;
    return AdoptLowerHandle(lower, leaf, lpErrno);
}

int WSPAPI PassCloseSocket(SOCKET s, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    if (!lower)
        return SOCKET_ERROR;
    // Forgotten first: once the socket below is closed, another thread may be handed the same
    // handle value for a new socket, whose entry a later forget would take away.
    ForgetSocket(s);
    int result = lower->table.lpWSPCloseSocket(s, lpErrno);
    if (result != 0)
        RememberSocket(s, lower);
    return result;
}

int WSPAPI PassDuplicateSocket(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                               LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    if (!lower)
        return SOCKET_ERROR;
    WSAPROTOCOL_INFOW below;
    int result = lower->table.lpWSPDuplicateSocket(s, dwProcessId, &below, lpErrno);
    if (result != 0)
        return result;
    // The other process makes the copy through this chain, so it passes the layer too; the
    // provider below finds its handle again by its private part of the information.
    WSAPROTOCOL_INFOW duplicate = lower->chain;
    duplicate.dwServiceFlags3 = below.dwServiceFlags3;
    duplicate.dwServiceFlags4 = below.dwServiceFlags4;
    duplicate.dwProviderReserved = below.dwProviderReserved;
    *lpProtocolInfo = duplicate;
    return 0;
}

int WSPAPI PassBind(SOCKET s, const sockaddr* name, int namelen, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPBind(s, name, namelen, lpErrno) : SOCKET_ERROR;
}

int WSPAPI PassListen(SOCKET s, int backlog, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPListen(s, backlog, lpErrno) : SOCKET_ERROR;
}

int WSPAPI PassConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                       LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPConnect(s, name, namelen, lpCallerData, lpCalleeData, lpSQOS,
                                             lpGQOS, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassShutdown(SOCKET s, int how, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPShutdown(s, how, lpErrno) : SOCKET_ERROR;
}

int WSPAPI PassGetPeerName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPGetPeerName(s, name, namelen, lpErrno) : SOCKET_ERROR;
}

int WSPAPI PassGetSockName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPGetSockName(s, name, namelen, lpErrno) : SOCKET_ERROR;
}
