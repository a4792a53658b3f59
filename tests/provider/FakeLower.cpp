#include "FakeLower.h"
#include <mswsock.h>
#include <cstddef>
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
                       : call.extension && !call.bufferCount ? control.extensionBytes
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
    if (call.overlapped->hEvent)
        SetEvent(call.overlapped->hEvent);
    return TRUE;
}

// The next entry of pending, cleared, or null when all are taken.
static FakePending* NewPending(int* index)
{
    if (control.pendingCount >= FakePendingLimit)
        return nullptr;
    *index = control.pendingCount;
    control.pending[*index] = FakePending{};
    return &control.pending[*index];
}

// Counts the filled entry in, its overlapped marked in progress; TRUE when completeAtOnce
// finished it on the spot.
static BOOL PublishPending(int index, LPWSAOVERLAPPED overlapped)
{
    control.pending[index].overlapped = overlapped;
    overlapped->Internal = WSS_OPERATION_IN_PROGRESS;
    InterlockedExchange(&control.pendingCount, index + 1);
    if (!control.completeAtOnce)
        return FALSE;
    CompleteFakeOperation(index, 0);
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
    int index = 0;
    FakePending* call = NewPending(&index);
    if (!call)
        return Fail(lpErrno, WSAENOBUFS);
    call->socket = s;
    call->receive = receive;
    call->buffers = buffers;
    call->bufferCount = count;
    call->bytes = bytes;
    call->flags = flags;
    call->routine = routine;
    if (thread)
        call->thread = *thread;
    return PublishPending(index, overlapped) ? 0 : Fail(lpErrno, WSA_IO_PENDING);
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
    SOCKET accepted = control.nextSocket++;
    if (control.notifyOnAccept) {
        PostMessageA(control.selectWindow, control.selectMessage, accepted, control.notifyOnAccept);
        Sleep(300);
    }
    return accepted;
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

// The protocol record is the description, checked as the system checks it: a longer buffer
// keeps the length it was given.
static int ProtocolRecord(int name, char* value, LPINT length, LPINT lpErrno)
{
    const int nameOffset = offsetof(WSAPROTOCOL_INFOA, szProtocol);
    int size = name == SO_PROTOCOL_INFOW ? sizeof(WSAPROTOCOL_INFOW) : sizeof(WSAPROTOCOL_INFOA);
    if (IsBadWritePtr(length, sizeof(int)) || *length < size || IsBadWritePtr(value, size))
        return Fail(lpErrno, WSAEFAULT);
    if (name == SO_PROTOCOL_INFOW) {
        memcpy(value, &control.description, size);
        return 0;
    }
    memcpy(value, &control.description, nameOffset);
    WideCharToMultiByte(CP_ACP, 0, control.description.szProtocol, -1, value + nameOffset,
                        WSAPROTOCOL_LEN + 1, nullptr, nullptr);
    return 0;
}

// Every other option reads as optionValue.
static int WSPAPI FakeGetSockOpt(SOCKET s, int level, int name, char* value, LPINT length,
                                 LPINT lpErrno)
{
    if (ConnectionCall(s, lpErrno) != 0)
        return SOCKET_ERROR;
    if (level == SOL_SOCKET && (name == SO_PROTOCOL_INFOW || name == SO_PROTOCOL_INFOA))
        return ProtocolRecord(name, value, length, lpErrno);
    if (*length < static_cast<int>(sizeof(int)))
        return Fail(lpErrno, WSAEFAULT);
    memcpy(value, &control.optionValue, sizeof(int));
    *length = sizeof(int);
    return 0;
}

static int WSPAPI FakeDuplicateSocket(SOCKET s, DWORD, LPWSAPROTOCOL_INFOW info, LPINT lpErrno)
{
    if (ConnectionCall(s, lpErrno) != 0)
        return SOCKET_ERROR;
    *info = control.description;
    info->dwProviderReserved = control.duplicateKey;
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
UNSUPPORTED(FakeEnumNetworkEvents, int, SOCKET, WSAEVENT, LPWSANETWORKEVENTS)
UNSUPPORTED(FakeRecvDisconnect, int, SOCKET, LPWSABUF)
UNSUPPORTED(FakeSendDisconnect, int, SOCKET, LPWSABUF)
UNSUPPORTED(FakeStringToAddress, INT, LPWSTR, INT, LPWSAPROTOCOL_INFOW, LPSOCKADDR, LPINT)
UNSUPPORTED(FakeCancelBlockingCall, int, int)

static int WSPAPI FakeCancel(LPINT lpErrno)
{
    return FakeCancelBlockingCall(0, lpErrno);
}

static BOOL WSPAPI FakeGetQOSByName(SOCKET, LPWSABUF, LPQOS, LPINT lpErrno)
{
    *lpErrno = WSAEOPNOTSUPP;
    return FALSE;
}

// The extension functions' shared course: the call is counted, fails with extensionError, is
// done at once without an overlapped, else goes pending or, with completeAtOnce, completes.
static BOOL Extension(SOCKET s, SOCKET second, LPWSAOVERLAPPED overlapped, LPDWORD bytes,
                      BOOL receive, LPWSABUF buffers, DWORD bufferCount, void* buffer,
                      DWORD length, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine = nullptr)
{
    control.extensionCalls++;
    control.extensionSockets[0] = s;
    control.extensionSockets[1] = second;
    control.extensionOverlapped = overlapped;
    if (control.extensionError) {
        WSASetLastError(control.extensionError);
        return FALSE;
    }
    int index = 0;
    FakePending* call = NewPending(&index);
    if (!call) {
        WSASetLastError(WSAENOBUFS);
        return FALSE;
    }
    call->extension = TRUE;
    call->socket = s;
    call->receive = receive;
    call->extensionBuffer = {length, static_cast<char*>(buffer)};
    call->buffers = buffer ? &call->extensionBuffer : buffers;
    call->bufferCount = buffer ? 1 : bufferCount;
    call->bytes = bytes;
    call->routine = routine;
    if (!overlapped) {
        // Done at once, on an entry of its own that nobody completes again.
        static WSAOVERLAPPED scratch;
        call->overlapped = &scratch;
        InterlockedExchange(&control.pendingCount, index + 1);
        CompleteFakeOperation(index, 0);
        return TRUE;
    }
    if (PublishPending(index, overlapped))
        return TRUE;
    WSASetLastError(WSA_IO_PENDING);
    return FALSE;
}

static BOOL WINAPI FakeTransmitFile(SOCKET s, HANDLE, DWORD, DWORD, LPOVERLAPPED overlapped,
                                    LPTRANSMIT_FILE_BUFFERS, DWORD)
{
    return Extension(s, 0, overlapped, nullptr, FALSE, nullptr, 0, nullptr, 0);
}

static BOOL WINAPI FakeAcceptEx(SOCKET listening, SOCKET accepting, PVOID output,
                                DWORD receiveLength, DWORD, DWORD, LPDWORD received,
                                LPOVERLAPPED overlapped)
{
    return Extension(listening, accepting, overlapped, received, TRUE, nullptr, 0,
                     receiveLength ? output : nullptr, receiveLength);
}

static BOOL WINAPI FakeConnectEx(SOCKET s, const sockaddr* name, int length, PVOID send,
                                 DWORD sendLength, LPDWORD sent, LPOVERLAPPED overlapped)
{
    control.connectTargetLength = length;
    memcpy(&control.connectTarget, name,
           length < static_cast<int>(sizeof(sockaddr_in)) ? length : sizeof(sockaddr_in));
    return Extension(s, 0, overlapped, sent, FALSE, nullptr, 0, sendLength ? send : nullptr,
                     sendLength);
}

static BOOL WINAPI FakeDisconnectEx(SOCKET s, LPOVERLAPPED overlapped, DWORD, DWORD)
{
    return Extension(s, 0, overlapped, nullptr, FALSE, nullptr, 0, nullptr, 0);
}

static BOOL WINAPI FakeTransmitPackets(SOCKET s, LPTRANSMIT_PACKETS_ELEMENT, DWORD, DWORD,
                                       LPOVERLAPPED overlapped, DWORD)
{
    return Extension(s, 0, overlapped, nullptr, FALSE, nullptr, 0, nullptr, 0);
}

static INT WINAPI FakeRecvMsg(SOCKET s, LPWSAMSG message, LPDWORD received,
                              LPWSAOVERLAPPED overlapped,
                              LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    return Extension(s, 0, overlapped, received, TRUE, message->lpBuffers,
                     message->dwBufferCount, nullptr, 0, routine)
               ? 0
               : SOCKET_ERROR;
}

static VOID WINAPI FakeGetAcceptExSockaddrs(PVOID, DWORD, DWORD, DWORD, sockaddr** local,
                                            LPINT localLength, sockaddr** remote,
                                            LPINT remoteLength)
{
    control.sockaddrsCalls++;
    *local = *remote = reinterpret_cast<sockaddr*>(&control.source);
    *localLength = *remoteLength = sizeof(sockaddr_in);
}

struct FakeExtension {
    GUID id;
    void* function;
};
static const FakeExtension fakeExtensions[] = {
    {WSAID_TRANSMITFILE, reinterpret_cast<void*>(FakeTransmitFile)},
    {WSAID_ACCEPTEX, reinterpret_cast<void*>(FakeAcceptEx)},
    {WSAID_CONNECTEX, reinterpret_cast<void*>(FakeConnectEx)},
    {WSAID_DISCONNECTEX, reinterpret_cast<void*>(FakeDisconnectEx)},
    {WSAID_TRANSMITPACKETS, reinterpret_cast<void*>(FakeTransmitPackets)},
    {WSAID_WSARECVMSG, reinterpret_cast<void*>(FakeRecvMsg)},
    {WSAID_GETACCEPTEXSOCKADDRS, reinterpret_cast<void*>(FakeGetAcceptExSockaddrs)},
};

// Any other control code: connectionError fails it, else the output reads optionValue; an
// overlapped one goes pending (completed by the test) unless completeAtOnce.
static int ControlCode(SOCKET s, DWORD code, LPVOID output, DWORD outputLength, LPDWORD returned,
                       LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                       LPWSATHREADID thread, LPINT lpErrno)
{
    control.lastControlCode = code;
    if (control.connectionError)
        return Fail(lpErrno, control.connectionError);
    if (output && outputLength >= sizeof(int))
        memcpy(output, &control.optionValue, sizeof(int));
    DWORD written = output && outputLength >= sizeof(int) ? sizeof(int) : 0;
    if (!overlapped) {
        if (returned)
            *returned = written;
        return 0;
    }
    int index = 0;
    FakePending* call = NewPending(&index);
    if (!call)
        return Fail(lpErrno, WSAENOBUFS);
    call->socket = s;
    call->extension = TRUE;   // answered through WSPGetOverlappedResult as the extensions are
    call->bytes = returned;
    call->routine = routine;
    if (thread)
        call->thread = *thread;
    control.extensionBytes = written;
    return PublishPending(index, overlapped) ? 0 : Fail(lpErrno, WSA_IO_PENDING);
}

// Hands out the fake extension functions and answers the other control codes.
static int WSPAPI FakeIoctl(SOCKET s, DWORD code, LPVOID input, DWORD inputLength, LPVOID output,
                            DWORD outputLength, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                            LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread,
                            LPINT lpErrno)
{
    control.lastSocket = s;
    if (code != SIO_GET_EXTENSION_FUNCTION_POINTER)
        return ControlCode(s, code, output, outputLength, returned, overlapped, routine, thread,
                           lpErrno);
    if (control.extensionFetchError)
        return Fail(lpErrno, control.extensionFetchError);
    if (inputLength < sizeof(GUID) || outputLength < sizeof(void*))
        return Fail(lpErrno, WSAEFAULT);
    for (const FakeExtension& extension : fakeExtensions) {
        if (memcmp(&extension.id, input, sizeof(GUID)) == 0) {
            control.extensionFetches++;
            memcpy(output, &extension.function, sizeof(void*));
            if (returned)
                *returned = sizeof(void*);
            return 0;
        }
    }
    return Fail(lpErrno, WSAEINVAL);
}

// Answers for the extension functions' overlapped calls only, which the layer asks after an
// event of its own told it they are done.
static BOOL WSPAPI FakeGetOverlappedResult(SOCKET, LPWSAOVERLAPPED overlapped, LPDWORD bytes,
                                           BOOL, LPDWORD flags, LPINT lpErrno)
{
    // The newest first: the layer's records, and so their overlapped, are used again.
    for (LONG i = control.pendingCount - 1; i >= 0; i--) {
        const FakePending& call = control.pending[i];
        if (!call.extension || call.overlapped != overlapped)
            continue;
        if (!call.completed) {
            *lpErrno = WSA_IO_INCOMPLETE;
            return FALSE;
        }
        *bytes = call.transferred;
        *flags = 0;
        if (call.error) {
            *lpErrno = static_cast<int>(call.error);
            return FALSE;
        }
        return TRUE;
    }
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
