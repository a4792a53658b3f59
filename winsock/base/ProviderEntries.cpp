// The catalog entries this provider serves, learnt from WSPStartup and WSPSocket, so that a
// socket made by accept or duplication is registered under the entry of its protocol.
#include "BaseProvider.h"

namespace {

const int maxEntries = 32;

SRWLOCK entriesLock = SRWLOCK_INIT;
WSAPROTOCOL_INFOW entries[maxEntries];
int entryCount;

bool SameProtocol(const WSAPROTOCOL_INFOW& a, const WSAPROTOCOL_INFOW& b)
{
    return a.iAddressFamily == b.iAddressFamily && a.iSocketType == b.iSocketType &&
           a.iProtocol == b.iProtocol;
}

} // namespace

void RememberEntry(const WSAPROTOCOL_INFOW* entry)
{
    // Only this provider's own (base) entries: a chain's entry id belongs to a layer.
    if (entry->ProtocolChain.ChainLen != BASE_PROTOCOL)
        return;
    AcquireSRWLockExclusive(&entriesLock);
    bool known = false;
    for (int i = 0; i < entryCount && !known; ++i)
        known = entries[i].dwCatalogEntryId == entry->dwCatalogEntryId;
    if (!known && entryCount < maxEntries)
        entries[entryCount++] = *entry;
    ReleaseSRWLockExclusive(&entriesLock);
}

bool FindEntryForSocket(SOCKET realSocket, WSAPROTOCOL_INFOW* entry)
{
    WSAPROTOCOL_INFOW socketInfo;
    int length = sizeof socketInfo;
    if (real.getsockopt(realSocket, SOL_SOCKET, SO_PROTOCOL_INFOW,
                        reinterpret_cast<char*>(&socketInfo), &length) != 0)
        return false;
    bool found = false;
    AcquireSRWLockShared(&entriesLock);
    for (int i = 0; i < entryCount && !found; ++i) {
        if (SameProtocol(entries[i], socketInfo)) {
            *entry = entries[i];
            found = true;
        }
    }
    ReleaseSRWLockShared(&entriesLock);
    return found;
}

SOCKET RegisterRealSocket(DWORD catalogId, SOCKET realSocket, LPINT lpErrno)
{
    int error = 0;
    SOCKET handle = upcalls.lpWPUModifyIFSHandle(catalogId, realSocket, &error);
    if (handle == INVALID_SOCKET) {
        real.closesocket(realSocket);
        *lpErrno = error ? error : WSAENOBUFS;
        return INVALID_SOCKET;
    }
    return handle;
}
