// Undoes a start-up: every lower provider stopped and unloaded, every socket closed and reported,
// both heaps' provider records gone.
#include "OperationPool.h"
#include "ProviderState.h"
#include "SocketContext.h"
#include "TeardownReports.h"

// How long the last cleanup waits for calls still inside to leave once their sockets are closed.
const DWORD CallsLeaveMilliseconds = 5000;

static BOOL ContextsLeft()
{
    for (int i = 0; i < providerCount; i++) {
        if (providerTable[i].sockets)
            return TRUE;
    }
    return FALSE;
}

// Lets go of mainLock, which their releases take, until the calls are gone or the time is up.
static void WaitForCallsToLeave()
{
    for (DWORD waited = 0; ContextsLeft() && waited < CallsLeaveMilliseconds; waited += 10) {
        LeaveCriticalSection(&mainLock);
        Sleep(10);
        EnterCriticalSection(&mainLock);
    }
}

void ShutdownProviders(int* errorCell, BOOL waitForCalls)
{
    for (int i = 0; i < providerCount; i++) {
        if (providerTable[i].module)
            CloseAllContexts(&providerTable[i]);
    }
    LeaveCriticalSection(&mainLock);
    SendTeardownReports();
    EnterCriticalSection(&mainLock);
    if (waitForCalls)
        WaitForCallsToLeave();
    if (ContextsLeft() || OperationsInUse() > 0) {
        // A call that never came back still runs in a lower provider and uses the table and
        // its context, or an operation still below may yet complete into its record: all of
        // it stays, and so does every lower provider. A leak, not a crash.
        providerTable = nullptr;
        providerCount = 0;
        privateHeap = nullptr;
    }
    for (int i = 0; i < providerCount; i++) {
        LowerProvider& record = providerTable[i];
        if (record.module) {
            // A provider whose table failed the check may lack the entry.
            if (record.started && record.procTable.lpWSPCleanup)
                record.procTable.lpWSPCleanup(errorCell);
            FreeLibrary(record.module);
            record.module = nullptr;
        }
        DeleteCriticalSection(&record.lock);
    }
    if (providerTable) {
        HeapFree(privateHeap, 0, providerTable);
        providerTable = nullptr;
    }
    providerCount = 0;
    if (contextAddedEvent) {
        CloseHandle(contextAddedEvent);
        contextAddedEvent = nullptr;
    }
    if (privateHeap) {
        HeapDestroy(privateHeap);
        privateHeap = nullptr;
    }
}
