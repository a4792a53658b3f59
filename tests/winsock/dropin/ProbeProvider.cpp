#include "ProbeProvider.h"

#include <cstring>

extern "C" int WINAPI ProbeExtension();

namespace {

ProbeState state;

int Fail(LPINT lpErrno, int error)
{
    *lpErrno = error;
    return SOCKET_ERROR;
}

LONG handlesMade;

SOCKET WSPAPI ProbeSocket(int, int, int, LPWSAPROTOCOL_INFOW, GROUP, DWORD, LPINT lpErrno)
{
    DWORD_PTR context = 0x51000 + InterlockedIncrement(&handlesMade) * 0x10;
    SOCKET s = state.upcalls.lpWPUCreateSocketHandle(state.catalogId, context, lpErrno);
    if (s != INVALID_SOCKET)
        state.lastContext = context;
    return s;
}

// Receives wait here until the test completes them or their socket closes.
struct PendingReceive {
    SOCKET socket;
    LPWSAOVERLAPPED overlapped;
    LPWSAOVERLAPPED_COMPLETION_ROUTINE routine;
    WSATHREADID thread;
    DWORD error, bytes; // the outcome, once known, for the routine
};
constexpr int maxPending = 16;
PendingReceive* pending[maxPending];
CRITICAL_SECTION pendingLock;

void CALLBACK RunReceiveRoutine(DWORD_PTR context)
{
    auto* receive = reinterpret_cast<PendingReceive*>(context);
    receive->routine(receive->error, receive->bytes, receive->overlapped, 0);
    HeapFree(GetProcessHeap(), 0, receive);
}

// Removes the socket's oldest pending receive from the list; null when it has none.
PendingReceive* TakePending(SOCKET s)
{
    EnterCriticalSection(&pendingLock);
    PendingReceive* found = nullptr;
    for (int i = 0; i < maxPending && !found; ++i)
        if (pending[i] && pending[i]->socket == s) {
            found = pending[i];
            for (int j = i; j + 1 < maxPending; ++j)
                pending[j] = pending[j + 1];
            pending[maxPending - 1] = nullptr;
        }
    LeaveCriticalSection(&pendingLock);
    return found;
}

// Completes as a provider does: its own record in Offset and OffsetHigh first, then the upcall.
int CompleteReceive(PendingReceive* receive, DWORD error, DWORD bytes, LPINT lpErrno)
{
    receive->overlapped->Offset = error;
    receive->overlapped->OffsetHigh = probeRecordMark;
    receive->overlapped->InternalHigh = bytes;
    if (receive->routine) {
        receive->error = error;
        receive->bytes = bytes;
        receive->overlapped->Internal = error;
        int result = state.upcalls.lpWPUQueueApc(&receive->thread, RunReceiveRoutine,
                                                 reinterpret_cast<DWORD_PTR>(receive), lpErrno);
        state.upcalls.lpWPUCloseThread(&receive->thread, lpErrno);
        return result;
    }
    int result = WPUCompleteOverlappedRequest(receive->socket, receive->overlapped, error, bytes,
                                              lpErrno);
    HeapFree(GetProcessHeap(), 0, receive);
    return result;
}

int WSPAPI ProbeCloseSocket(SOCKET s, LPINT lpErrno)
{
    DWORD_PTR context = 0;
    if (state.upcalls.lpWPUQuerySocketHandleContext(s, &context, lpErrno) != 0)
        return SOCKET_ERROR;
    while (PendingReceive* receive = TakePending(s)) {
        int ignored = 0;
        CompleteReceive(receive, WSA_OPERATION_ABORTED, 0, &ignored);
    }
    return state.upcalls.lpWPUCloseSocketHandle(s, lpErrno);
}

int WSPAPI ProbeRecv(SOCKET s, LPWSABUF, DWORD, LPDWORD, LPDWORD, LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                     LPINT lpErrno)
{
    if (!lpOverlapped)
        return Fail(lpErrno, WSAEOPNOTSUPP);
    auto* receive = static_cast<PendingReceive*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PendingReceive)));
    if (!receive)
        return Fail(lpErrno, WSAENOBUFS);
    receive->socket = s;
    receive->overlapped = lpOverlapped;
    receive->routine = lpCompletionRoutine;
    // The thread id is the caller's only for the call; the routine needs a handle of its own.
    if (lpCompletionRoutine && state.upcalls.lpWPUOpenCurrentThread(&receive->thread, lpErrno)) {
        HeapFree(GetProcessHeap(), 0, receive);
        return SOCKET_ERROR;
    }
    lpOverlapped->Internal = WSS_OPERATION_IN_PROGRESS;
    EnterCriticalSection(&pendingLock);
    int slot = 0;
    while (slot < maxPending && pending[slot])
        ++slot;
    if (slot < maxPending)
        pending[slot] = receive;
    LeaveCriticalSection(&pendingLock);
    if (slot == maxPending) {
        HeapFree(GetProcessHeap(), 0, receive);
        return Fail(lpErrno, WSAENOBUFS);
    }
    return Fail(lpErrno, WSA_IO_PENDING);
}

