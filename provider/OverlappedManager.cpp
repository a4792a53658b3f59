// Start and stop of the manager, its workers, and the issuing of operations.
//
// Port mode: the lower socket is associated with the layer's completion port, the call below is
// made on the application's thread without a completion routine, and a worker completes it.
// Queue mode (no port could be made), and any socket the port cannot take: the operation waits
// in a queue; the queue worker makes the call with CompleteOperation as its completion routine,
// which then runs in the worker's own alertable wait. Each worker holds a reference on the
// module, so no worker ever runs in a library that has been unloaded.
#include "OverlappedManager.h"
#include "OperationKinds.h"
#include "OperationPool.h"
#include <cstring>

BOOL overlappedPassThrough;
HANDLE completionPort;
HANDLE queueSemaphore;
HANDLE workerThreads[MaxWorkerThreads];
int workerCount;
CompleteRequestFunction completeOverlappedRequest = WPUCompleteOverlappedRequest;

static BOOL HandleOpen(SOCKET socket, HANDLE witness)
{
    typedef BOOL(WINAPI * CompareFunction)(HANDLE, HANDLE);
    static auto compare = reinterpret_cast<CompareFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CompareObjectHandles")));
    if (witness && compare)
        return compare(reinterpret_cast<HANDLE>(socket), witness);
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags);
}
HandleOpenFunction socketHandleOpen = HandleOpen;

HANDLE queueWorker;
static volatile LONG managerRunning;
static volatile LONG stopRequested;
static BOOL portAllowed = TRUE;

// The byte count of the packet that tells a port worker to end.
const DWORD StopSignal = 0xFFFFFFFF;
const DWORD StopWaitMilliseconds = 4000;
// Marks a context whose lower socket the port refused, so the association is not tried again.
static const HANDLE PortRefused = INVALID_HANDLE_VALUE;

void AllowCompletionPort(BOOL allowed)
{
    portAllowed = allowed;
}

static HMODULE PinModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&PinModule), &module);
    return module;
}

static HANDLE StartWorker(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    HMODULE module = PinModule();
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    if (!thread && module)
        FreeLibrary(module);
    return thread;
}

static void EndWorker()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&PinModule), &module);
    // Drops the reference StartWorker took, and only then leaves the library's code.
    FreeLibraryAndExitThread(module, 0);
}

static DWORD WINAPI PortWorker(void* port)
{
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        BOOL dequeued = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, INFINITE);
        if (!overlapped && (bytes == StopSignal || !dequeued))
            break;   // the stop packet, or a port that is gone
        CompleteOperation(WSA_IO_PENDING, bytes, overlapped, 0);
    }
    EndWorker();
    return 0;
}

static int ExecuteOperation(PendingOperation* operation, BOOL throughRoutine,
                            LPWSATHREADID thread, ImmediateResult immediate);

// The operations of the queue worker that wait for an event of the layer's own (see
// CallWithoutRoutine), waited on after the semaphore at index 0. Only the queue worker's thread
// touches them.
static HANDLE watchedEvents[MAXIMUM_WAIT_OBJECTS];
static PendingOperation* watchedOperations[MAXIMUM_WAIT_OBJECTS];
static DWORD watchedCount;

static void FinishWatched(DWORD index)
{
    PendingOperation* operation = watchedOperations[index];
    HANDLE event = watchedEvents[index];
    watchedCount--;
    watchedEvents[index] = watchedEvents[watchedCount];
    watchedOperations[index] = watchedOperations[watchedCount];
    // As a port completion: the provider below is asked how the operation ended.
    CompleteOperation(WSA_IO_PENDING, 0, &operation->overlapped, 0);
    CloseHandle(event);
}

