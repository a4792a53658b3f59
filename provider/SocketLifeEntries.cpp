// The entries that begin and end a socket's life: WSPSocket and WSPCloseSocket.
#include "ChainIdentity.h"
#include "Entries.h"
#include "SocketContext.h"
#include "SocketLifeReports.h"

// dwServiceFlags1 are compared without this bit: layers differ in whether their handles are IFS.
const DWORD ServiceFlagsCompareMask = ~static_cast<DWORD>(XP1_IFS_HANDLES);

static BOOL ServiceFlagsMatch(const WSAPROTOCOL_INFOW* request, const WSAPROTOCOL_INFOW& entry)
{
    return !request || ((request->dwServiceFlags1 ^ entry.dwServiceFlags1) &
                        ServiceFlagsCompareMask) == 0;
}

LowerProvider* FindLowerEntry(int addressFamily, int socketType, int protocol,
                              const WSAPROTOCOL_INFOW* protocolInfo, int* errorCell)
{
    BOOL familyKnown = addressFamily == 0;
    BOOL typeKnown = FALSE;
    BOOL protocolKnown = protocol == 0 || protocol == IPPROTO_RAW || socketType == SOCK_RAW;
    for (int i = 0; i < providerCount; i++) {
        const WSAPROTOCOL_INFOW& entry = providerTable[i].nextProtocolInfo;
        familyKnown |= entry.iAddressFamily == addressFamily;
        typeKnown |= entry.iSocketType == socketType;
        protocolKnown |= entry.iProtocol == protocol;
    }
    if (!familyKnown || !typeKnown || !protocolKnown) {
        *errorCell = !familyKnown ? WSAEAFNOSUPPORT
                     : !typeKnown ? WSAESOCKTNOSUPPORT
                                  : WSAEPROTONOSUPPORT;
        return nullptr;
    }
    BOOL fullMatch = protocol != 0 && protocol != IPPROTO_RAW && socketType != SOCK_RAW;
    for (int i = 0; i < providerCount; i++) {
        const WSAPROTOCOL_INFOW& entry = providerTable[i].nextProtocolInfo;
        if (entry.iSocketType != socketType || !ServiceFlagsMatch(protocolInfo, entry))
            continue;
        BOOL match;
        if (addressFamily == 0)
            match = protocol == 0 || entry.iProtocol == protocol;
        else
            match = entry.iAddressFamily == addressFamily &&
                    (!fullMatch || entry.iProtocol == protocol);
        if (match)
            return &providerTable[i];
    }
    *errorCell = addressFamily == 0 && protocol != 0 ? WSAEPROTOTYPE : WSAEAFNOSUPPORT;
    return nullptr;
}

// The chain that serves the request, and the protocol information the provider below gets.
// A chain the information names gets the application's request as it stands, addressed to the
// entry below, so that the provider there takes its values and gives its errors as it would
// without the layer. Without one the chain is looked for by family, type and protocol.
static LowerProvider* ChooseChain(int af, int type, int protocol,
                                  const WSAPROTOCOL_INFOW* protocolInfo,
                                  WSAPROTOCOL_INFOW* passedDown, int* errorCell)
{
    LowerProvider* provider = protocolInfo ? FindChainNamedBy(*protocolInfo) : nullptr;
    if (provider) {
        *passedDown = *protocolInfo;
        if (provider->nextProtocolInfo.ProtocolChain.ChainLen == BASE_PROTOCOL)
            TakeEntryIdentity(passedDown, provider->nextProtocolInfo);
        return provider;
    }
    ResolveSocketRequest(protocolInfo, &af, &type, &protocol);
    provider = FindLowerEntry(af, type, protocol, protocolInfo, errorCell);
    if (!provider)
        return nullptr;
    BOOL baseBelow = provider->nextProtocolInfo.ProtocolChain.ChainLen == BASE_PROTOCOL;
    *passedDown = baseBelow || !protocolInfo ? provider->nextProtocolInfo : *protocolInfo;
    if (protocolInfo)
        passedDown->dwProviderReserved = protocolInfo->dwProviderReserved;
    return provider;
}

// A value left to the protocol information, as the provider below reads it.
static int FromProtocolInfo(int requested, int fromInfo)
{
    return requested == 0 || requested == FROM_PROTOCOL_INFO ? fromInfo : requested;
}

