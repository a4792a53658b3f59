#include "FakeLower.h"
#include <cstring>

static FakeLowerControl control;

extern "C" __declspec(dllexport) FakeLowerControl* GetFakeLowerControl()
{
    return &control;
}

static int Fail(LPINT lpErrno, int error)
{
    *lpErrno = error;
    return SOCKET_ERROR;
}

static SOCKET WSPAPI FakeSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW info, GROUP,
                                DWORD, LPINT lpErrno)
{
    control.socketCalls++;
    control.socketFamily = af;
    control.socketType = type;
    control.socketProtocol = protocol;
    if (info)
        control.socketInfo = *info;
    if (control.socketError) {
        *lpErrno = control.socketError;
        return INVALID_SOCKET;
    }
    return control.nextSocket++;
}

static int WSPAPI FakeCloseSocket(SOCKET s, LPINT lpErrno)
{
    control.lastSocket = s;
    if (control.closeError)
        return Fail(lpErrno, control.closeError);
    if (control.closeCalls < FakeSocketLimit)
        control.closed[control.closeCalls] = s;
    control.closeCalls++;
    return 0;
}

static int WSPAPI FakeSetSockOpt(SOCKET s, int level, int name, const char* value, int length,
                                 LPINT lpErrno)
{
    control.lastSocket = s;
    control.lastOptionName = name;
    if (length >= static_cast<int>(sizeof(SOCKET)))
        memcpy(&control.lastOptionValue, value, sizeof(SOCKET));
    if (level == SOL_SOCKET && name == SO_LINGER && length == sizeof(linger)) {
        control.lingerCalls++;
        memcpy(&control.lastLinger, value, sizeof(linger));
        if (s == control.lingerFailSocket)
            return Fail(lpErrno, WSAEINVAL);
    }
    return 0;
}

static int WSPAPI FakeSelect(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                             PTIMEVAL, LPINT)
{
    control.selectCalls++;
    control.selectReadCount = 0;
    int ready = 0;
    if (readfds) {
        control.selectReadCount = readfds->fd_count;
        memcpy(control.selectRead, readfds->fd_array,
               readfds->fd_count * sizeof(SOCKET) > sizeof(control.selectRead)
                   ? sizeof(control.selectRead)
                   : readfds->fd_count * sizeof(SOCKET));
        ready = control.readyCount < static_cast<int>(readfds->fd_count)
                    ? control.readyCount
                    : static_cast<int>(readfds->fd_count);
        readfds->fd_count = ready;
    }
    if (writefds)
        writefds->fd_count = 0;
    if (exceptfds)
        exceptfds->fd_count = 0;
    return ready;
}

static int WSPAPI FakeSend(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD,
                           LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID,
                           LPINT)
{
    control.lastSocket = s;
    control.sendCalls++;
    DWORD total = 0;
    for (DWORD i = 0; i < count; i++)
        total += buffers[i].len;
    *sent = total;
    return 0;
}

static int WSPAPI FakeRecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD,
                           LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID,
                           LPINT)
{
    control.lastSocket = s;
    *received = count ? buffers[0].len : 0;
    return 0;
}

static int WSPAPI FakeListen(SOCKET s, int, LPINT)
{
    control.lastSocket = s;
    return 0;
}

static int WSPAPI FakeCleanup(LPINT)
{
    control.cleanupCalls++;
    return 0;
}

// Entries the tests never script answer that they are not supported.
#define UNSUPPORTED(name, result, ...)                                                     \
    static result WSPAPI name(__VA_ARGS__, LPINT lpErrno)                                  \
    {                                                                                      \
        *lpErrno = WSAEOPNOTSUPP;                                                          \
        return (result)SOCKET_ERROR;                                                       \
    }

