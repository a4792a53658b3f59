#include "ProcessLifetime.h"
#include "Channel.h"
#include "ProviderState.h"

HMODULE moduleHandle;
CRITICAL_SECTION poolLock;
DWORD blockingProviderSlot = TLS_OUT_OF_INDEXES;
volatile LONG detaching;

void InitializeProcessLocks()
{
    InitializeCriticalSection(&startupLock);
    InitializeCriticalSection(&mainLock);
    InitializeCriticalSection(&poolLock);
    blockingProviderSlot = TlsAlloc();
}

void ProcessAttach(HINSTANCE instance)
{
    moduleHandle = instance;
    InitializeProcessLocks();
    AttachToViewer();
}

void ProcessDetach(void* reserved)
{
    // From here on a WSPCleanup from the Winsock layer must not tear down a second time.
    detaching = 1;
    EnterCriticalSection(&mainLock);
    if (providerTable) {
        int errorCell = 0;
        ShutdownProviders(&errorCell, FALSE);
    }
    LeaveCriticalSection(&mainLock);
    DeleteCriticalSection(&mainLock);
    DeleteCriticalSection(&startupLock);
    DeleteCriticalSection(&poolLock);
    if (!reserved && blockingProviderSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(blockingProviderSlot);
        blockingProviderSlot = TLS_OUT_OF_INDEXES;
    }
    DetachFromViewer();
}

void SetBlockingProvider(LowerProvider* provider)
{
    if (blockingProviderSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(blockingProviderSlot, provider);
}

LowerProvider* GetBlockingProvider()
{
    if (blockingProviderSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    return static_cast<LowerProvider*>(TlsGetValue(blockingProviderSlot));
}