int CallWithoutRoutine(PendingOperation* operation, BOOL queued,
                       int (*call)(PendingOperation* operation))
{
    if (!queued)
        return call(operation);
    if (watchedCount >= MAXIMUM_WAIT_OBJECTS)
        return WSAENOBUFS;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return WSAENOBUFS;
    operation->overlapped.hEvent = event;
    int error = call(operation);
    if (error == WSA_IO_PENDING) {
        watchedEvents[watchedCount] = event;
        watchedOperations[watchedCount] = operation;
        watchedCount++;
        return error;
    }
    operation->overlapped.hEvent = nullptr;
    CloseHandle(event);
    if (error == 0)
        CompleteOperation(WSA_IO_PENDING, 0, &operation->overlapped, 0);
    return error;
}

static DWORD WINAPI QueueWorker(void* semaphore)
{
    // The lower provider runs CompleteOperation as an APC in the thread it is given: this one.
    WSATHREADID self = {};
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                    &self.ThreadHandle, 0, FALSE, DUPLICATE_SAME_ACCESS);
    self.Reserved = GetCurrentThreadId();
    watchedEvents[0] = semaphore;
    watchedCount = 1;
    for (;;) {
        DWORD wait = WaitForMultipleObjectsEx(watchedCount, watchedEvents, FALSE, INFINITE, TRUE);
        if (wait == WAIT_IO_COMPLETION)
            continue;
        if (wait > WAIT_OBJECT_0 && wait < WAIT_OBJECT_0 + watchedCount) {
            FinishWatched(wait - WAIT_OBJECT_0);
            continue;
        }
        if (wait != WAIT_OBJECT_0)
            break;
        PendingOperation* operation = DequeueOperation();
        if (operation)
            ExecuteOperation(operation, TRUE, &self, {});
        else if (stopRequested)
            break;
    }
    // Operations still under way are forgotten with the pool; the provider below holds its own
    // reference on each event, so closing them here signals nothing else.
    for (DWORD i = 1; i < watchedCount; i++)
        CloseHandle(watchedEvents[i]);
    watchedCount = 0;
    if (self.ThreadHandle)
        CloseHandle(self.ThreadHandle);
    EndWorker();
    return 0;
}

// The queue and its worker, made on first need in port mode. Under poolLock.
static BOOL EnsureQueueWorker()
{
    if (!queueSemaphore)
        queueSemaphore = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    if (queueSemaphore && !queueWorker)
        queueWorker = StartWorker(QueueWorker, queueSemaphore);
    return queueWorker != nullptr;
}

static int StartUnderPoolLock()
{
    if (!StartOperationPool())
        return WSAENOBUFS;
    completionPort = portAllowed ? CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0)
                                 : nullptr;
    if (!completionPort)
        return EnsureQueueWorker() ? 0 : WSAEPROVIDERFAILEDINIT;
    // One worker per processor, as many as the table holds.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int wanted = static_cast<int>(system.dwNumberOfProcessors);
    wanted = wanted < 1 ? 1 : wanted > MaxWorkerThreads ? MaxWorkerThreads : wanted;
    for (workerCount = 0; workerCount < wanted; workerCount++) {
        workerThreads[workerCount] = StartWorker(PortWorker, completionPort);
        if (!workerThreads[workerCount])
            break;
    }
    if (workerCount == 0) {
        CloseHandle(completionPort);
        completionPort = nullptr;
    }
    return workerCount == wanted ? 0 : WSAEPROVIDERFAILEDINIT;
}

int StartOverlappedManager()
{
    EnterCriticalSection(&poolLock);
    int result = 0;
    if (!managerRunning) {
        stopRequested = 0;
        result = StartUnderPoolLock();
        // With no worker at all, overlapped calls are refused rather than left hanging.
        managerRunning = workerCount > 0 || queueWorker;
    }
    LeaveCriticalSection(&poolLock);
    return result;
}