UNSUPPORTED(FakeAccept, SOCKET, SOCKET, sockaddr*, LPINT, LPCONDITIONPROC, DWORD_PTR)
UNSUPPORTED(FakeAddressToString, INT, LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD)
UNSUPPORTED(FakeAsyncSelect, int, SOCKET, HWND, unsigned int, LONG)
UNSUPPORTED(FakeBind, int, SOCKET, const sockaddr*, int)
UNSUPPORTED(FakeConnect, int, SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS)
UNSUPPORTED(FakeDuplicateSocket, int, SOCKET, DWORD, LPWSAPROTOCOL_INFOW)
UNSUPPORTED(FakeEnumNetworkEvents, int, SOCKET, WSAEVENT, LPWSANETWORKEVENTS)
UNSUPPORTED(FakeEventSelect, int, SOCKET, WSAEVENT, LONG)
UNSUPPORTED(FakeGetPeerName, int, SOCKET, sockaddr*, LPINT)
UNSUPPORTED(FakeGetSockName, int, SOCKET, sockaddr*, LPINT)
UNSUPPORTED(FakeGetSockOpt, int, SOCKET, int, int, char*, LPINT)
UNSUPPORTED(FakeIoctl, int, SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
            LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID)
UNSUPPORTED(FakeJoinLeaf, SOCKET, SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS,
            DWORD)
UNSUPPORTED(FakeRecvDisconnect, int, SOCKET, LPWSABUF)
UNSUPPORTED(FakeRecvFrom, int, SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, sockaddr*, LPINT,
            LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID)
UNSUPPORTED(FakeSendDisconnect, int, SOCKET, LPWSABUF)
UNSUPPORTED(FakeSendTo, int, SOCKET, LPWSABUF, DWORD, LPDWORD, DWORD, const sockaddr*, int,
            LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID)
UNSUPPORTED(FakeShutdown, int, SOCKET, int)
UNSUPPORTED(FakeStringToAddress, INT, LPWSTR, INT, LPWSAPROTOCOL_INFOW, LPSOCKADDR, LPINT)
UNSUPPORTED(FakeCancelBlockingCall, int, int)

static int WSPAPI FakeCancel(LPINT lpErrno)
{
    return FakeCancelBlockingCall(0, lpErrno);
}

static BOOL WSPAPI FakeGetOverlappedResult(SOCKET, LPWSAOVERLAPPED, LPDWORD, BOOL, LPDWORD,
                                           LPINT lpErrno)
{
    *lpErrno = WSAEOPNOTSUPP;
    return FALSE;
}

static BOOL WSPAPI FakeGetQOSByName(SOCKET, LPWSABUF, LPQOS, LPINT lpErrno)
{
    *lpErrno = WSAEOPNOTSUPP;
    return FALSE;
}

extern "C" int WSPAPI WSPStartup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW info,
                                 WSPUPCALLTABLE, LPWSPPROC_TABLE table)
{
    control.startupCalls++;
    control.startupVersion = version;
    control.startupInfoGiven = info != nullptr;
    if (info)
        control.startupInfo = *info;
    if (control.startupResult)
        return control.startupResult;
    data->wVersion = data->wHighVersion = MAKEWORD(1, 1);   // the layer must overwrite it
    *table = WSPPROC_TABLE{
        FakeAccept,        FakeAddressToString,  FakeAsyncSelect,    FakeBind,
        FakeCancel,        FakeCleanup,          FakeCloseSocket,    FakeConnect,
        FakeDuplicateSocket, FakeEnumNetworkEvents, FakeEventSelect, FakeGetOverlappedResult,
        FakeGetPeerName,   FakeGetSockName,      FakeGetSockOpt,     FakeGetQOSByName,
        FakeIoctl,         FakeJoinLeaf,         FakeListen,         FakeRecv,
        FakeRecvDisconnect, FakeRecvFrom,        FakeSelect,         FakeSend,
        FakeSendDisconnect, FakeSendTo,          FakeSetSockOpt,     FakeShutdown,
        FakeSocket,        FakeStringToAddress,
    };
    if (control.nullEntry >= 0)
        reinterpret_cast<void**>(table)[control.nullEntry] = nullptr;
    return 0;
}
