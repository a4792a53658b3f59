// Sending and receiving. The plain calls are the one-buffer forms of the WSA calls, as the
// providers only offer those; overlapped requests carry the issuing thread's id for APCs.
#include "Routing.h"

namespace {

LPWSATHREADID ThreadIdFor(LPWSAOVERLAPPED lpOverlapped)
{
    return lpOverlapped ? CurrentThreadId() : nullptr;
}

// The count is read after the call: arguments of one call are evaluated in no fixed order.
int CountOrError(int result, const DWORD& count)
{
    return result == SOCKET_ERROR ? SOCKET_ERROR : static_cast<int>(count);
}

} // namespace

extern "C" {

int WSAAPI WSASend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent,
                   DWORD dwFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSend(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent, dwFlags,
                               lpOverlapped, lpCompletionRoutine, ThreadIdFor(lpOverlapped),
                               error);
    });
}

int WSAAPI WSASendTo(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                     LPDWORD lpNumberOfBytesSent, DWORD dwFlags, const sockaddr* lpTo, int iTolen,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSendTo(s, lpBuffers, dwBufferCount, lpNumberOfBytesSent, dwFlags, lpTo,
                                 iTolen, lpOverlapped, lpCompletionRoutine,
                                 ThreadIdFor(lpOverlapped), error);
    });
}

// The providers have no entry for a message with control data; one without it is a send-to of
// its buffers.
int WSAAPI WSASendMsg(SOCKET s, LPWSAMSG lpMsg, DWORD dwFlags, LPDWORD lpNumberOfBytesSent,
                      LPWSAOVERLAPPED lpOverlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    if (IsBadReadPtr(lpMsg, sizeof(*lpMsg)))
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
    if (lpMsg->Control.len != 0)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEOPNOTSUPP);
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSendTo(s, lpMsg->lpBuffers, lpMsg->dwBufferCount, lpNumberOfBytesSent,
                                 dwFlags, lpMsg->name, lpMsg->namelen, lpOverlapped,
                                 lpCompletionRoutine, ThreadIdFor(lpOverlapped), error);
    });
}

int WSAAPI WSARecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                   LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, LPWSAOVERLAPPED lpOverlapped,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPRecv(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFlags,
                               lpOverlapped, lpCompletionRoutine, ThreadIdFor(lpOverlapped),
                               error);
    });
}

int WSAAPI WSARecvFrom(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount,
                       LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags, sockaddr* lpFrom,
                       LPINT lpFromlen, LPWSAOVERLAPPED lpOverlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    return RouteSocketCall(s, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPRecvFrom(s, lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpFlags,
                                   lpFrom, lpFromlen, lpOverlapped, lpCompletionRoutine,
                                   ThreadIdFor(lpOverlapped), error);
    });
}

int WSAAPI send(SOCKET s, const char* buf, int len, int flags)
{
    WSABUF buffer{static_cast<ULONG>(len), const_cast<char*>(buf)};
    DWORD sent = 0;
    return CountOrError(WSASend(s, &buffer, 1, &sent, flags, nullptr, nullptr), sent);
}

int WSAAPI sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen)
{
    WSABUF buffer{static_cast<ULONG>(len), const_cast<char*>(buf)};
    DWORD sent = 0;
    return CountOrError(WSASendTo(s, &buffer, 1, &sent, flags, to, tolen, nullptr, nullptr),
                        sent);
}

int WSAAPI recv(SOCKET s, char* buf, int len, int flags)
{
    WSABUF buffer{static_cast<ULONG>(len), buf};
    DWORD received = 0;
    DWORD flagsInOut = static_cast<DWORD>(flags);
    return CountOrError(WSARecv(s, &buffer, 1, &received, &flagsInOut, nullptr, nullptr),
                        received);
}

int WSAAPI recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen)
{
    WSABUF buffer{static_cast<ULONG>(len), buf};
    DWORD received = 0;
    DWORD flagsInOut = static_cast<DWORD>(flags);
    return CountOrError(
        WSARecvFrom(s, &buffer, 1, &received, &flagsInOut, from, fromlen, nullptr, nullptr),
        received);
}

BOOL WSAAPI WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                   BOOL fWait, LPDWORD lpdwFlags)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return FALSE;
    int error = 0;
    BOOL done = owner.provider->procTable.lpWSPGetOverlappedResult(s, lpOverlapped, lpcbTransfer,
                                                                  fWait, lpdwFlags, &error);
    return Finish(done, FALSE, error);
}

} // extern "C"