BOOL ManagedOverlapped(SocketContext* context, const WSAOVERLAPPED* overlapped, BOOL hasRoutine)
{
    if (!overlapped)
        return FALSE;
    if (!overlappedPassThrough || context->completesThroughLayer)
        return TRUE;
    // an overlapped the application cannot have is left to the provider below to refuse
    if (hasRoutine || IsBadReadPtr(overlapped, sizeof(*overlapped)) || overlapped->hEvent)
        return FALSE;
    // without a worker the call is better below than refused
    StartOverlappedManager();
    if (!managerRunning)
        return FALSE;
    InterlockedExchange(&context->completesThroughLayer, 1);
    return TRUE;
}

int StopOverlappedManager()
{
    EnterCriticalSection(&poolLock);
    if (!managerRunning && !queueSemaphore && !completionPort) {
        LeaveCriticalSection(&poolLock);
        return 0;
    }
    managerRunning = 0;
    stopRequested = 1;
    HANDLE threads[MaxWorkerThreads + 1];
    int threadCount = 0;
    for (int i = 0; i < workerCount; i++)
        threads[threadCount++] = workerThreads[i];
    if (queueWorker)
        threads[threadCount++] = queueWorker;
    // The workers take poolLock to finish what they are doing, so the wait is made without it.
    LeaveCriticalSection(&poolLock);
    for (int i = 0; i < workerCount; i++)
        PostQueuedCompletionStatus(completionPort, StopSignal, 0, nullptr);
    if (queueWorker)
        ReleaseSemaphore(queueSemaphore, 1, nullptr);
    if (threadCount)
        WaitForMultipleObjectsEx(threadCount, threads, TRUE, StopWaitMilliseconds, TRUE);

    EnterCriticalSection(&poolLock);
    for (int i = 0; i < threadCount; i++)
        CloseHandle(threads[i]);
    for (int i = 0; i < MaxWorkerThreads; i++)
        workerThreads[i] = nullptr;
    workerCount = 0;
    queueWorker = nullptr;
    if (completionPort)
        CloseHandle(completionPort);
    completionPort = nullptr;
    if (queueSemaphore)
        CloseHandle(queueSemaphore);
    queueSemaphore = nullptr;
    ForgetOperations();
    LeaveCriticalSection(&poolLock);
    return 0;
}

static void UndoAcquire(PendingOperation* operation, SocketContext* context)
{
    LockContext(context);
    context->pendingAsync--;
    UnlockContext(context);
    ReleaseOperation(operation);
}

PendingOperation* PrepareOperation(SocketContext* context, OperationKind kind,
                                   LPWSAOVERLAPPED overlapped,
                                   LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                                   LPWSATHREADID threadId, int* error)
{
    // The layer writes into the application's overlapped at once and at completion.
    if (IsBadWritePtr(overlapped, sizeof(WSAOVERLAPPED))) {
        *error = WSAEFAULT;
        return nullptr;
    }
    PendingOperation* operation = AcquireOperation(context);
    if (!operation) {
        *error = WSAENOBUFS;
        return nullptr;
    }
    if (!routine && overlapped->hEvent && !ResetEvent(ApplicationEvent(overlapped))) {
        UndoAcquire(operation, context);
        *error = WSA_INVALID_HANDLE;
        return nullptr;
    }
    operation->overlapped.Offset = overlapped->Offset;
    operation->overlapped.OffsetHigh = overlapped->OffsetHigh;
    if (threadId && !IsBadReadPtr(threadId, sizeof(*threadId)))
        operation->threadId = *threadId;
    operation->userOverlapped = overlapped;
    operation->context = context;
    operation->socket = context->layeredHandle;
    operation->handleWitness = context->handleWitness;
    operation->lowerSocket = context->lowerSocket;
    operation->kind = kind;
    operation->completionRoutine = routine;
    operation->provider = context->provider;
    return operation;
}

