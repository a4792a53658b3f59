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
    control.lastOptionLength = length;
    if (control.setOptionError)
        return Fail(lpErrno, control.setOptionError);
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

static WSPUPCALLTABLE upcalls;

static DWORD Deliver(LPWSABUF buffers, DWORD count)
{
    DWORD copied = 0;
    for (DWORD i = 0; i < count && copied < control.dataLength; i++) {
        DWORD length = buffers[i].len < control.dataLength - copied ? buffers[i].len
                                                                    : control.dataLength - copied;
        memcpy(buffers[i].buf, control.data + copied, length);
        copied += length;
    }
    return copied;
}

static DWORD Gather(LPWSABUF buffers, DWORD count)
{
    DWORD total = 0;
    control.sentLength = 0;
    for (DWORD i = 0; i < count; i++) {
        for (DWORD b = 0; b < buffers[i].len && control.sentLength < FakeDataLimit; b++)
            control.sent[control.sentLength++] = static_cast<BYTE>(buffers[i].buf[b]);
        total += buffers[i].len;
    }
    if (control.transferCalls <= FakeSocketLimit && control.sentLength)
        control.callOrder[control.transferCalls - 1] = control.sent[0];
    return total;
}

static void CALLBACK RunRoutine(DWORD_PTR parameter)
{
    FakePending& call = *reinterpret_cast<FakePending*>(parameter);
    call.routine(call.error, call.transferred, call.overlapped, call.flags ? *call.flags : 0);
}

extern "C" __declspec(dllexport) BOOL CompleteFakeOperation(int index, DWORD error)
{
    if (index < 0 || index >= control.pendingCount || control.pending[index].completed)
        return FALSE;
    FakePending& call = control.pending[index];
    call.completed = TRUE;
    call.error = error;
    call.transferred = error ? 0
                       : call.receive ? Deliver(call.buffers, call.bufferCount)
                                      : Gather(call.buffers, call.bufferCount);
    if (call.flags && call.receive)
        *call.flags = error ? 0 : control.receiveFlags;
    if (call.bytes)
        *call.bytes = call.transferred;
    if (call.routine) {
        int apcError = 0;
        return upcalls.lpWPUQueueApc(&call.thread, RunRoutine, reinterpret_cast<DWORD_PTR>(&call),
                                     &apcError) == 0;
    }
    call.overlapped->InternalHigh = call.transferred;
    call.overlapped->Internal = error;
    return TRUE;
}

// The shared course of the four data calls.
static int Transfer(SOCKET s, BOOL receive, LPWSABUF buffers, DWORD count, LPDWORD bytes,
                    LPDWORD flags, LPWSAOVERLAPPED overlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                    LPINT lpErrno)
{
    control.lastSocket = s;
    if (control.transferCalls < FakeSocketLimit)
        control.callThreads[control.transferCalls] = GetCurrentThreadId();
    control.transferCalls++;
    if (control.transferError)
        return Fail(lpErrno, control.transferError);
    if (!overlapped) {
        *bytes = receive ? Deliver(buffers, count) : Gather(buffers, count);
        if (receive)
            *flags = control.receiveFlags;
        return 0;
    }
    if (control.pendingCount >= FakePendingLimit)
        return Fail(lpErrno, WSAENOBUFS);
    int index = control.pendingCount;
    FakePending& call = control.pending[index];
    call = FakePending{};
    call.socket = s;
    call.receive = receive;
    call.buffers = buffers;
    call.bufferCount = count;
    call.bytes = bytes;
    call.flags = flags;
    call.overlapped = overlapped;
    call.routine = routine;
    if (thread)
        call.thread = *thread;
    overlapped->Internal = WSS_OPERATION_IN_PROGRESS;
    InterlockedExchange(&control.pendingCount, index + 1);
    if (control.completeAtOnce) {
        CompleteFakeOperation(index, 0);
        return 0;
    }
    return Fail(lpErrno, WSA_IO_PENDING);
}

static int WSPAPI FakeSend(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                           LPWSAOVERLAPPED overlapped,
                           LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                           LPINT lpErrno)
{
    control.sendCalls++;
    control.lastFlags = flags;
    return Transfer(s, FALSE, buffers, count, sent, nullptr, overlapped, routine, thread, lpErrno);
}

static int WSPAPI FakeSendTo(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                             const sockaddr*, int, LPWSAOVERLAPPED overlapped,
                             LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                             LPINT lpErrno)
{
    return FakeSend(s, buffers, count, sent, flags, overlapped, routine, thread, lpErrno);
}

static int WSPAPI FakeRecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                           LPDWORD flags, LPWSAOVERLAPPED overlapped,
                           LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                           LPINT lpErrno)
{
    return Transfer(s, TRUE, buffers, count, received, flags, overlapped, routine, thread,
                    lpErrno);
}

