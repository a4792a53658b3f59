// WSPStartup: one start-up serves every catalog chain that begins with this layer.
#include "CatalogAccess.h"
#include "Channel.h"
#include "LayerProviderId.h"
#include "OverlappedManager.h"
#include "ProviderState.h"
#include <cstring>

CRITICAL_SECTION startupLock;
CRITICAL_SECTION mainLock;
WSPUPCALLTABLE upcallTable;
WSPPROC_TABLE providerProcTable;
WSPDATA providerData;
int startupCount;
DWORD layerCatalogId;
HANDLE privateHeap;
LowerProvider* providerTable;
int providerCount;
HANDLE contextAddedEvent;

const WORD LayerVersion = MAKEWORD(2, 2);
const int ProviderPathLimit = MAX_PATH - 1;

int ValidateProcTable(const WSPPROC_TABLE* table)
{
    auto* entries = reinterpret_cast<void* const*>(table);
    for (size_t i = 0; i < sizeof(WSPPROC_TABLE) / sizeof(void*); i++) {
        if (!entries[i])
            return -1;
    }
    return 0;
}

static BOOL IsChainOverLayer(const WSAPROTOCOL_INFOW& entry)
{
    return entry.ProtocolChain.ChainLen > 1 &&
           entry.ProtocolChain.ChainEntries[0] == layerCatalogId;
}

static const WSAPROTOCOL_INFOW* FindCatalogEntry(const WSAPROTOCOL_INFOW* catalog, int count,
                                                 DWORD catalogId)
{
    for (int i = 0; i < count; i++) {
        if (catalog[i].dwCatalogEntryId == catalogId)
            return &catalog[i];
    }
    return nullptr;
}

// The entry the chain continues with. When the next element is another layer's own entry, that
// layer's chain with the same family, type and protocol is taken; the first such chain in catalog
// order, so that each chain of ours fills exactly one record.
static const WSAPROTOCOL_INFOW* FindNextEntry(const WSAPROTOCOL_INFOW* catalog, int count,
                                              const WSAPROTOCOL_INFOW& chain)
{
    DWORD nextId = chain.ProtocolChain.ChainEntries[1];
    const WSAPROTOCOL_INFOW* next = FindCatalogEntry(catalog, count, nextId);
    if (!next || next->ProtocolChain.ChainLen != LAYERED_PROTOCOL)
        return next;
    for (int i = 0; i < count; i++) {
        const WSAPROTOCOL_INFOW& candidate = catalog[i];
        if (candidate.ProtocolChain.ChainLen > 1 &&
            candidate.ProtocolChain.ChainEntries[0] == nextId &&
            candidate.iAddressFamily == chain.iAddressFamily &&
            candidate.iSocketType == chain.iSocketType && candidate.iProtocol == chain.iProtocol)
            return &candidate;
    }
    return next;
}

static int BuildProviderTable(const WSAPROTOCOL_INFOW* catalog, int count)
{
    for (int i = 0; i < count; i++) {
        if (memcmp(&catalog[i].ProviderId, &LayerProviderId, sizeof(GUID)) == 0) {
            layerCatalogId = catalog[i].dwCatalogEntryId;
            break;
        }
    }
    int chains = 0;
    for (int i = 0; i < count; i++)
        chains += IsChainOverLayer(catalog[i]);
    providerTable = static_cast<LowerProvider*>(
        HeapAlloc(privateHeap, HEAP_ZERO_MEMORY, (chains ? chains : 1) * sizeof(LowerProvider)));
    if (!providerTable)
        return WSAENOBUFS;
    providerCount = chains;
    for (int i = 0; i < providerCount; i++)
        InitializeCriticalSection(&providerTable[i].lock);
    int filled = 0;
    for (int i = 0; i < count && filled < providerCount; i++) {
        if (!IsChainOverLayer(catalog[i]))
            continue;
        LowerProvider& record = providerTable[filled++];
        record.chainProtocolInfo = catalog[i];
        const WSAPROTOCOL_INFOW* next = FindNextEntry(catalog, count, catalog[i]);
        if (!next)
            return WSAEPROVIDERFAILEDINIT;
        record.nextProtocolInfo = *next;
    }
    return 0;
}

