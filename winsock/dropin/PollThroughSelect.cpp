// WSAPoll for sockets whose provider names no base handle to poll: carried out with the
// select of the provider of the first known socket.
#include "PollThroughSelect.h"
#include "Routing.h"

namespace {

// What a pollfd may ask for, and what select can tell of it.
const SHORT readEvents = POLLRDNORM | POLLRDBAND;
const SHORT writeEvents = POLLWRNORM;
const SHORT knownEvents = readEvents | writeEvents | POLLWRBAND;

// The most sockets one WSAPoll takes: what a provider's select takes.
const ULONG pollLimit = 1024;

// An fd_set of pollLimit handles, whatever FD_SETSIZE this file is built with.
struct PollSet {
    u_int fd_count;
    SOCKET fd_array[pollLimit];
    fd_set* AsFdSet() { return reinterpret_cast<fd_set*>(this); }
};

// The three sets of one select.
struct PollSets {
    PollSet read;
    PollSet write;
    PollSet except;
};

void Add(PollSet& set, SOCKET s)
{
    set.fd_array[set.fd_count++] = s;
}

bool Has(const PollSet& set, SOCKET s)
{
    for (u_int i = 0; i < set.fd_count; ++i)
        if (set.fd_array[i] == s)
            return true;
    return false;
}

// What select found for one pollfd, as poll's events.
SHORT Returned(const PollSets& sets, const WSAPOLLFD& fd)
{
    SHORT returned = 0;
    if (Has(sets.read, fd.fd))
        returned |= fd.events & readEvents;
    if (Has(sets.write, fd.fd))
        returned |= fd.events & writeEvents;
    // A connect that failed shows in the except set.
    if (Has(sets.except, fd.fd))
        returned |= POLLERR;
    return returned;
}

// Every socket of fdArray in one select of the first one's provider, as select itself goes.
int PollWithSets(LPWSAPOLLFD fdArray, ULONG fds, INT timeout, PollSets& sets)
{
    Provider* provider = nullptr;
    int ready = 0;
    for (ULONG i = 0; i < fds; ++i) {
        WSAPOLLFD& fd = fdArray[i];
        fd.revents = 0;
        if (fd.events & ~knownEvents)
            return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
        SocketOwner owner;
        if (!FindSocketOwner(fd.fd, owner)) {
            fd.revents = POLLNVAL;
            ++ready;
            continue;
        }
        // One select answers for one provider, as select itself does.
        if (!provider)
            provider = owner.provider;
        if (fd.events & readEvents)
            Add(sets.read, fd.fd);
        if (fd.events & writeEvents)
            Add(sets.write, fd.fd);
        Add(sets.except, fd.fd);
    }
    if (!provider)
        return ready;
    // A socket it cannot know ends the wait at once; the others are still looked at.
    timeval wait = {timeout / 1000, (timeout % 1000) * 1000};
    if (ready > 0)
        wait = {0, 0};
    int error = 0;
    int selected = provider->procTable.lpWSPSelect(
        0, sets.read.AsFdSet(), sets.write.AsFdSet(), sets.except.AsFdSet(),
        timeout < 0 && ready == 0 ? nullptr : &wait, &error);
    if (selected == SOCKET_ERROR)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, error);
    for (ULONG i = 0; i < fds; ++i) {
        if (fdArray[i].revents == POLLNVAL)
            continue;
        fdArray[i].revents = Returned(sets, fdArray[i]);
        if (fdArray[i].revents)
            ++ready;
    }
    return ready;
}

} // namespace

int PollThroughSelect(LPWSAPOLLFD fdArray, ULONG fds, INT timeout)
{
    if (fds == 0 || fds > pollLimit)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    if (IsBadWritePtr(fdArray, fds * sizeof(WSAPOLLFD)))
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);

    auto* sets = static_cast<PollSets*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                  sizeof(PollSets)));
    if (!sets)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAENOBUFS);
    int result = PollWithSets(fdArray, fds, timeout, *sets);
    HeapFree(GetProcessHeap(), 0, sets);
    return result;
}
