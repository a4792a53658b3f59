// Addressing and connection calls, each passed to the provider that owns the socket.
#include "Routing.h"

extern "C" {

int WSAAPI bind(SOCKET s, const sockaddr* name, int namelen)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPBind(s, name, namelen, error);
    });
}

int WSAAPI listen(SOCKET s, int backlog)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPListen(s, backlog, error);
    });
}

int WSAAPI connect(SOCKET s, const sockaddr* name, int namelen)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPConnect(s, name, namelen, nullptr, nullptr, nullptr, nullptr, error);
    });
}

int WSAAPI WSAConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                      LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPConnect(s, name, namelen, lpCallerData, lpCalleeData, lpSQOS, lpGQOS,
                                  error);
    });
}

int WSAAPI shutdown(SOCKET s, int how)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPShutdown(s, how, error);
    });
}

int WSAAPI WSASendDisconnect(SOCKET s, LPWSABUF lpOutboundDisconnectData)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSendDisconnect(s, lpOutboundDisconnectData, error);
    });
}

int WSAAPI WSARecvDisconnect(SOCKET s, LPWSABUF lpInboundDisconnectData)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPRecvDisconnect(s, lpInboundDisconnectData, error);
    });
}

int WSAAPI getsockname(SOCKET s, sockaddr* name, int* namelen)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPGetSockName(s, name, namelen, error);
    });
}

int WSAAPI getpeername(SOCKET s, sockaddr* name, int* namelen)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPGetPeerName(s, name, namelen, error);
    });
}

} // extern "C"
