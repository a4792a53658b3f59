// Data transfer, passed to the provider below with the application's overlapped structure,
// completion routine and thread, so the completion reaches the application unchanged.
#include "PassLayer.h"

int WSPAPI PassSend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                    DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                    LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPSend(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent,
                                          dwFlags, lpOverlapped, lpCompletionRoutine, lpThreadId,
                                          lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassSendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                      LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                      LPWSAOVERLAPPED lpOverlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                      LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPSendTo(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent,
                                            dwFlags, lpTo, iTolen, lpOverlapped,
                                            lpCompletionRoutine, lpThreadId, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassRecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                    LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                    LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPRecv(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd,
                                          lpFlags, lpOverlapped, lpCompletionRoutine, lpThreadId,
                                          lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassRecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                        LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                        LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                        LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPRecvFrom(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd,
                                              lpFlags, lpFrom, lpFromlen, lpOverlapped,
                                              lpCompletionRoutine, lpThreadId, lpErrno)
                 : SOCKET_ERROR;
}

BOOL WSPAPI PassGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                    BOOL fWait, LPDWORD lpdwFlags, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPGetOverlappedResult(s, lpOverlapped, lpcbTransfer, fWait,
                                                         lpdwFlags, lpErrno)
                 : FALSE;
}

int WSPAPI PassRecvDisconnect(SOCKET s, LPWSABUF lpInboundDisconnectData, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPRecvDisconnect(s, lpInboundDisconnectData, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassSendDisconnect(SOCKET s, LPWSABUF lpOutboundDisconnectData, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPSendDisconnect(s, lpOutboundDisconnectData, lpErrno)
                 : SOCKET_ERROR;
}