LPWSAOVERLAPPED_COMPLETION_ROUTINE pendingRoutine;
LPWSAOVERLAPPED pendingOverlapped;
DWORD pendingBytes;

void CALLBACK RunCompletionRoutine(DWORD_PTR)
{
    pendingRoutine(0, pendingBytes, pendingOverlapped, 0);
}

int WSPAPI ProbeSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                     DWORD, LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                     LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    DWORD total = 0;
    for (DWORD i = 0; i < dwBufferCount; ++i)
        total += lpBuffers[i].len;
    if (!lpOverlapped) {
        *lpNumberOfBytesSent = total;
        return 0;
    }
    lpOverlapped->Internal = WSS_OPERATION_IN_PROGRESS;
    lpOverlapped->Offset = 0;
    if (lpCompletionRoutine) {
        pendingRoutine = lpCompletionRoutine;
        pendingOverlapped = lpOverlapped;
        pendingBytes = total;
        if (state.upcalls.lpWPUQueueApc(lpThreadId, RunCompletionRoutine, 0, lpErrno) != 0)
            return SOCKET_ERROR;
    } else if (WPUCompleteOverlappedRequest(s, lpOverlapped, 0, total, lpErrno) != 0) {
        return SOCKET_ERROR; // imported from ws2_32 by name, as providers do
    }
    return Fail(lpErrno, WSA_IO_PENDING);
}

BOOL WSPAPI ProbeGetOverlappedResult(SOCKET, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                     BOOL fWait, LPDWORD lpdwFlags, LPINT lpErrno)
{
    if (lpOverlapped->Internal == WSS_OPERATION_IN_PROGRESS) {
        if (!fWait) {
            *lpErrno = WSA_IO_INCOMPLETE;
            return FALSE;
        }
        WaitForSingleObject(lpOverlapped->hEvent, INFINITE);
    }
    // The outcome is the provider's own record, as the Winsock layer's fields are not its own.
    *lpcbTransfer = static_cast<DWORD>(lpOverlapped->InternalHigh);
    *lpdwFlags = 0;
    if (lpOverlapped->Offset != 0) {
        *lpErrno = static_cast<int>(lpOverlapped->Offset);
        return FALSE;
    }
    return TRUE;
}

int WSPAPI ProbeIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID lpvOutBuffer,
                      DWORD cbOutBuffer, LPDWORD lpcbBytesReturned, LPWSAOVERLAPPED,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT lpErrno)
{
    if (dwIoControlCode == probeQueryContext && cbOutBuffer >= sizeof(DWORD_PTR)) {
        *lpcbBytesReturned = sizeof(DWORD_PTR);
        return state.upcalls.lpWPUQuerySocketHandleContext(
            s, static_cast<DWORD_PTR*>(lpvOutBuffer), lpErrno);
    }
    if (dwIoControlCode == probeCompleteReceive && cbInBuffer == sizeof(ProbeOutcome)) {
        ProbeOutcome outcome;
        memcpy(&outcome, lpvInBuffer, sizeof outcome);
        PendingReceive* receive = TakePending(s);
        if (!receive)
            return Fail(lpErrno, WSAENOTCONN);
        *lpcbBytesReturned = 0;
        return CompleteReceive(receive, outcome.error, outcome.bytes, lpErrno);
    }
    if (dwIoControlCode == SIO_GET_EXTENSION_FUNCTION_POINTER && lpvInBuffer &&
        cbOutBuffer >= sizeof(void*)) {
        auto* function = reinterpret_cast<void*>(&ProbeExtension);
        memcpy(lpvOutBuffer, &function, sizeof function);
        *lpcbBytesReturned = sizeof function;
        return 0;
    }
    return Fail(lpErrno, WSAEOPNOTSUPP);
}

int WSPAPI ProbeCleanup(LPINT)
{
    InterlockedIncrement(&state.cleanups);
    return 0;
}

