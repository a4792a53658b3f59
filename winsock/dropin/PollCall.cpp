// WSAPoll, as Windows' goes: each socket's provider names the base handle to poll
// (SIO_BSP_HANDLE_POLL, so a layer may answer for its own sockets), and the base handles are
// polled by Wine's own WSAPoll, which the base provider's sockets belong to. Its answer (events,
// count, error) reaches the program as Wine's own gives it. Where a provider names no handle,
// the poll is carried out with that provider's select instead.
#include "PollThroughSelect.h"
#include "Routing.h"

#include <mswsock.h>

namespace {

// More pollfds than this would overflow the copy's size; Wine's own judges such a call alone.
const ULONG copyableFds = MAXLONG / sizeof(WSAPOLLFD);

// The handle to poll for fd: the base provider's handle when fd's provider names one, fd
// itself when no provider knows it (Wine's own then answers POLLNVAL, as it does for any
// handle it does not know). False when fd's provider names none.
bool BaseHandleToPoll(SOCKET fd, SOCKET& handle)
{
    handle = fd;
    SocketOwner owner;
    if (!FindSocketOwner(fd, owner))
        return true;
    DWORD returned = 0;
    int error = 0;
    return owner.provider->procTable.lpWSPIoctl(fd, SIO_BSP_HANDLE_POLL, nullptr, 0, &handle,
                                                sizeof handle, &returned, nullptr, nullptr,
                                                nullptr, &error) == 0 &&
           returned == sizeof handle;
}

// Polls a copy of fdArray that names the base handles, and gives the events back.
int PollBaseHandles(PollFunction winePoll, LPWSAPOLLFD fdArray, ULONG fds, INT timeout)
{
    auto* base = static_cast<WSAPOLLFD*>(
        HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(fds) * sizeof(WSAPOLLFD)));
    if (!base)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAENOBUFS);
    for (ULONG i = 0; i < fds; ++i) {
        base[i] = fdArray[i];
        if (!BaseHandleToPoll(fdArray[i].fd, base[i].fd)) {
            HeapFree(GetProcessHeap(), 0, base);
            return PollThroughSelect(fdArray, fds, timeout);
        }
    }
    int result = winePoll(base, fds, timeout);
    DWORD error = GetLastError(); // Wine's answer, success included, is the program's
    for (ULONG i = 0; i < fds; ++i)
        fdArray[i].revents = base[i].revents;
    HeapFree(GetProcessHeap(), 0, base);
    SetLastError(error);
    return result;
}

} // namespace

extern "C" {

int WSAAPI WSAPoll(LPWSAPOLLFD fdArray, ULONG fds, INT timeout)
{
    ProviderCall inside;
    if (!WinsockStarted())
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSANOTINITIALISED);
    PollFunction winePoll = WinePoll();
    if (!winePoll)
        return PollThroughSelect(fdArray, fds, timeout);
    // No socket to look at: Wine's own judges the arguments as they are.
    if (fds == 0 || fds > copyableFds ||
        IsBadWritePtr(fdArray, static_cast<SIZE_T>(fds) * sizeof(WSAPOLLFD)))
        return winePoll(fdArray, fds, timeout);
    return PollBaseHandles(winePoll, fdArray, fds, timeout);
}

} // extern "C"
