// The completion of an operation: its outcome, the byte totals, the report, the delivery to the
// application, and the close that waited for the socket's last operation.
#include "OverlappedManager.h"
#include "OperationKinds.h"
#include "SocketLifeReports.h"

// The context of the record's socket with a reference, or null when that socket is gone. A
// handle value reused by a newer socket is not the record's socket.
static SocketContext* FindRecordContext(PendingOperation* operation)
{
    int error = 0;
    SocketContext* context = FindContext(operation->socket, &error);
    if (context && context != operation->context) {
        ReleaseContext(context, &error);
        return nullptr;
    }
    return context;
}

// What a completion routine is called with, kept apart from the application's overlapped,
// which the application may reuse or clear before its thread runs the routine.
struct RoutineCall {
    LPWSAOVERLAPPED_COMPLETION_ROUTINE routine;
    LPWSAOVERLAPPED overlapped;
    DWORD error;
    DWORD bytes;
    DWORD flags;
};

// Runs as an APC in the application's thread.
static void CALLBACK RunCompletionRoutine(ULONG_PTR parameter)
{
    RoutineCall call = *reinterpret_cast<RoutineCall*>(parameter);
    HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(parameter));
    call.routine(call.error, call.bytes, call.overlapped, call.flags);
}

// The status the application's overlapped gets: the system's own status of the operation
// below where it has one, so that GetQueuedCompletionStatus and the overlapped structure say
// what they would say without the layer; else the Winsock error.
static DWORD DeliveredStatus(const PendingOperation* operation, DWORD error)
{
    if (error == 0)
        return 0;
    DWORD lowerStatus = static_cast<DWORD>(operation->overlapped.Internal);
    return (lowerStatus & 0x80000000) ? lowerStatus : WinsockErrorStatus(error);
}

// Completes the application's request on its socket with the outcome: the routine, if it gave
// one, is queued to its thread; otherwise its event and port are told. The status says how it
// ended; a receive's flags, which the layer's WSPGetOverlappedResult tells, go into OffsetHigh
// first, since the application may look as soon as it is told (Offset stays the application's:
// TransmitFile reads a file position there). A program that closed the socket's handle itself
// (CloseHandle rather than closesocket) may have let the structure go with it: nothing is
// written there then.
static void DeliverTo(SOCKET socket, HANDLE witness, LPWSAOVERLAPPED user,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID threadId,
                      BOOL keepsFlags, DWORD status, DWORD error, DWORD bytes, DWORD flags)
{
    int upcallError = 0;
    if (!routine && !socketHandleOpen(socket, witness))
        return;
    if (keepsFlags)
        user->OffsetHigh = flags;
    if (!routine) {
        completeOverlappedRequest(socket, user, status, bytes, &upcallError);
        return;
    }
    user->InternalHigh = bytes;
    user->Internal = status;
    auto* call = static_cast<RoutineCall*>(HeapAlloc(GetProcessHeap(), 0, sizeof(RoutineCall)));
    if (!call)
        return;
    *call = {routine, user, error, bytes, flags};
    if (upcallTable.lpWPUQueueApc(threadId, RunCompletionRoutine,
                                  reinterpret_cast<DWORD_PTR>(call), &upcallError) != 0)
        HeapFree(GetProcessHeap(), 0, call);
}

static void Deliver(PendingOperation* operation, const OperationKindRow* row, DWORD error,
                    DWORD bytes, DWORD flags)
{
    BOOL receive = row && row->flagsCell && row->counter == CountReceived;
    DeliverTo(operation->socket, operation->handleWitness, operation->userOverlapped,
              operation->completionRoutine, &operation->threadId, receive,
              DeliveredStatus(operation, error), error, bytes, flags);
}

void CompleteAnsweredRequest(SocketContext* context, LPWSAOVERLAPPED overlapped,
                             LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID threadId,
                             DWORD bytes)
{
    WSATHREADID thread = {};
    if (threadId && !IsBadReadPtr(threadId, sizeof(*threadId)))
        thread = *threadId;
    DeliverTo(context->layeredHandle, context->handleWitness, overlapped, routine, &thread, FALSE,
              0, 0, bytes, 0);
}

