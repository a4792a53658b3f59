// The manager's own view of the record pool and the work queue.
#pragma once
#include "OverlappedManager.h"

// Head of the free list, under poolLock.
extern PendingOperation* freeOperations;

// Adds a block of records to the free list; FALSE when privateHeap has no room. Under poolLock.
BOOL AllocOperationBlock();
// Drops the free list and the queue, whose records live in a heap about to go. Under poolLock.
void ForgetOperations();

// Appends to the queue and wakes the queue worker: WSA_IO_PENDING, or WSAEFAULT for no record.
int QueueOperation(PendingOperation* operation, HANDLE semaphore);
// The oldest queued record, or null.
PendingOperation* DequeueOperation();
