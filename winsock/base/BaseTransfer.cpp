// Sending and receiving. Overlapped requests go to the real library with the application's
// own WSAOVERLAPPED and completion routine, so its event, its completion port or its APC
// (queued by Wine to the issuing thread) report the result; lpThreadId is not needed.
#include "BaseProvider.h"

namespace {

// The real calls answer 0 when done at once and SOCKET_ERROR with WSA_IO_PENDING when an
// overlapped request is under way; both are passed up unchanged.
int Finish(int result, LPINT lpErrno)
{
    return result == 0 ? 0 : FailWithRealError(lpErrno);
}

} // namespace

int WSPAPI BaseSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                    DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                    LPINT lpErrno)
{
    return Finish(real.WSASend(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent, dwFlags,
                               lpOverlapped, lpCompletionRoutine),
                  lpErrno);
}

int WSPAPI BaseSendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                      LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                      LPWSAOVERLAPPED lpOverlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                      LPINT lpErrno)
{
    return Finish(real.WSASendTo(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent, dwFlags, lpTo,
                                 iTolen, lpOverlapped, lpCompletionRoutine),
                  lpErrno);
}

int WSPAPI BaseRecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                    LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                    LPINT lpErrno)
{
    return Finish(real.WSARecv(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFlags,
                               lpOverlapped, lpCompletionRoutine),
                  lpErrno);
}

int WSPAPI BaseRecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                        LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                        LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                        LPINT lpErrno)
{
    return Finish(real.WSARecvFrom(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFlags,
                                   lpFrom, lpFromlen, lpOverlapped, lpCompletionRoutine),
                  lpErrno);
}

BOOL WSPAPI BaseGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                    BOOL fWait, LPDWORD lpdwFlags, LPINT lpErrno)
{
    if (real.WSAGetOverlappedResult(s, lpOverlapped, lpcbTransfer, fWait, lpdwFlags))
        return TRUE;
    FailWithRealError(lpErrno);
    return FALSE;
}

int WSPAPI BaseRecvDisconnect(SOCKET s, LPWSABUF lpInboundDisconnectData, LPINT lpErrno)
{
    if (!real.WSARecvDisconnect)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    return Finish(real.WSARecvDisconnect(s, lpInboundDisconnectData), lpErrno);
}

int WSPAPI BaseSendDisconnect(SOCKET s, LPWSABUF lpOutboundDisconnectData, LPINT lpErrno)
{
    if (!real.WSASendDisconnect)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    return Finish(real.WSASendDisconnect(s, lpOutboundDisconnectData), lpErrno);
}
