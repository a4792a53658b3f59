// Entries the layer answers itself or routes without a socket of their own: select, overlapped
// results, blocking-call cancellation, cleanup, duplication and address conversion.
#include "ChainIdentity.h"
#include "Entries.h"
#include "HiddenWindow.h"
#include "OverlappedManager.h"
#include "SocketContext.h"
#include <cstring>

// The most handles a set may hold, whatever FD_SETSIZE the application was built with.
const u_int SelectSetLimit = 1024;

// Pause that lets the manager threads of the layer finish before the providers are unloaded.
const DWORD TeardownPauseMilliseconds = 200;

struct LowerSet {
    u_int fd_count;
    SOCKET fd_array[SelectSetLimit];
};

struct SelectSet {
    fd_set* applicationSet;     // null when the caller gave none
    u_int count;                // handles it held on entry
    SOCKET handles[SelectSetLimit];
    SocketContext* contexts[SelectSetLimit];   // null for an unknown handle
    // What each handle was given below as: a socket closed during the select forgets its
    // lower socket, but the answer still names it.
    SOCKET lowerHandles[SelectSetLimit];
    LowerSet lowerSet;
};

// TRUE when the handle was added, FALSE when the array had it already or is full.
static BOOL AddOnce(SOCKET* array, u_int* count, SOCKET handle)
{
    for (u_int i = 0; i < *count; i++) {
        if (array[i] == handle)
            return FALSE;
    }
    if (*count >= SelectSetLimit)
        return FALSE;
    array[(*count)++] = handle;
    return TRUE;
}


// Looks every handle up; a known one is replaced by its lower socket. 0, WSAEFAULT for a set the
// application cannot have, or WSAENOBUFS for an oversized one.
static int TranslateSet(SelectSet& set, LowerProvider** firstProvider)
{
    set.count = 0;
    set.lowerSet.fd_count = 0;
    fd_set* given = set.applicationSet;
    if (!given)
        return 0;
    // The set is rebuilt in place, so all of it must be the application's to write.
    if (IsBadWritePtr(given, sizeof(given->fd_count)))
        return WSAEFAULT;
    if (given->fd_count > SelectSetLimit)
        return WSAENOBUFS;
    if (IsBadWritePtr(given, sizeof(given->fd_count) + given->fd_count * sizeof(SOCKET)))
        return WSAEFAULT;
    for (u_int i = 0; i < set.applicationSet->fd_count; i++) {
        int lookupError = 0;
        set.handles[i] = set.applicationSet->fd_array[i];
        set.contexts[i] = FindContext(set.handles[i], &lookupError);
        set.lowerHandles[i] = set.contexts[i] ? set.contexts[i]->lowerSocket : set.handles[i];
        set.count = i + 1;
        if (set.contexts[i] && !*firstProvider)
            *firstProvider = set.contexts[i]->provider;
        AddOnce(set.lowerSet.fd_array, &set.lowerSet.fd_count, set.lowerHandles[i]);
    }
    return 0;
}

// Adds the set's ready handles to the application's set, which was emptied before any set was
// rebuilt: a program may pass one set as two of the three, and then gets both answers in it.
// Returns how many handles were added.
static int RebuildSet(SelectSet& set)
{
    if (!set.applicationSet)
        return 0;
    int added = 0;
    for (u_int i = 0; i < set.count; i++) {
        if (upcallTable.lpWPUFDIsSet(set.lowerHandles[i],
                                     reinterpret_cast<fd_set*>(&set.lowerSet)))
            added += AddOnce(set.applicationSet->fd_array, &set.applicationSet->fd_count,
                             set.handles[i]);
    }
    return added;
}

static void ReleaseSet(SelectSet& set)
{
    for (u_int i = 0; i < set.count; i++) {
        int releaseError = 0;
        if (set.contexts[i])
            ReleaseContext(set.contexts[i], &releaseError);
    }
}

