// Data transfer calls. Synchronous successes add to the socket's byte totals, which the close
// reports show.
#include "Entries.h"
#include "SocketContext.h"

static void AddBytes(DWORD* total, int result, const DWORD* count)
{
    if (result == 0 && count && !IsBadReadPtr(count, sizeof(DWORD)))
        *total += *count;
}

int WSPAPI WSPRecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                   LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        int result = CALL_LOWER(context, lpWSPRecv, lpBuffers, dwBufferCount,
                                lpNumberOfBytesRecvd, lpFlags, lpOverlapped, lpCompletionRoutine,
                                lpThreadId, lpErrno);
        AddBytes(&context->bytesReceived, result, lpNumberOfBytesRecvd);
        return result;
    });
}

int WSPAPI WSPRecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                       LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                       LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                       LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        int result = CALL_LOWER(context, lpWSPRecvFrom, lpBuffers, dwBufferCount,
                                lpNumberOfBytesRecvd, lpFlags, lpFrom, lpFromlen, lpOverlapped,
                                lpCompletionRoutine, lpThreadId, lpErrno);
        AddBytes(&context->bytesReceived, result, lpNumberOfBytesRecvd);
        return result;
    });
}

int WSPAPI WSPSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                   DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                   LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        int result = CALL_LOWER(context, lpWSPSend, lpBuffers, dwBufferCount, lpNumberOfBytesSent,
                                dwFlags, lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno);
        AddBytes(&context->bytesSent, result, lpNumberOfBytesSent);
        return result;
    });
}

int WSPAPI WSPSendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                     LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                     LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        int result = CALL_LOWER(context, lpWSPSendTo, lpBuffers, dwBufferCount,
                                lpNumberOfBytesSent, dwFlags, lpTo, iTolen, lpOverlapped,
                                lpCompletionRoutine, lpThreadId, lpErrno);
        AddBytes(&context->bytesSent, result, lpNumberOfBytesSent);
        return result;
    });
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
