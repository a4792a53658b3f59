// Undoes a start-up: every lower provider stopped and unloaded, every socket closed and reported,
// both heaps' provider records gone.
#include "ProviderState.h"
#include "SocketContext.h"

void ShutdownProviders(int* errorCell)
{
    for (int i = 0; i < providerCount; i++) {
        LowerProvider& record = providerTable[i];
        if (!record.module) {
            DeleteCriticalSection(&record.lock);
            continue;
        }
        CloseAllContexts(&record);
        record.sockets = nullptr;
        // A provider whose table failed the check may lack the entry.
        if (record.started && record.procTable.lpWSPCleanup)
            record.procTable.lpWSPCleanup(errorCell);
        DeleteCriticalSection(&record.lock);
        FreeLibrary(record.module);
        record.module = nullptr;
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