static HMODULE LoadNextProvider(LowerProvider& record)
{
    if (catalogAccess.expandWide(record.providerPath, record.expandedPath, ProviderPathLimit))
        return LoadLibraryW(record.expandedPath);
    if (!WideCharToMultiByte(CP_ACP, 0, record.providerPath, record.pathLength,
                             record.providerPathAnsi, record.pathLength, nullptr, nullptr))
        return nullptr;
    if (!ExpandEnvironmentStringsA(record.providerPathAnsi, record.expandedPathAnsi,
                                   ProviderPathLimit))
        return nullptr;
    return LoadLibraryA(record.expandedPathAnsi);
}

static int StartNextProvider(LowerProvider& record, WORD version, LPWSPDATA data,
                             LPWSAPROTOCOL_INFOW protocolInfo, int* errorCell)
{
    record.pathLength = ProviderPathLimit;
    if (catalogAccess.getProviderPath(&record.nextProtocolInfo.ProviderId, record.providerPath,
                                      &record.pathLength, errorCell) != 0)
        return WSAEPROVIDERFAILEDINIT;
    record.module = LoadNextProvider(record);
    if (!record.module)
        return WSAEPROVIDERFAILEDINIT;
    record.startup = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(record.module, "WSPStartup")));
    if (!record.startup)
        return WSAEPROVIDERFAILEDINIT;
    LPWSAPROTOCOL_INFOW passedDown =
        record.nextProtocolInfo.ProtocolChain.ChainLen == BASE_PROTOCOL ? &record.nextProtocolInfo
                                                                        : protocolInfo;
    if (record.startup(version, data, passedDown, upcallTable, &record.procTable) != 0)
        return WSAEPROVIDERFAILEDINIT;
    record.started = TRUE;
    if (ValidateProcTable(&record.procTable) != 0)
        return WSAEPROVIDERFAILEDINIT;
    return 0;
}

static int FirstStartup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocolInfo,
                        int* errorCell)
{
    contextAddedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!contextAddedEvent)
        return WSAENOBUFS;
    FillProviderProcTable(&providerProcTable);
    memset(&providerData, 0, sizeof(providerData));
    providerData.wVersion = LayerVersion;
    providerData.wHighVersion = LayerVersion;
    privateHeap = HeapCreate(0, PrivateHeapInitialSize, 0);
    if (!privateHeap)
        return WSAEPROVIDERFAILEDINIT;
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = catalogAccess.enumerate(&count);
    if (!catalog)
        return WSAEPROVIDERFAILEDINIT;
    int result = BuildProviderTable(catalog, count);
    catalogAccess.free(catalog);
    for (int i = 0; i < providerCount && result == 0; i++)
        result = StartNextProvider(providerTable[i], version, data, protocolInfo, errorCell);
    // A manager that fails to start makes overlapped calls fail with WSAENOBUFS; the
    // start-up itself goes on.
    overlappedPassThrough = viewerWindow == nullptr;
    if (result == 0 && !overlappedPassThrough)
        StartOverlappedManager();
    return result;
}

extern "C" int WSPAPI WSPStartup(WORD wVersionRequested, LPWSPDATA lpWSPData,
                                 LPWSAPROTOCOL_INFOW lpProtocolInfo, WSPUPCALLTABLE UpcallTable,
                                 LPWSPPROC_TABLE lpProcTable)
{
    EnterCriticalSection(&startupLock);
    EnterCriticalSection(&mainLock);
    upcallTable = UpcallTable;
    if (startupCount == 0) {
        int errorCell = 0;
        int result = FirstStartup(wVersionRequested, lpWSPData, lpProtocolInfo, &errorCell);
        if (result != 0) {
            ShutdownProviders(&errorCell, FALSE);
            LeaveCriticalSection(&mainLock);
            LeaveCriticalSection(&startupLock);
            return result;
        }
    }
    startupCount++;
    *lpWSPData = providerData;
    *lpProcTable = providerProcTable;
    LeaveCriticalSection(&mainLock);
    LeaveCriticalSection(&startupLock);
    return 0;
}
