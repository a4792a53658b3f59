// The pool of operation records and the work queue of queue mode. Records come in blocks of 100
// from privateHeap and go with it at teardown; a block is never freed on its own.
#include "OperationPool.h"
#include <cstring>

PendingOperation* freeOperations;
static PendingOperation* queueHead;
static PendingOperation* queueTail;
static DWORD poolGeneration;
static LONG operationsInUse;

BOOL AllocOperationBlock()
{
    auto* block = static_cast<PendingOperation*>(
        HeapAlloc(privateHeap, HEAP_ZERO_MEMORY, OperationBlockSize * sizeof(PendingOperation)));
    if (!block)
        return FALSE;
    for (int i = 0; i < OperationBlockSize; i++) {
        block[i].next = freeOperations;
        freeOperations = &block[i];
    }
    return TRUE;
}

void ForgetOperations()
{
    freeOperations = nullptr;
    queueHead = queueTail = nullptr;
}

BOOL StartOperationPool()
{
    ForgetOperations();
    poolGeneration++;
    operationsInUse = 0;
    return AllocOperationBlock();
}

LONG OperationsInUse()
{
    EnterCriticalSection(&poolLock);
    LONG inUse = operationsInUse;
    LeaveCriticalSection(&poolLock);
    return inUse;
}

PendingOperation* AcquireOperation(SocketContext* context)
{
    if (!context || !privateHeap)
        return nullptr;
    LockContext(context);
    EnterCriticalSection(&poolLock);
    if (!freeOperations)
        AllocOperationBlock();
    PendingOperation* operation = freeOperations;
    if (operation) {
        freeOperations = operation->next;
        memset(operation, 0, sizeof(*operation));
        operation->generation = poolGeneration;
        operation->holders = 1;
        operationsInUse++;
        context->pendingAsync++;
    }
    LeaveCriticalSection(&poolLock);
    UnlockContext(context);
    return operation;
}

void ReleaseOperation(PendingOperation* operation)
{
    if (operation->ownsThread) {
        int closeError = 0;
        upcallTable.lpWPUCloseThread(&operation->threadId, &closeError);
    }
    EnterCriticalSection(&poolLock);
    if (operation->generation == poolGeneration) {
        operationsInUse--;
        memset(operation, 0, sizeof(*operation));
        operation->next = freeOperations;
        freeOperations = operation;
    }
    LeaveCriticalSection(&poolLock);
}

int QueueOperation(PendingOperation* operation, HANDLE semaphore)
{
    if (!operation)
        return WSAEFAULT;
    EnterCriticalSection(&poolLock);
    operation->next = nullptr;
    if (queueTail)
        queueTail->next = operation;
    else
        queueHead = operation;
    queueTail = operation;
    LeaveCriticalSection(&poolLock);
    ReleaseSemaphore(semaphore, 1, nullptr);
    return WSA_IO_PENDING;
}

PendingOperation* DequeueOperation()
{
    EnterCriticalSection(&poolLock);
    PendingOperation* operation = queueHead;
    if (operation) {
        queueHead = operation->next;
        if (!queueHead)
            queueTail = nullptr;
        operation->next = nullptr;
    }
    LeaveCriticalSection(&poolLock);
    return operation;
}