int WSPAPI WSPSelect(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                     PTIMEVAL timeout, LPINT lpErrno)
{
    auto* sets = static_cast<SelectSet*>(HeapAlloc(GetProcessHeap(), 0, 3 * sizeof(SelectSet)));
    if (!sets) {
        *lpErrno = WSAENOBUFS;
        return SOCKET_ERROR;
    }
    fd_set* applicationSets[3] = {readfds, writefds, exceptfds};
    LowerProvider* provider = nullptr;
    int result = SOCKET_ERROR;
    *lpErrno = 0;
    for (int i = 0; i < 3; i++)
        sets[i].count = 0;
    for (int i = 0; i < 3 && *lpErrno == 0; i++) {
        sets[i].applicationSet = applicationSets[i];
        *lpErrno = TranslateSet(sets[i], &provider);
    }
    if (*lpErrno == 0 && !provider)
        *lpErrno = WSAEINVAL;
    if (*lpErrno == 0) {
        fd_set* lowerSets[3];
        for (int i = 0; i < 3; i++)
            lowerSets[i] = sets[i].applicationSet ? reinterpret_cast<fd_set*>(&sets[i].lowerSet)
                                                  : nullptr;
        SetBlockingProvider(provider);
        result = provider->procTable.lpWSPSelect(nfds, lowerSets[0], lowerSets[1], lowerSets[2],
                                                 timeout, lpErrno);
        SetBlockingProvider(nullptr);
        if (result != SOCKET_ERROR) {
            for (int i = 0; i < 3; i++)
                if (sets[i].applicationSet)
                    sets[i].applicationSet->fd_count = 0;
            result = 0;
            for (int i = 0; i < 3; i++)
                result += RebuildSet(sets[i]);
        }
    }
    for (int i = 0; i < 3; i++)
        ReleaseSet(sets[i]);
    HeapFree(GetProcessHeap(), 0, sets);
    return result;
}

// Waits, when asked to, for an operation of the manager still under way on the application's
// overlapped: TRUE once its outcome is there, else FALSE with the error.
static BOOL AwaitOutcome(LPWSAOVERLAPPED overlapped, BOOL wait, LPINT lpErrno)
{
    if (IsBadWritePtr(overlapped, sizeof(*overlapped))) {
        *lpErrno = WSAEFAULT;
        return FALSE;
    }
    if (overlapped->Internal != WSS_OPERATION_IN_PROGRESS)
        return TRUE;
    if (!wait) {
        *lpErrno = WSA_IO_INCOMPLETE;
        return FALSE;
    }
    DWORD waited = WaitForSingleObject(ApplicationEvent(overlapped), INFINITE);
    if (waited == WAIT_FAILED || overlapped->Internal == WSS_OPERATION_IN_PROGRESS) {
        *lpErrno = overlapped->Internal == WSS_OPERATION_IN_PROGRESS ? WSA_IO_PENDING
                                                                     : WSASYSCALLFAILURE;
        return FALSE;
    }
    return TRUE;
}

// The manager leaves the outcome in the application's own overlapped: the status in Internal,
// the byte count in InternalHigh and a receive's flags in OffsetHigh. A status of success, or a
// Winsock error carried in a status, the layer reads itself; any other status (the system's own,
// or one the application put there) is read as the platform reads it, by the provider below.
static BOOL StatusTheLayerReads(const WSAOVERLAPPED* overlapped)
{
    DWORD status = static_cast<DWORD>(overlapped->Internal);
    return !(status & 0x80000000) || (status & 0xFFFF0000) == WinsockErrorStatusBase;
}

// Cells the caller leaves out are not written.
static BOOL ReadOutcome(LPWSAOVERLAPPED overlapped, LPDWORD transferred, LPDWORD flags,
                        LPINT lpErrno)
{
    if ((transferred && IsBadWritePtr(transferred, sizeof(DWORD))) ||
        (flags && IsBadWritePtr(flags, sizeof(DWORD)))) {
        *lpErrno = WSAEFAULT;
        return FALSE;
    }
    if (transferred)
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (flags)
        *flags = overlapped->OffsetHigh;
    DWORD status = static_cast<DWORD>(overlapped->Internal);
    BOOL failed = (status & 0x80000000) != 0;
    *lpErrno = failed ? static_cast<int>(status & 0xFFFF) : 0;
    return !failed;
}

BOOL WSPAPI WSPGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED lpOverlapped, LPDWORD lpcbTransfer,
                                   BOOL fWait, LPDWORD lpdwFlags, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, FALSE, [&](SocketContext* context) {
        if (overlappedPassThrough && !context->completesThroughLayer)
            return CALL_LOWER(context, lpWSPGetOverlappedResult, lpOverlapped, lpcbTransfer,
                              fWait, lpdwFlags, lpErrno);
        if (!AwaitOutcome(lpOverlapped, fWait, lpErrno))
            return FALSE;
        if (!StatusTheLayerReads(lpOverlapped))
            return CALL_LOWER(context, lpWSPGetOverlappedResult, lpOverlapped, lpcbTransfer,
                              FALSE, lpdwFlags, lpErrno);
        return ReadOutcome(lpOverlapped, lpcbTransfer, lpdwFlags, lpErrno);
    });
}

