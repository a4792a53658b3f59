#include "SocketContext.h"
#include "SocketLifeReports.h"
#include "TeardownReports.h"

volatile LONG socketsBeingAccepted;

SocketContext* CreateContext(LowerProvider* provider, SOCKET lowerSocket, SocketContext* parent,
                             BOOL link)
{
    auto* context = static_cast<SocketContext*>(
        HeapAlloc(privateHeap, HEAP_ZERO_MEMORY, sizeof(SocketContext)));
    if (!context)
        return nullptr;
    context->lowerSocket = lowerSocket;
    context->provider = provider;
    context->heap = privateHeap;
    context->backlog = -1;
    context->blocking = 1;
    if (parent) {
        context->asyncWindow = parent->asyncWindow;
        context->asyncMessage = parent->asyncMessage;
    }
    InitializeCriticalSection(&context->lock);
    if (link)
        LinkContext(provider, context);
    return context;
}

void FreeContext(SocketContext* context)
{
    if (context->handleWitness)
        CloseHandle(context->handleWitness);
    DeleteCriticalSection(&context->lock);
    HeapFree(context->heap, 0, context);
}

void LinkContext(LowerProvider* provider, SocketContext* context)
{
    if (!provider || !context)
        return;
    EnterCriticalSection(&provider->lock);
    context->prev = nullptr;
    context->next = provider->sockets;
    if (provider->sockets)
        provider->sockets->prev = context;
    provider->sockets = context;
    LeaveCriticalSection(&provider->lock);
    SetEvent(contextAddedEvent);
}

void UnlinkContext(LowerProvider* provider, SocketContext* context)
{
    EnterCriticalSection(&provider->lock);
    if (!context->prev) {
        // Only the head has no predecessor; a context never linked must not move the head.
        if (provider->sockets == context) {
            provider->sockets = context->next;
            if (provider->sockets)
                provider->sockets->prev = nullptr;
        }
    } else {
        context->prev->next = context->next;
        if (context->next)
            context->next->prev = context->prev;
    }
    // An unlinked context points nowhere, so that a second unlink changes nothing.
    context->prev = nullptr;
    context->next = nullptr;
    LeaveCriticalSection(&provider->lock);
}

SocketContext* FindContext(SOCKET layeredHandle, int* errorCell)
{
    DWORD_PTR value = 0;
    EnterCriticalSection(&mainLock);
    SocketContext* context = nullptr;
    if (upcallTable.lpWPUQuerySocketHandleContext(layeredHandle, &value, errorCell) == 0 && value) {
        context = reinterpret_cast<SocketContext*>(value);
        InterlockedIncrement(&context->refCount);
    }
    LeaveCriticalSection(&mainLock);
    return context;
}

void ReleaseContext(SocketContext* context, int* errorCell)
{
    // The context's lock comes before mainLock, as everywhere; it also keeps the final-release
    // test from interleaving with the end of the socket's last pending operation.
    LockContext(context);
    EnterCriticalSection(&mainLock);
    BOOL finalRelease = InterlockedDecrement(&context->refCount) == 0 &&
                        context->pendingAsync == 0 && context->closing;
    SOCKET closedHandle = INVALID_SOCKET;
    int closeResult = 0;
    if (finalRelease) {
        closedHandle = context->layeredHandle;
        if (closedHandle != INVALID_SOCKET)
            closeResult = upcallTable.lpWPUCloseSocketHandle(closedHandle, errorCell);
        context->layeredHandle = INVALID_SOCKET;
        UnlinkContext(context->provider, context);
    }
    LeaveCriticalSection(&mainLock);
    // A close put off while another call was inside ends here, and is reported as the end of
    // any deferred close is: the viewer counts the socket closed only from that record.
    if (closedHandle != INVALID_SOCKET && !context->closeReported)
        ReportDeferredClose(closeResult, context, closedHandle, errorCell);
    UnlockContext(context);
    if (finalRelease)
        FreeContext(context);
}

void LockContext(SocketContext* context)
{
    EnterCriticalSection(&context->lock);
}

void UnlockContext(SocketContext* context)
{
    LeaveCriticalSection(&context->lock);
}

// The walk holds each list's own lock as well as mainLock, so it never sees a link half changed;
// a context is unlinked under that lock before it is freed, so the walk never reaches a freed one.
static SocketContext* SearchList(LowerProvider* provider, SOCKET lowerSocket)
{
    SocketContext* found = nullptr;
    EnterCriticalSection(&provider->lock);
    for (SocketContext* context = provider->sockets; context; context = context->next) {
        if (context->lowerSocket == lowerSocket) {
            found = context;
            break;
        }
    }
    LeaveCriticalSection(&provider->lock);
    return found;
}

SocketContext* FindContextByLowerSocket(LowerProvider* provider, SOCKET lowerSocket)
{
    SocketContext* found = nullptr;
    EnterCriticalSection(&mainLock);
    if (provider) {
        found = SearchList(provider, lowerSocket);
    } else {
        for (int i = 0; i < providerCount && !found; i++)
            found = SearchList(&providerTable[i], lowerSocket);
    }
    if (found)
        InterlockedIncrement(&found->refCount);
    LeaveCriticalSection(&mainLock);
    return found;
}

void CloseAllContexts(LowerProvider* provider)
{
    linger hardClose = {1, 0};
    SocketContext* context = provider->sockets;
    while (context) {
        SocketContext* next = context->next;
        int error = 0;
        if (provider->procTable.lpWSPSetSockOpt(context->lowerSocket, SOL_SOCKET, SO_LINGER,
                                                reinterpret_cast<const char*>(&hardClose),
                                                sizeof(hardClose), &error) == 0) {
            int result = provider->procTable.lpWSPCloseSocket(context->lowerSocket, &error);
            QueueTeardownReport(result, context, error);
        }
        // Lookups and releases wait for mainLock, which the teardown holds: the count is fixed.
        if (context->refCount == 0) {
            int closeError = 0;
            upcallTable.lpWPUCloseSocketHandle(context->layeredHandle, &closeError);
            UnlinkContext(provider, context);
            FreeContext(context);
        } else {
            // A call is inside (a thread blocked in recv, say): the close above ends it, and
            // its release frees the context. No completion can come any more.
            context->lowerSocket = INVALID_SOCKET;
            context->closing = 1;
            context->pendingAsync = 0;
            context->closeReported = TRUE;
        }
        context = next;
    }
}
