// The thirty entries of the layer's procedure table, and what several of them share.
#pragma once
#include "ProviderState.h"
#include "SocketContext.h"

SOCKET WSPAPI WSPAccept(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC lpfnCondition,
                        DWORD_PTR dwCallbackData, LPINT lpErrno);
INT WSPAPI WSPAddressToString(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                              LPWSAPROTOCOL_INFOW lpProtocolInfo, LPWSTR lpszAddressString,
                              LPDWORD lpdwAddressStringLength, LPINT lpErrno);
int WSPAPI WSPAsyncSelect(SOCKET s, HWND hWnd, unsigned int wMsg, LONG lEvent, LPINT lpErrno);
int WSPAPI WSPBind(SOCKET s, const sockaddr* name, int namelen, LPINT lpErrno);
int WSPAPI WSPCancelBlockingCall(LPINT lpErrno);
int WSPAPI WSPCleanup(LPINT lpErrno);
int WSPAPI WSPCloseSocket(SOCKET s, LPINT lpErrno);
int WSPAPI WSPConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                      LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, LPINT lpErrno);
int WSPAPI WSPDuplicateSocket(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                              LPINT lpErrno);
int WSPAPI WSPEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject,
                                LPWSANETWORKEVENTS lpNetworkEvents, LPINT lpErrno);
int WSPAPI WSPEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents, LPINT lpErrno);
BOOL WSPAPI WSPGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                   BOOL fWait, LPDWORD lpdwFlags, LPINT lpErrno);
int WSPAPI WSPGetPeerName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno);
int WSPAPI WSPGetSockName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno);
int WSPAPI WSPGetSockOpt(SOCKET s, int level, int optname, char* optval, LPINT optlen,
                         LPINT lpErrno);
BOOL WSPAPI WSPGetQOSByName(SOCKET s, LPWSABUF lpQOSName, LPQOS lpQOS, LPINT lpErrno);
int WSPAPI WSPIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer,
                    LPVOID lpvOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbBytesReturned,
                    LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                    LPWSATHREADID lpThreadId, LPINT lpErrno);
SOCKET WSPAPI WSPJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                          LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags,
                          LPINT lpErrno);
int WSPAPI WSPListen(SOCKET s, int backlog, LPINT lpErrno);
int WSPAPI WSPRecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                   LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno);
int WSPAPI WSPRecvDisconnect(SOCKET s, LPWSABUF lpInboundDisconnectData, LPINT lpErrno);
int WSPAPI WSPRecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                       LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                       LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                       LPWSATHREADID lpThreadId, LPINT lpErrno);
int WSPAPI WSPSelect(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                     PTIMEVAL timeout, LPINT lpErrno);
int WSPAPI WSPSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                   DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno);
int WSPAPI WSPSendDisconnect(SOCKET s, LPWSABUF lpOutboundDisconnectData, LPINT lpErrno);
int WSPAPI WSPSendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                     LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                     LPWSATHREADID lpThreadId, LPINT lpErrno);
int WSPAPI WSPSetSockOpt(SOCKET s, int level, int optname, const char* optval, int optlen,
                         LPINT lpErrno);
int WSPAPI WSPShutdown(SOCKET s, int how, LPINT lpErrno);
SOCKET WSPAPI WSPSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                        GROUP g, DWORD dwFlags, LPINT lpErrno);
INT WSPAPI WSPStringToAddress(LPWSTR AddressString, INT AddressFamily,
                              LPWSAPROTOCOL_INFOW lpProtocolInfo, LPSOCKADDR lpAddress,
                              LPINT lpAddressLength, LPINT lpErrno);

// The chain a new socket of this kind belongs to, or null with the layer's error in errorCell.
LowerProvider* FindLowerEntry(int addressFamily, int socketType, int protocol,
                              const WSAPROTOCOL_INFOW* protocolInfo, int* errorCell);

// Gives a new lower socket its context and layered handle. With a parent (accept, join) the
// context is linked only once the handle exists and takes the parent's tracing state. Null, with
// the lower socket closed and the error in errorCell, when either cannot be made.
SocketContext* WrapLowerSocket(LowerProvider* provider, SOCKET lowerSocket, SocketContext* parent,
                               int* errorCell);

// Looks the handle up for the length of one forwarded call and drops the reference afterwards.
// An unknown handle gives WSAENOTSOCK and the failure value without reaching the lower provider.
template <typename Result, typename Call>
Result ForwardOnSocket(SOCKET s, LPINT lpErrno, Result failure, Call call)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        return failure;
    }
    Result result = call(context);
    ReleaseAfterCall(context);
    return result;
}

// As ForwardOnSocket, with the call's report made while the context is still held; for an
// unknown handle the report gets no context and the failure value.
template <typename Result, typename Call, typename Report>
Result TraceOnSocket(SOCKET s, LPINT lpErrno, Result failure, Call call, Report report)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        report(failure, static_cast<SocketContext*>(nullptr));
        return failure;
    }
    Result result = call(context);
    report(result, context);
    ReleaseAfterCall(context);
    return result;
}

// The lower entry of the context's provider, called with the blocking provider recorded.
#define CALL_LOWER(context, entry, ...)                                                      \
    [&] {                                                                                    \
        SetBlockingProvider((context)->provider);                                            \
        auto lowerResult = (context)->provider->procTable.entry((context)->lowerSocket,      \
                                                                __VA_ARGS__);                \
        SetBlockingProvider(nullptr);                                                        \
        return lowerResult;                                                                  \
    }()