int CopyBufferArray(PendingOperation* operation, const WSABUF* buffers, DWORD count)
{
    if (count > MAXDWORD / sizeof(WSABUF) ||
        (count && IsBadReadPtr(buffers, count * sizeof(WSABUF))))
        return WSAEFAULT;
    auto* copy = static_cast<WSABUF*>(HeapAlloc(privateHeap, 0, (count ? count : 1) * sizeof(WSABUF)));
    if (!copy)
        return WSAENOBUFS;
    if (count)
        memcpy(copy, buffers, count * sizeof(WSABUF));
    operation->args.transfer.buffers = copy;
    operation->args.transfer.bufferCount = count;
    return 0;
}

void DiscardOperation(PendingOperation* operation)
{
    FreeBufferCopy(operation);
    UndoAcquire(operation, operation->context);
}

// An operation that failed before it got under way: the application's overlapped shows the
// error and the cells' values, and nothing is delivered.
static int FailAtOnce(PendingOperation* operation, int error)
{
    // Status and byte count are what the call below left in the record's own, which began
    // with the caller's: the platform leaves some untouched and marks others in progress.
    WSAOVERLAPPED* user = operation->userOverlapped;
    user->Internal = operation->overlapped.Internal;
    user->InternalHigh = operation->overlapped.InternalHigh;
    FreeBufferCopy(operation);
    OperationFinished(operation);
    ReleaseOperation(operation);
    return error;
}

// Writes a value the application asked for into its cell, if it gave a usable one.
static void WriteCell(LPDWORD cell, DWORD value)
{
    if (cell && !IsBadWritePtr(cell, sizeof(DWORD)))
        *cell = value;
}

// A warning status (such as a datagram cut short) fails the call and still completes the
// operation: its packet comes, as after a success.
static BOOL CompletesDespiteError(const PendingOperation* operation)
{
    DWORD status = static_cast<DWORD>(operation->overlapped.Internal);
    return (status & 0xC0000000) == 0x80000000;
}

// The system has already given the operation below its outcome.
static BOOL OverBelow(const PendingOperation* operation)
{
    ULONG_PTR status = operation->overlapped.Internal;
    return status != WSS_OPERATION_IN_PROGRESS && status != operation->callerStatus;
}

// An operation the provider below completed at once, finished by the thread that issued it: the
// application's cells get the count and flags, and its port, event or routine still hear of it,
// all before the call returns, as without the layer.
static int FinishAtOnce(PendingOperation* operation, ImmediateResult immediate)
{
    InterlockedExchange(&operation->phase, PhaseIssuer);
    WriteCell(immediate.bytes, BytesCellValue(operation));
    WriteCell(immediate.flags, FlagsCellValue(operation));
    FinishOperation(operation, WSA_IO_PENDING, 0, 0);
    DropOperationHold(operation);
    return 0;
}

// A refusal at once, with the byte count where the kind gives one even then.
static int RefuseAtOnce(PendingOperation* operation, const OperationKindRow* row, int error,
                        ImmediateResult immediate)
{
    if (row->countsFailures)
        WriteCell(immediate.bytes, BytesCellValue(operation));
    return FailAtOnce(operation, error);
}

