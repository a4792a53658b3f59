// Which lower provider owns each handle the layer handed up. The handles are the lower
// provider's own, registered with the Winsock layer as the layer's.
#include "LowerProviders.h"

#include <unordered_map>

namespace {

SRWLOCK ownersLock = SRWLOCK_INIT;
std::unordered_map<SOCKET, LowerProvider*> owners;

} // namespace

SOCKET AdoptLowerHandle(LowerProvider* lower, SOCKET handle, LPINT lpErrno)
{
    int error = 0;
    SOCKET adopted = layerUpcalls.lpWPUModifyIFSHandle(lower->layerId, handle, &error);
    if (adopted == INVALID_SOCKET) {
        int ignored = 0;
        lower->table.lpWSPCloseSocket(handle, &ignored);
        *lpErrno = error ? error : WSAENOBUFS;
        return INVALID_SOCKET;
    }
    RememberSocket(adopted, lower);
    return adopted;
}

LowerProvider* LowerForSocket(SOCKET s, LPINT lpErrno)
{
    AcquireSRWLockShared(&ownersLock);
    auto found = owners.find(s);
    LowerProvider* lower = found == owners.end() ? nullptr : found->second;
    ReleaseSRWLockShared(&ownersLock);
    if (!lower)
        *lpErrno = WSAENOTSOCK;
    return lower;
}

void RememberSocket(SOCKET s, LowerProvider* lower)
{
    AcquireSRWLockExclusive(&ownersLock);
    owners[s] = lower;
    ReleaseSRWLockExclusive(&ownersLock);
}

void ForgetSocket(SOCKET s)
{
    AcquireSRWLockExclusive(&ownersLock);
    owners.erase(s);
    ReleaseSRWLockExclusive(&ownersLock);
}
