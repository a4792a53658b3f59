// select goes to the provider of the first socket in the sets, as on Windows; all sockets in
// one call are expected to belong to one provider.
#include "Routing.h"

namespace {

bool FirstSocket(const fd_set* set, SOCKET& first)
{
    if (!set || set->fd_count == 0)
        return false;
    first = set->fd_array[0];
    return true;
}

} // namespace

extern "C" {

int WSAAPI select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                  PTIMEVAL timeout)
{
    SOCKET first = INVALID_SOCKET;
    if (!FirstSocket(readfds, first) && !FirstSocket(writefds, first) &&
        !FirstSocket(exceptfds, first)) {
        if (!WinsockStarted())
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSANOTINITIALISED);
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    }
    return RouteSocketCall(first, [&](const WSPPROC_TABLE& table, int* error) {
        return table.lpWSPSelect(nfds, readfds, writefds, exceptfds, timeout, error);
    });
}

int WSAAPI __WSAFDIsSet(SOCKET fd, fd_set* set)
{
    for (u_int i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == fd)
            return 1;
    return 0;
}

} // extern "C"