// AcceptEx's bytes arrived on the accepting socket, which has a context of its own. Added
// before the record's socket is locked: the layer holds one context lock at a time.
static void AddToAcceptingSocket(PendingOperation* operation, DWORD bytes)
{
    int error = 0;
    SocketContext* accepting = FindContext(operation->args.acceptEx.acceptSocket, &error);
    if (!accepting)
        return;
    AddToTotal(&accepting->bytesReceived, bytes);
    ReleaseContext(accepting, &error);
}

void FinishOperation(PendingOperation* operation, DWORD error, DWORD bytes, DWORD flags)
{
    SocketContext* context = FindRecordContext(operation);
    if (!context) {
        FreeBufferCopy(operation);
        return;
    }
    if (error == WSA_IO_PENDING) {
        // A port completion: the provider below knows how it ended.
        int lowerError = 0;
        error = 0;
        if (!operation->provider->procTable.lpWSPGetOverlappedResult(
                operation->lowerSocket, &operation->overlapped, &bytes, FALSE, &flags,
                &lowerError))
            error = static_cast<DWORD>(lowerError);
        // The application closed the socket while the operation was under way: the provider
        // below knows the socket no more, but the record's own overlapped still holds the
        // system's status, which is success or the abort the close brought about.
        if (lowerError == WSAENOTSOCK && context->closing) {
            bytes = static_cast<DWORD>(operation->overlapped.InternalHigh);
            error = operation->overlapped.Internal == 0 ? 0 : WSA_OPERATION_ABORTED;
        }
    }
    const OperationKindRow* row = FindOperationKind(operation->kind);
    if (!row || !row->flagsCell)
        flags = 0;   // only kinds with flags have any to tell
    if (error == 0 && row && row->counter == CountAccepted)
        AddToAcceptingSocket(operation, bytes);
    // Under the socket's lock, the report cannot overtake a close the application is making:
    // that close reports before it lets go of the lock.
    LockContext(context);
    if (row) {
        if (error == 0 && row->counter == CountReceived)
            AddToTotal(&context->bytesReceived, bytes);
        else if (error == 0 && row->counter == CountSent)
            AddToTotal(&context->bytesSent, bytes);
        if (row->report)
            row->report(operation, context, error, bytes, flags);
    }
    FreeBufferCopy(operation);
    UnlockContext(context);
    int releaseError = 0;
    ReleaseContext(context, &releaseError);
    Deliver(operation, row, error, bytes, flags);
    OperationFinished(operation);
}

void CALLBACK CompleteOperation(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD flags)
{
    auto* operation = reinterpret_cast<PendingOperation*>(overlapped);
    if (!operation)
        return;
    // A packet that comes while the issuing thread is still in the call is that thread's to
    // finish; so is one it has finished already.
    if (InterlockedCompareExchange(&operation->phase, PhasePacketCame, PhaseIssuing) ==
        PhaseWorkers)
        FinishOperation(operation, error, bytes, flags);
    DropOperationHold(operation);
}

void DropOperationHold(PendingOperation* operation)
{
    if (InterlockedDecrement(&operation->holders) == 0)
        ReleaseOperation(operation);
}

void OperationFinished(PendingOperation* operation)
{
    SocketContext* context = FindRecordContext(operation);
    if (!context)
        return;
    LockContext(context);
    context->pendingAsync--;
    BOOL lastOfClosing = FALSE;
    int closeResult = 0;
    if (context->closing && context->pendingAsync == 0) {
        // Lookups run under mainLock: once the handle is closed under it, nobody finds the
        // context again, and the reference count read here cannot grow meanwhile.
        EnterCriticalSection(&mainLock);
        lastOfClosing = context->refCount == 1;
        if (lastOfClosing)
            closeResult =
                upcallTable.lpWPUCloseSocketHandle(operation->socket, &operation->closeError);
        LeaveCriticalSection(&mainLock);
    }
    if (!lastOfClosing) {
        UnlockContext(context);
        int releaseError = 0;
        ReleaseContext(context, &releaseError);
        return;
    }
    ReportDeferredClose(closeResult, context, operation->socket, &operation->closeError);
    context->layeredHandle = INVALID_SOCKET;
    UnlinkContext(context->provider, context);
    UnlockContext(context);
    operation->context = nullptr;
    FreeContext(context);
}
