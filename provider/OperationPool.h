// The manager's own view of the record pool and the work queue.
#pragma once
#include "OverlappedManager.h"

// Head of the free list, under poolLock.
extern PendingOperation* freeOperations;

// Adds a block of records to the free list; FALSE when privateHeap has no room. Under poolLock.
BOOL AllocOperationBlock();
// A fresh pool for a start: a new generation with one block. A record of an earlier generation
// that comes back late (its operation was still below at the stop) is not taken into the new
// free list. FALSE when privateHeap has no room. Under poolLock.
BOOL StartOperationPool();
// Drops the free list and the queue, whose records live in a heap about to go. Under poolLock.
void ForgetOperations();
// Records taken from this generation's pool and not yet given back: operations the provider
// below may still complete into. While any are out, their heap must not be destroyed.
LONG OperationsInUse();

// Appends to the queue and wakes the queue worker: WSA_IO_PENDING, or WSAEFAULT for no record.
int QueueOperation(PendingOperation* operation, HANDLE semaphore);
// The oldest queued record, or null.
PendingOperation* DequeueOperation();