static int ExecuteOperation(PendingOperation* operation, BOOL throughRoutine,
                            LPWSATHREADID thread, ImmediateResult immediate)
{
    const OperationKindRow* row = FindOperationKind(operation->kind);
    if (!row)
        return FailAtOnce(operation, WSAEOPNOTSUPP);
    if (operation->userOverlapped->hEvent)
        ResetEvent(ApplicationEvent(operation->userOverlapped));
    if (throughRoutine) {
        int error = row->call(operation, CompleteOperation, thread);
        // The queue worker runs the call after the application was told it is pending, so
        // even a failure at once completes the application's request.
        if (error != 0 && error != WSA_IO_PENDING)
            CompleteOperation(error, BytesCellValue(operation), &operation->overlapped,
                              FlagsCellValue(operation));
        return WSA_IO_PENDING;
    }
    // The port's packet holds the record as much as this thread does until it returns, and
    // a packet that comes while the call is still below is left to this thread.
    operation->holders = 2;
    operation->phase = PhaseIssuing;
    int error = row->call(operation, nullptr, thread);
    // The system may already have the outcome for this thread to take in: a wait that takes
    // no time lets it.
    if (error == WSA_IO_PENDING)
        WaitForSingleObject(GetCurrentThread(), 0);
    if (error == 0)
        return FinishAtOnce(operation, immediate);
    if (error != WSA_IO_PENDING && !CompletesDespiteError(operation))
        return RefuseAtOnce(operation, row, error, immediate);   // no packet comes for it
    // Pending in name only when the system has its outcome or its packet came meanwhile: the
    // application's port or event then has it as soon as it would without the layer.
    BOOL finishHere = error == WSA_IO_PENDING && OverBelow(operation);
    if (finishHere)
        InterlockedExchange(&operation->phase, PhaseIssuer);
    else
        finishHere = InterlockedCompareExchange(&operation->phase, PhaseWorkers, PhaseIssuing) ==
                     PhasePacketCame;
    if (finishHere)
        FinishOperation(operation, WSA_IO_PENDING, 0, 0);
    DropOperationHold(operation);
    return error;
}

// Associates the lower socket with the port once; FALSE when the port cannot carry it.
static BOOL AssociateWithPort(PendingOperation* operation, SocketContext* context)
{
    LockContext(context);
    if (!context->portAssociation) {
        HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(operation->lowerSocket),
                                             completionPort, operation->socket, 0);
        context->portAssociation = port ? port : PortRefused;
    }
    BOOL associated = context->portAssociation != PortRefused;
    UnlockContext(context);
    return associated;
}

// A socket made without WSA_FLAG_OVERLAPPED carries out an overlapped call before it returns,
// as the platform does; no port can take it, so the outcome is had here and delivered at once.
static int ExecuteInPlace(PendingOperation* operation, ImmediateResult immediate)
{
    const OperationKindRow* row = FindOperationKind(operation->kind);
    if (!row)
        return FailAtOnce(operation, WSAEOPNOTSUPP);
    int error = row->call(operation, nullptr, &operation->threadId);
    if (error == WSA_IO_PENDING) {
        // Not expected of such a socket; the outcome is waited for rather than lost.
        DWORD bytes = 0, flags = 0;
        int lowerError = 0;
        error = operation->provider->procTable.lpWSPGetOverlappedResult(
                    operation->lowerSocket, &operation->overlapped, &bytes, TRUE, &flags,
                    &lowerError)
                    ? 0
                    : lowerError;
        CompleteOperation(error, bytes, &operation->overlapped, flags);
        return WSA_IO_PENDING;
    }
    if (error != 0)
        return RefuseAtOnce(operation, row, error, immediate);
    return FinishAtOnce(operation, immediate);
}

int IssueOperation(PendingOperation* operation, SocketContext* context,
                   ImmediateResult immediate)
{
    WSAOVERLAPPED* user = operation->userOverlapped;
    operation->callerStatus = operation->overlapped.Internal = user->Internal;
    operation->overlapped.InternalHigh = user->InternalHigh;
    user->Internal = WSS_OPERATION_IN_PROGRESS;
    if (!(context->flags & WSA_FLAG_OVERLAPPED))
        return ExecuteInPlace(operation, immediate);
    if (!managerRunning)
        return FailAtOnce(operation, WSAENOBUFS);
    if (completionPort && AssociateWithPort(operation, context))
        return ExecuteOperation(operation, FALSE, &operation->threadId, immediate);
    // Queue mode, or a socket whose completions the port cannot carry (a lower handle that is
    // not a kernel object, or one another port already owns): the queue worker runs it.
    EnterCriticalSection(&poolLock);
    BOOL queueReady = managerRunning && EnsureQueueWorker();
    HANDLE semaphore = queueSemaphore;
    LeaveCriticalSection(&poolLock);
    if (!queueReady)
        return FailAtOnce(operation, WSAENOBUFS);
    return QueueOperation(operation, semaphore);
}