// The entries the tests do not use answer that they are not supported.
SOCKET WSPAPI ProbeAccept(SOCKET, sockaddr*, LPINT, LPCONDITIONPROC, DWORD_PTR, LPINT lpErrno)
{
    *lpErrno = WSAEOPNOTSUPP;
    return INVALID_SOCKET;
}
int WSPAPI ProbeAddressToString(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD, LPINT e)
{
    return Fail(e, WSAEOPNOTSUPP);
}
int WSPAPI ProbeAsyncSelect(SOCKET, HWND, unsigned int, __LONG32, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeBind(SOCKET, const sockaddr*, int, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeCancelBlockingCall(LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeConnect(SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS, LPINT e)
{
    return Fail(e, WSAEOPNOTSUPP);
}
int WSPAPI ProbeDuplicateSocket(SOCKET, DWORD, LPWSAPROTOCOL_INFOW, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeEnumNetworkEvents(SOCKET, WSAEVENT, LPWSANETWORKEVENTS, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeEventSelect(SOCKET, WSAEVENT, __LONG32, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeGetPeerName(SOCKET, sockaddr*, LPINT, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeGetSockName(SOCKET, sockaddr*, LPINT, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeGetSockOpt(SOCKET, int, int, char*, LPINT, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
BOOL WSPAPI ProbeGetQOSByName(SOCKET, LPWSABUF, LPQOS, LPINT e)
{
    *e = WSAEOPNOTSUPP;
    return FALSE;
}
SOCKET WSPAPI ProbeJoinLeaf(SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS, DWORD, LPINT e)
{
    *e = WSAEOPNOTSUPP;
    return INVALID_SOCKET;
}
int WSPAPI ProbeListen(SOCKET, int, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeRecvDisconnect(SOCKET, LPWSABUF, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeRecvFrom(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, sockaddr*, LPINT,
                         LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT e)
{
    return Fail(e, WSAEOPNOTSUPP);
}
// Every set is reported ready as it stands, which is all the routing test needs.
int WSPAPI ProbeSelect(int, fd_set* r, fd_set* w, fd_set* x, struct timeval*, LPINT)
{
    return (r ? r->fd_count : 0) + (w ? w->fd_count : 0) + (x ? x->fd_count : 0);
}
int WSPAPI ProbeSendDisconnect(SOCKET, LPWSABUF, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeSendTo(SOCKET, LPWSABUF, DWORD, LPDWORD, DWORD, const sockaddr*, int,
                       LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT e)
{
    return Fail(e, WSAEOPNOTSUPP);
}
int WSPAPI ProbeSetSockOpt(SOCKET, int, int, const char*, int, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeShutdown(SOCKET, int, LPINT e) { return Fail(e, WSAEOPNOTSUPP); }
int WSPAPI ProbeStringToAddress(LPWSTR, INT, LPWSAPROTOCOL_INFOW, LPSOCKADDR, LPINT, LPINT e)
{
    return Fail(e, WSAEOPNOTSUPP);
}

} // namespace

extern "C" {

int WINAPI ProbeExtension()
{
    return 0x7e57;
}

ProbeState* WINAPI ProbeGetState()
{
    return &state;
}

int WSPAPI WSPStartup(WORD, LPWSPDATA lpWSPData, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                      WSPUPCALLTABLE UpcallTable, LPWSPPROC_TABLE lpProcTable)
{
    static bool lockReady = [] {
        InitializeCriticalSection(&pendingLock);
        return true;
    }();
    (void)lockReady;
    state.upcalls = UpcallTable;
    state.catalogId = lpProtocolInfo->dwCatalogEntryId;
    lpWSPData->wVersion = lpWSPData->wHighVersion = MAKEWORD(2, 2);
    *lpProcTable = WSPPROC_TABLE{
        ProbeAccept, ProbeAddressToString, ProbeAsyncSelect, ProbeBind, ProbeCancelBlockingCall,
        ProbeCleanup, ProbeCloseSocket, ProbeConnect, ProbeDuplicateSocket,
        ProbeEnumNetworkEvents, ProbeEventSelect, ProbeGetOverlappedResult, ProbeGetPeerName,
        ProbeGetSockName, ProbeGetSockOpt, ProbeGetQOSByName, ProbeIoctl, ProbeJoinLeaf,
        ProbeListen, ProbeRecv, ProbeRecvDisconnect, ProbeRecvFrom, ProbeSelect, ProbeSend,
        ProbeSendDisconnect, ProbeSendTo, ProbeSetSockOpt, ProbeShutdown, ProbeSocket,
        ProbeStringToAddress};
    // A table with a hole, for the test that the layer refuses it.
    char hole[4] = "";
    if (GetEnvironmentVariableA("PROBE_TABLE_HOLE", hole, sizeof hole) == 1 && hole[0] == '1')
        lpProcTable->lpWSPSend = nullptr;
    InterlockedIncrement(&state.startups);
    return 0;
}

} // extern "C"