SOCKET WSPAPI WSPSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                        GROUP g, DWORD dwFlags, LPINT lpErrno)
{
    *lpErrno = 0;
    SOCKET result = INVALID_SOCKET;
    WSAPROTOCOL_INFOW passedDown;
    LowerProvider* provider = nullptr;
    if (lpProtocolInfo && IsBadReadPtr(lpProtocolInfo, sizeof(*lpProtocolInfo)))
        *lpErrno = WSAEFAULT;
    else
        provider = ChooseChain(af, type, protocol, lpProtocolInfo, &passedDown, lpErrno);
    if (provider) {
        SetBlockingProvider(provider);
        SOCKET lowerSocket =
            provider->procTable.lpWSPSocket(af, type, protocol, &passedDown, g, dwFlags, lpErrno);
        SetBlockingProvider(nullptr);
        SocketContext* context = lowerSocket == INVALID_SOCKET
                                     ? nullptr
                                     : WrapLowerSocket(provider, lowerSocket, nullptr, lpErrno);
        if (context) {
            result = context->layeredHandle;
            context->addressFamily = FromProtocolInfo(af, passedDown.iAddressFamily);
            context->socketType = FromProtocolInfo(type, passedDown.iSocketType);
            context->protocol = FromProtocolInfo(protocol, passedDown.iProtocol);
            context->flags = dwFlags;
        }
    }
    ReportSocketCreated(result, af, type, protocol, lpProtocolInfo, g, dwFlags, lpErrno);
    return result;
}

SocketContext* WrapLowerSocket(LowerProvider* provider, SOCKET lowerSocket, SocketContext* parent,
                               int* errorCell)
{
    SocketContext* context = CreateContext(provider, lowerSocket, parent, parent == nullptr);
    if (!context) {
        // Nobody could ever reach the lower socket again, so it is closed rather than leaked.
        int closeError = 0;
        provider->procTable.lpWSPCloseSocket(lowerSocket, &closeError);
        *errorCell = WSAENOBUFS;
        return nullptr;
    }
    SOCKET handle = upcallTable.lpWPUCreateSocketHandle(
        provider->chainProtocolInfo.ProtocolChain.ChainEntries[0],
        reinterpret_cast<DWORD_PTR>(context), errorCell);
    if (handle == INVALID_SOCKET) {
        int closeError = 0;
        provider->procTable.lpWSPCloseSocket(lowerSocket, &closeError);
        if (!parent)
            UnlinkContext(provider, context);
        FreeContext(context);
        return nullptr;
    }
    context->layeredHandle = handle;
    // A handle value the application closes with CloseHandle may soon name another object.
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(handle),
                         GetCurrentProcess(), &context->handleWitness, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        context->handleWitness = nullptr;
    if (parent) {
        context->eventMask = parent->eventMask;
        context->blocking = parent->blocking;
        context->flags = parent->flags;
        context->addressFamily = parent->addressFamily;
        context->socketType = parent->socketType;
        context->protocol = parent->protocol;
        // Linked only now that its state is whole: the hidden window may find it at once.
        LinkContext(provider, context);
    }
    return context;
}

int WSPAPI WSPCloseSocket(SOCKET s, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportSocketClosed(SOCKET_ERROR, nullptr, s, lpErrno);
        return SOCKET_ERROR;
    }
    LowerProvider* provider = context->provider;
    LockContext(context);
    if (context->pendingAsync != 0 || context->refCount != 1) {
        context->closing = 1;
        if (provider->procTable.lpWSPCloseSocket(context->lowerSocket, lpErrno) != 0) {
            *lpErrno = WSAENOTSOCK;
            UnlockContext(context);
            ReleaseContext(context, lpErrno);
            ReportSocketClosed(SOCKET_ERROR, nullptr, s, lpErrno);
            return SOCKET_ERROR;
        }
        // Forgotten before the record goes out: a window procedure that runs during it may
        // make sockets, and the provider below may give one this number again.
        context->lowerSocket = INVALID_SOCKET;
        ReportSocketClosed(0, context, s, lpErrno);
        UnlockContext(context);
        ReleaseContext(context, lpErrno);
        return 0;
    }
    SetBlockingProvider(provider);
    int lowerResult = provider->procTable.lpWSPCloseSocket(context->lowerSocket, lpErrno);
    SetBlockingProvider(nullptr);
    if (lowerResult != 0) {
        UnlockContext(context);
        ReleaseContext(context, lpErrno);
        ReportSocketClosed(SOCKET_ERROR, nullptr, s, lpErrno);
        return SOCKET_ERROR;
    }
    context->lowerSocket = INVALID_SOCKET;
    ReportSocketClosed(0, context, s, lpErrno);
    UnlinkContext(provider, context);
    // Lookups run under mainLock, so once the handle is closed under it no new call can find the
    // context. A call that found it after the test above keeps it alive: its release frees it.
    EnterCriticalSection(&mainLock);
    int result = upcallTable.lpWPUCloseSocketHandle(context->layeredHandle, lpErrno);
    BOOL othersInside = context->refCount != 1;
    if (result == 0 && othersInside) {
        context->closing = 1;
        context->layeredHandle = INVALID_SOCKET;
    }
    LeaveCriticalSection(&mainLock);
    if (result != 0 || othersInside) {
        UnlockContext(context);
        int releaseError = 0;
        ReleaseContext(context, &releaseError);
        return result == 0 ? 0 : SOCKET_ERROR;
    }
    UnlockContext(context);
    FreeContext(context);
    return 0;
}
