// Connection calls: bind, listen, connect, accept, join, and the local and peer names.
#include "ConnectionReports.h"
#include "Entries.h"
#include "SocketContext.h"
#include "SocketLifeReports.h"

int WSPAPI WSPBind(SOCKET s, const sockaddr* name, int namelen, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            return CALL_LOWER(context, lpWSPBind, name, namelen, lpErrno);
        },
        [&](int result, SocketContext*) { ReportBind(result, s, name, namelen, lpErrno); });
}

int WSPAPI WSPListen(SOCKET s, int backlog, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) { return CALL_LOWER(context, lpWSPListen, backlog, lpErrno); },
        [&](int result, SocketContext* context) {
            ReportListen(result, context, s, backlog, lpErrno);
        });
}

int WSPAPI WSPConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                      LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            ReportConnecting(context, s, name, namelen);
            return CALL_LOWER(context, lpWSPConnect, name, namelen, lpCallerData, lpCalleeData,
                              lpSQOS, lpGQOS, lpErrno);
        },
        [&](int result, SocketContext* context) {
            if (context)
                ReportConnectResult(result, context, s, name, namelen, lpErrno);
            else
                ReportConnectUnknownSocket(s, name, namelen, lpErrno);
        });
}

SOCKET WSPAPI WSPAccept(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC lpfnCondition,
                        DWORD_PTR dwCallbackData, LPINT lpErrno)
{
    SocketContext* listener = FindContext(s, lpErrno);
    if (!listener) {
        *lpErrno = WSAENOTSOCK;
        ReportAcceptUnknownSocket(s, lpErrno);
        return INVALID_SOCKET;
    }
    ReportAccepting(s, listener);
    SOCKET result = INVALID_SOCKET;
    InterlockedIncrement(&socketsBeingAccepted);
    SOCKET lowerSocket =
        CALL_LOWER(listener, lpWSPAccept, addr, addrlen, lpfnCondition, dwCallbackData, lpErrno);
    if (lowerSocket != INVALID_SOCKET) {
        SocketContext* context = WrapLowerSocket(listener->provider, lowerSocket, listener, lpErrno);
        if (context)
            result = context->layeredHandle;
    }
    InterlockedDecrement(&socketsBeingAccepted);
    int releaseError = 0;
    ReleaseContext(listener, &releaseError);
    ReportAcceptResult(result, s, addr, addrlen, lpErrno);
    return result;
}

SOCKET WSPAPI WSPJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                          LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags,
                          LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, INVALID_SOCKET, [&](SocketContext* joining) {
        InterlockedIncrement(&socketsBeingAccepted);
        SOCKET lowerSocket = CALL_LOWER(joining, lpWSPJoinLeaf, name, namelen, lpCallerData,
                                        lpCalleeData, lpSQOS, lpGQOS, dwFlags, lpErrno);
        SocketContext* context = nullptr;
        if (lowerSocket != INVALID_SOCKET && lowerSocket != joining->lowerSocket)
            context = WrapLowerSocket(joining->provider, lowerSocket, joining, lpErrno);
        InterlockedDecrement(&socketsBeingAccepted);
        if (lowerSocket == INVALID_SOCKET)
            return INVALID_SOCKET;
        if (lowerSocket == joining->lowerSocket)
            return s;
        SOCKET result = context ? context->layeredHandle : INVALID_SOCKET;
        if (context)
            ReportSocketCreated(result, context->addressFamily, context->socketType,
                                context->protocol, nullptr, 0, 0, lpErrno);
        return result;
    });
}

int WSPAPI WSPGetPeerName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            return CALL_LOWER(context, lpWSPGetPeerName, name, namelen, lpErrno);
        },
        [&](int result, SocketContext*) { ReportGetPeerName(result, s, name, namelen, lpErrno); });
}

int WSPAPI WSPGetSockName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            return CALL_LOWER(context, lpWSPGetSockName, name, namelen, lpErrno);
        },
        [&](int result, SocketContext*) { ReportGetSockName(result, s, name, namelen, lpErrno); });
}
