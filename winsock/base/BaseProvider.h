// What the base provider's entry files share: the upcall table, the catalog entries it has
// been started for, and the one way an entry reports a failure of the real call.
#pragma once
#include "RealWinsock.h"

#include <ws2spi.h>

extern WSPUPCALLTABLE upcalls;

// Stores the real library's error for this thread through lpErrno; returns SOCKET_ERROR.
inline int FailWithRealError(LPINT lpErrno)
{
    *lpErrno = real.WSAGetLastError();
    return SOCKET_ERROR;
}

inline int FailWith(int error, LPINT lpErrno)
{
    *lpErrno = error;
    return SOCKET_ERROR;
}

// Catalog entries the provider was started or asked to create a socket for. Accepted and
// duplicated sockets are registered under the entry that matches their protocol.
void RememberEntry(const WSAPROTOCOL_INFOW* entry);
// Copies the remembered entry with the real socket's family, type and protocol into *entry.
bool FindEntryForSocket(SOCKET realSocket, WSAPROTOCOL_INFOW* entry);
// Registers a new real socket with the Winsock layer as owned by the catalog entry
// catalogId; closes it and fails when the layer refuses.
SOCKET RegisterRealSocket(DWORD catalogId, SOCKET realSocket, LPINT lpErrno);

// The thirty entries, one family per file.
SOCKET WSPAPI BaseAccept(SOCKET, sockaddr*, LPINT, LPCONDITIONPROC, DWORD_PTR, LPINT);
int WSPAPI BaseBind(SOCKET, const sockaddr*, int, LPINT);
int WSPAPI BaseCloseSocket(SOCKET, LPINT);
int WSPAPI BaseConnect(SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS, LPINT);
int WSPAPI BaseDuplicateSocket(SOCKET, DWORD, LPWSAPROTOCOL_INFOW, LPINT);
int WSPAPI BaseGetPeerName(SOCKET, sockaddr*, LPINT, LPINT);
int WSPAPI BaseGetSockName(SOCKET, sockaddr*, LPINT, LPINT);
SOCKET WSPAPI BaseJoinLeaf(SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS, DWORD,
                           LPINT);
int WSPAPI BaseListen(SOCKET, int, LPINT);
int WSPAPI BaseShutdown(SOCKET, int, LPINT);
SOCKET WSPAPI BaseSocket(int, int, int, LPWSAPROTOCOL_INFOW, GROUP, DWORD, LPINT);

BOOL WSPAPI BaseGetOverlappedResult(SOCKET, LPWSAOVERLAPPED, LPDWORD, BOOL, LPDWORD, LPINT);
int WSPAPI BaseRecv(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, LPWSAOVERLAPPED,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT);
int WSPAPI BaseRecvDisconnect(SOCKET, LPWSABUF, LPINT);
int WSPAPI BaseRecvFrom(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, sockaddr*, LPINT,
                        LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT);
int WSPAPI BaseSend(SOCKET, LPWSABUF, DWORD, LPDWORD, DWORD, LPWSAOVERLAPPED,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT);
int WSPAPI BaseSendDisconnect(SOCKET, LPWSABUF, LPINT);
int WSPAPI BaseSendTo(SOCKET, LPWSABUF, DWORD, LPDWORD, DWORD, const sockaddr*, int,
                      LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT);

INT WSPAPI BaseAddressToString(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD, LPINT);
int WSPAPI BaseCancelBlockingCall(LPINT);
BOOL WSPAPI BaseGetQOSByName(SOCKET, LPWSABUF, LPQOS, LPINT);
int WSPAPI BaseGetSockOpt(SOCKET, int, int, char*, LPINT, LPINT);
int WSPAPI BaseSetSockOpt(SOCKET, int, int, const char*, int, LPINT);
INT WSPAPI BaseStringToAddress(LPWSTR, INT, LPWSAPROTOCOL_INFOW, LPSOCKADDR, LPINT, LPINT);

int WSPAPI BaseAsyncSelect(SOCKET, HWND, unsigned int, long, LPINT);
int WSPAPI BaseEnumNetworkEvents(SOCKET, WSAEVENT, LPWSANETWORKEVENTS, LPINT);
int WSPAPI BaseEventSelect(SOCKET, WSAEVENT, long, LPINT);
int WSPAPI BaseSelect(int, fd_set*, fd_set*, fd_set*, const PTIMEVAL, LPINT);

int WSPAPI BaseIoctl(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT);

int WSPAPI BaseCleanup(LPINT);
