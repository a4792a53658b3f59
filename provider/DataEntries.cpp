// Data transfer calls: synchronous calls are made below and reported at once; overlapped calls
// go through the overlapped manager and are reported at completion.
#include "DataReports.h"
#include "Entries.h"
#include "Formatting.h"
#include "OverlappedManager.h"
#include "SocketContext.h"
#include <cstring>

// The overlapped path shared by the four calls. fill adds what the kind keeps beyond the buffers
// and the byte count; it stores its own error and answers FALSE for arguments it cannot take.
// Returns 0 or SOCKET_ERROR; SOCKET_ERROR with WSA_IO_PENDING means the operation is under way
// and its report follows at completion, any other error is reported by the caller now.
template <typename Fill>
static int StartTransfer(SocketContext* context, OperationKind kind, const WSABUF* buffers,
                         DWORD bufferCount, ImmediateResult immediate,
                         LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                         LPWSATHREADID threadId, LPINT lpErrno, Fill fill)
{
    PendingOperation* operation =
        PrepareOperation(context, kind, overlapped, routine, threadId, lpErrno);
    if (!operation)
        return SOCKET_ERROR;
    int copyError = CopyBufferArray(operation, buffers, bufferCount);
    if (copyError || !fill(operation->args)) {
        if (copyError)
            *lpErrno = copyError;
        DiscardOperation(operation);
        return SOCKET_ERROR;
    }
    operation->args.transfer.bytes = ReadableValue(immediate.bytes);
    int issued = IssueOperation(operation, context, immediate);
    if (issued == 0)
        return 0;
    *lpErrno = issued;
    return SOCKET_ERROR;
}

// The result is reported now unless the manager reports it at completion.
static BOOL ReportedNow(int result, BOOL managed, const int* lpErrno)
{
    return !managed || (result == SOCKET_ERROR && *lpErrno != WSA_IO_PENDING);
}

// The receive flags are an in-out cell the operation keeps its own copy of.
static BOOL TakeReceiveFlags(TransferArgs& args, const DWORD* flags, LPINT lpErrno)
{
    if (IsBadReadPtr(flags, sizeof(DWORD))) {
        *lpErrno = WSAEFAULT;
        return FALSE;
    }
    args.flags = *flags;
    return TRUE;
}

int WSPAPI WSPRecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                   LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportRecvUnknownSocket(s, lpBuffers, dwBufferCount, lpFlags, lpErrno);
        return SOCKET_ERROR;
    }
    ReportRecvStart(context, lpBuffers, dwBufferCount, lpFlags, lpOverlapped);
    int result;
    BOOL managed = ManagedOverlapped(context, lpOverlapped, lpCompletionRoutine != nullptr);
    if (managed) {
        result = StartTransfer(context, OpRecv, lpBuffers, dwBufferCount,
                               {lpNumberOfBytesRecvd, lpFlags},
                               lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno,
                               [&](auto& args) {
                                   return TakeReceiveFlags(args.transfer, lpFlags, lpErrno);
                               });
    } else {
        result = CALL_LOWER(context, lpWSPRecv, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd,
                            lpFlags, lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno);
        if (result != SOCKET_ERROR)
            AddToTotal(&context->bytesReceived, ReadableValue(lpNumberOfBytesRecvd));
    }
    if (ReportedNow(result, managed, lpErrno))
        ReportRecvResult(result, context, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFlags,
                         lpErrno);
    ReleaseAfterCall(context);
    return result;
}

int WSPAPI WSPRecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                       LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                       LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                       LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportRecvFromUnknownSocket(s, lpBuffers, dwBufferCount, lpFlags, lpErrno);
        return SOCKET_ERROR;
    }
    ReportRecvFromStart(context, lpBuffers, dwBufferCount, lpFlags, lpOverlapped);
    int result;
    BOOL managed = ManagedOverlapped(context, lpOverlapped, lpCompletionRoutine != nullptr);
    if (managed) {
        result = StartTransfer(context, OpRecvFrom, lpBuffers, dwBufferCount,
                               {lpNumberOfBytesRecvd, lpFlags}, lpOverlapped, lpCompletionRoutine,
                               lpThreadId, lpErrno, [&](auto& args) {
                                   args.transfer.from = lpFrom;
                                   args.transfer.fromLength = lpFromlen;
                                   return TakeReceiveFlags(args.transfer, lpFlags, lpErrno);
                               });
    } else {
        result = CALL_LOWER(context, lpWSPRecvFrom, lpBuffers, dwBufferCount,
                            lpNumberOfBytesRecvd, lpFlags, lpFrom, lpFromlen, lpOverlapped,
                            lpCompletionRoutine, lpThreadId, lpErrno);
        if (result != SOCKET_ERROR)
            AddToTotal(&context->bytesReceived, ReadableValue(lpNumberOfBytesRecvd));
    }
    if (ReportedNow(result, managed, lpErrno))
        ReportRecvFromResult(result, context, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd,
                             lpFlags, lpFrom, lpFromlen, lpErrno);
    ReleaseAfterCall(context);
    return result;
}