int WSPAPI WSPCancelBlockingCall(LPINT lpErrno)
{
    LowerProvider* provider = GetBlockingProvider();
    if (!provider)
        return 0;
    return provider->procTable.lpWSPCancelBlockingCall(lpErrno);
}

int WSPAPI WSPCleanup(LPINT lpErrno)
{
    if (detaching)
        return 0;
    EnterCriticalSection(&startupLock);
    EnterCriticalSection(&mainLock);
    if (startupCount == 0) {
        LeaveCriticalSection(&mainLock);
        LeaveCriticalSection(&startupLock);
        *lpErrno = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    if (--startupCount == 0) {
        DestroyHiddenWindow();
        // startupLock keeps any start-up out while mainLock is let go for the workers.
        LeaveCriticalSection(&mainLock);
        StopOverlappedManager();
        EnterCriticalSection(&mainLock);
        Sleep(TeardownPauseMilliseconds);
        ShutdownProviders(lpErrno, TRUE);
    }
    LeaveCriticalSection(&mainLock);
    LeaveCriticalSection(&startupLock);
    return 0;
}

int WSPAPI WSPDuplicateSocket(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                              LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        int result = CALL_LOWER(context, lpWSPDuplicateSocket, dwProcessId, lpProtocolInfo, lpErrno);
        // The other process must open the layered chain; the rest is the provider below's
        // description of the socket and its key to the duplicate.
        if (result == 0)
            TakeEntryIdentity(lpProtocolInfo, context->provider->chainProtocolInfo);
        return result;
    });
}

static LowerProvider* FindEntryForProtocolInfo(const WSAPROTOCOL_INFOW* protocolInfo)
{
    if (IsBadReadPtr(protocolInfo, sizeof(WSAPROTOCOL_INFOW)))
        return nullptr;
    for (int i = 0; i < providerCount; i++) {
        const WSAPROTOCOL_INFOW& entry = providerTable[i].nextProtocolInfo;
        if (entry.iAddressFamily == protocolInfo->iAddressFamily &&
            entry.iSocketType == protocolInfo->iSocketType &&
            entry.iProtocol == protocolInfo->iProtocol &&
            ((entry.dwServiceFlags1 ^ protocolInfo->dwServiceFlags1) & ~XP1_IFS_HANDLES) == 0)
            return &providerTable[i];
    }
    return nullptr;
}

static LPWSAPROTOCOL_INFOW ProtocolInfoForLower(LowerProvider* provider,
                                                LPWSAPROTOCOL_INFOW callerInfo)
{
    return provider->nextProtocolInfo.ProtocolChain.ChainLen == BASE_PROTOCOL
               ? &provider->nextProtocolInfo
               : callerInfo;
}

INT WSPAPI WSPAddressToString(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                              LPWSAPROTOCOL_INFOW lpProtocolInfo, LPWSTR lpszAddressString,
                              LPDWORD lpdwAddressStringLength, LPINT lpErrno)
{
    LowerProvider* provider = FindEntryForProtocolInfo(lpProtocolInfo);
    if (!provider) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    SetBlockingProvider(provider);
    INT result = provider->procTable.lpWSPAddressToString(
        lpsaAddress, dwAddressLength, ProtocolInfoForLower(provider, lpProtocolInfo),
        lpszAddressString, lpdwAddressStringLength, lpErrno);
    SetBlockingProvider(nullptr);
    return result;
}

INT WSPAPI WSPStringToAddress(LPWSTR AddressString, INT AddressFamily,
                              LPWSAPROTOCOL_INFOW lpProtocolInfo, LPSOCKADDR lpAddress,
                              LPINT lpAddressLength, LPINT lpErrno)
{
    LowerProvider* provider = FindEntryForProtocolInfo(lpProtocolInfo);
    if (!provider) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    SetBlockingProvider(provider);
    INT result = provider->procTable.lpWSPStringToAddress(
        AddressString, AddressFamily, ProtocolInfoForLower(provider, lpProtocolInfo), lpAddress,
        lpAddressLength, lpErrno);
    SetBlockingProvider(nullptr);
    return result;
}