static int WSPAPI FakeRecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                               LPDWORD flags, sockaddr* from, LPINT fromLength,
                               LPWSAOVERLAPPED overlapped,
                               LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                               LPINT lpErrno)
{
    if (from && fromLength && *fromLength >= static_cast<int>(sizeof(sockaddr_in))) {
        memcpy(from, &control.source, sizeof(sockaddr_in));
        *fromLength = sizeof(sockaddr_in);
    }
    return Transfer(s, TRUE, buffers, count, received, flags, overlapped, routine, thread,
                    lpErrno);
}

// Accepts a new socket from source; transferError fails it.
static SOCKET WSPAPI FakeAccept(SOCKET s, sockaddr* address, LPINT addressLength, LPCONDITIONPROC,
                                DWORD_PTR, LPINT lpErrno)
{
    control.lastSocket = s;
    if (control.transferError) {
        *lpErrno = control.transferError;
        return INVALID_SOCKET;
    }
    if (address && addressLength && *addressLength >= static_cast<int>(sizeof(sockaddr_in))) {
        memcpy(address, &control.source, sizeof(sockaddr_in));
        *addressLength = sizeof(sockaddr_in);
    }
    return control.nextSocket++;
}

// The connection entries, the two selects, shutdown and reading an option: connectionError fails
// them all.
static int ConnectionCall(SOCKET s, LPINT lpErrno)
{
    control.lastSocket = s;
    return control.connectionError ? Fail(lpErrno, control.connectionError) : 0;
}

static int WSPAPI FakeListen(SOCKET s, int, LPINT lpErrno)
{
    return ConnectionCall(s, lpErrno);
}

static int WSPAPI FakeBind(SOCKET s, const sockaddr*, int, LPINT lpErrno)
{
    return ConnectionCall(s, lpErrno);
}

static int WSPAPI FakeConnect(SOCKET s, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS,
                              LPINT lpErrno)
{
    return ConnectionCall(s, lpErrno);
}

// Both names are the source address.
static int WSPAPI FakeName(SOCKET s, sockaddr* name, LPINT length, LPINT lpErrno)
{
    if (ConnectionCall(s, lpErrno) != 0)
        return SOCKET_ERROR;
    if (*length < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(lpErrno, WSAEFAULT);
    memcpy(name, &control.source, sizeof(sockaddr_in));
    *length = sizeof(sockaddr_in);
    return 0;
}

static SOCKET WSPAPI FakeJoinLeaf(SOCKET s, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS,
                                  LPQOS, DWORD, LPINT lpErrno)
{
    if (ConnectionCall(s, lpErrno) != 0)
        return INVALID_SOCKET;
    return control.joinMakesSocket ? control.nextSocket++ : s;
}

static int WSPAPI FakeAsyncSelect(SOCKET s, HWND window, unsigned int message, LONG events,
                                  LPINT lpErrno)
{
    control.selectWindow = window;
    control.selectMessage = message;
    control.selectEvents = events;
    return ConnectionCall(s, lpErrno);
}

// Every option reads as optionValue.
static int WSPAPI FakeGetSockOpt(SOCKET s, int, int, char* value, LPINT length, LPINT lpErrno)
{
    if (ConnectionCall(s, lpErrno) != 0)
        return SOCKET_ERROR;
    if (*length < static_cast<int>(sizeof(int)))
        return Fail(lpErrno, WSAEFAULT);
    memcpy(value, &control.optionValue, sizeof(int));
    *length = sizeof(int);
    return 0;
}

static int WSPAPI FakeShutdown(SOCKET s, int, LPINT lpErrno)
{
    return ConnectionCall(s, lpErrno);
}

static int WSPAPI FakeEventSelect(SOCKET s, WSAEVENT, LONG events, LPINT lpErrno)
{
    control.selectEvents = events;
    return ConnectionCall(s, lpErrno);
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

UNSUPPORTED(FakeAddressToString, INT, LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD)
UNSUPPORTED(FakeDuplicateSocket, int, SOCKET, DWORD, LPWSAPROTOCOL_INFOW)
UNSUPPORTED(FakeEnumNetworkEvents, int, SOCKET, WSAEVENT, LPWSANETWORKEVENTS)
UNSUPPORTED(FakeIoctl, int, SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
            LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID)
UNSUPPORTED(FakeRecvDisconnect, int, SOCKET, LPWSABUF)
UNSUPPORTED(FakeSendDisconnect, int, SOCKET, LPWSABUF)
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
                                 WSPUPCALLTABLE upcallTable, LPWSPPROC_TABLE table)
{
    upcalls = upcallTable;
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
        FakeName,          FakeName,             FakeGetSockOpt,     FakeGetQOSByName,
        FakeIoctl,         FakeJoinLeaf,         FakeListen,         FakeRecv,
        FakeRecvDisconnect, FakeRecvFrom,        FakeSelect,         FakeSend,
        FakeSendDisconnect, FakeSendTo,          FakeSetSockOpt,     FakeShutdown,
        FakeSocket,        FakeStringToAddress,
    };
    if (control.nullEntry >= 0)
        reinterpret_cast<void**>(table)[control.nullEntry] = nullptr;
    return 0;
}