int WSPAPI WSPSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                   DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportSendUnknownSocket(s, lpBuffers, dwBufferCount, dwFlags, lpErrno);
        return SOCKET_ERROR;
    }
    ReportSendStart(context, lpBuffers, dwBufferCount, dwFlags, lpOverlapped);
    int result;
    BOOL managed = ManagedOverlapped(context, lpOverlapped, lpCompletionRoutine != nullptr);
    if (managed) {
        result = StartTransfer(context, OpSend, lpBuffers, dwBufferCount, {lpNumberOfBytesSent},
                               lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno,
                               [&](auto& args) {
                                   args.transfer.flags = dwFlags;
                                   return TRUE;
                               });
    } else {
        result = CALL_LOWER(context, lpWSPSend, lpBuffers, dwBufferCount, lpNumberOfBytesSent,
                            dwFlags, lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno);
        if (result != SOCKET_ERROR)
            AddToTotal(&context->bytesSent, ReadableValue(lpNumberOfBytesSent));
    }
    if (ReportedNow(result, managed, lpErrno))
        ReportSendResult(result, context, lpBuffers, dwBufferCount, lpNumberOfBytesSent, lpErrno);
    ReleaseAfterCall(context);
    return result;
}

// The destination is copied into the record, which has room for any socket address; a longer
// one, or one that cannot be read, is refused rather than cut.
static BOOL TakeDestination(SendToArgs& args, const sockaddr* to, int toLength, LPINT lpErrno)
{
    args.addressLength = toLength;
    if (!to)
        return TRUE;
    if (toLength < 0 || toLength > OperationAddressLimit || IsBadReadPtr(to, toLength)) {
        *lpErrno = WSAEFAULT;
        return FALSE;
    }
    memcpy(args.address, to, toLength);
    args.addressGiven = TRUE;
    return TRUE;
}

int WSPAPI WSPSendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                     LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                     LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportSendToUnknownSocket(s, lpBuffers, dwBufferCount, dwFlags, lpTo, iTolen, lpErrno);
        return SOCKET_ERROR;
    }
    ReportSendToStart(context, lpBuffers, dwBufferCount, dwFlags, lpTo, iTolen, lpOverlapped);
    int result;
    BOOL managed = ManagedOverlapped(context, lpOverlapped, lpCompletionRoutine != nullptr);
    if (managed) {
        result = StartTransfer(context, OpSendTo, lpBuffers, dwBufferCount, {lpNumberOfBytesSent},
                               lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno,
                               [&](auto& args) {
                                   args.sendTo.flags = dwFlags;
                                   return TakeDestination(args.sendTo, lpTo, iTolen, lpErrno);
                               });
    } else {
        result = CALL_LOWER(context, lpWSPSendTo, lpBuffers, dwBufferCount, lpNumberOfBytesSent,
                            dwFlags, lpTo, iTolen, lpOverlapped, lpCompletionRoutine, lpThreadId,
                            lpErrno);
        if (result != SOCKET_ERROR)
            AddToTotal(&context->bytesSent, ReadableValue(lpNumberOfBytesSent));
    }
    if (ReportedNow(result, managed, lpErrno))
        ReportSendResult(result, context, lpBuffers, dwBufferCount, lpNumberOfBytesSent, lpErrno);
    ReleaseAfterCall(context);
    return result;
}

int WSPAPI WSPRecvDisconnect(SOCKET s, LPWSABUF lpInboundDisconnectData, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        return CALL_LOWER(context, lpWSPRecvDisconnect, lpInboundDisconnectData, lpErrno);
    });
}

int WSPAPI WSPSendDisconnect(SOCKET s, LPWSABUF lpOutboundDisconnectData, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        return CALL_LOWER(context, lpWSPSendDisconnect, lpOutboundDisconnectData, lpErrno);
    });
}
