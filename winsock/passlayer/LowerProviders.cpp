#include "LowerProviders.h"

#include "Catalog.h"
#include "WinsockLayerIds.h"

namespace {

const int maxLowers = 16;

SRWLOCK lowersLock = SRWLOCK_INIT;
LowerProvider lowers[maxLowers];
int lowerCount;

const WSAPROTOCOL_INFOW* FindEntry(const WSAPROTOCOL_INFOW* catalog, int count, DWORD id)
{
    for (int i = 0; i < count; ++i)
        if (catalog[i].dwCatalogEntryId == id)
            return &catalog[i];
    return nullptr;
}

// The layer's own hidden entry, and its place in the chain (first unless stacked).
bool FindLayerInChain(const WSAPROTOCOL_INFOW* catalog, int count,
                      const WSAPROTOCOL_INFOW* chain, DWORD* layerId, int* position)
{
    for (int i = 0; i < count; ++i) {
        if (catalog[i].ProtocolChain.ChainLen != LAYERED_PROTOCOL ||
            !IsEqualGUID(catalog[i].ProviderId, PassLayerProviderId))
            continue;
        for (int p = 0; p < chain->ProtocolChain.ChainLen - 1; ++p) {
            if (chain->ProtocolChain.ChainEntries[p] == catalog[i].dwCatalogEntryId) {
                *layerId = catalog[i].dwCatalogEntryId;
                *position = p;
                return true;
            }
        }
    }
    return false;
}

HMODULE LoadProviderOf(const WSAPROTOCOL_INFOW& entry)
{
    wchar_t path[MAX_PATH], expanded[MAX_PATH];
    int length = MAX_PATH, error = 0;
    GUID id = entry.ProviderId;
    if (WSCGetProviderPath(&id, path, &length, &error) != 0)
        return nullptr;
    DWORD expandedLength = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (expandedLength == 0 || expandedLength > MAX_PATH)
        return nullptr;
    return LoadLibraryW(expanded);
}

int StartBelow(WORD version, const WSAPROTOCOL_INFOW* chain, WSPUPCALLTABLE upcalls,
               LPWSPDATA data, LowerProvider* lower)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return WSAEPROVIDERFAILEDINIT;
    int position = 0;
    const WSAPROTOCOL_INFOW* below = nullptr;
    if (FindLayerInChain(catalog, count, chain, &lower->layerId, &position))
        below = FindEntry(catalog, count, chain->ProtocolChain.ChainEntries[position + 1]);
    if (below)
        lower->below = *below;
    FreeCatalog(catalog);
    if (!below)
        return WSAEPROVIDERFAILEDINIT;

    lower->chain = *chain;
    lower->chainId = chain->dwCatalogEntryId;
    lower->module = LoadProviderOf(lower->below);
    auto startup = lower->module ? reinterpret_cast<LPWSPSTARTUP>(reinterpret_cast<void*>(
                                       GetProcAddress(lower->module, "WSPStartup")))
                                 : nullptr;
    if (!startup) {
        if (lower->module)
            FreeLibrary(lower->module);
        return WSAEPROVIDERFAILEDINIT;
    }
    WSAPROTOCOL_INFOW info = LowerInfoFor(lower, chain);
    int error = startup(version, data, &info, upcalls, &lower->table);
    if (error != 0)
        FreeLibrary(lower->module);
    return error;
}

bool ServesEntry(const LowerProvider& lower, const WSAPROTOCOL_INFOW* entry)
{
    return lower.chainId == entry->dwCatalogEntryId ||
           lower.below.dwCatalogEntryId == entry->dwCatalogEntryId;
}

} // namespace

int StartLowerProvider(WORD version, const WSAPROTOCOL_INFOW* chain, WSPUPCALLTABLE upcalls,
                       LPWSPDATA data, LowerProvider** lower)
{
    AcquireSRWLockExclusive(&lowersLock);
    int error = 0;
    *lower = nullptr;
    for (int i = 0; i < lowerCount && !*lower; ++i)
        if (lowers[i].chainId == chain->dwCatalogEntryId)
            *lower = &lowers[i];
    if (!*lower && lowerCount == maxLowers)
        error = WSAEPROCLIM;
    if (!*lower && error == 0) {
        LowerProvider started{};
        error = StartBelow(version, chain, upcalls, data, &started);
        if (error == 0) {
            lowers[lowerCount] = started;
            *lower = &lowers[lowerCount++];
        }
    }
    ReleaseSRWLockExclusive(&lowersLock);
    return error;
}

void StopLowerProviders()
{
    AcquireSRWLockExclusive(&lowersLock);
    for (int i = 0; i < lowerCount; ++i) {
        int error = 0;
        lowers[i].table.lpWSPCleanup(&error);
        FreeLibrary(lowers[i].module);
    }
    lowerCount = 0;
    ReleaseSRWLockExclusive(&lowersLock);
}

LowerProvider* LowerForEntry(const WSAPROTOCOL_INFOW* entry)
{
    LowerProvider* found = nullptr;
    AcquireSRWLockShared(&lowersLock);
    for (int i = 0; i < lowerCount && entry && !found; ++i)
        if (ServesEntry(lowers[i], entry))
            found = &lowers[i];
    ReleaseSRWLockShared(&lowersLock);
    return found;
}

LowerProvider* AnyLowerProvider()
{
    AcquireSRWLockShared(&lowersLock);
    LowerProvider* found = lowerCount > 0 ? &lowers[0] : nullptr;
    ReleaseSRWLockShared(&lowersLock);
    return found;
}

WSAPROTOCOL_INFOW LowerInfoFor(const LowerProvider* lower, const WSAPROTOCOL_INFOW* given)
{
    if (lower->below.ProtocolChain.ChainLen != BASE_PROTOCOL)
        return *given;
    WSAPROTOCOL_INFOW info = lower->below;
    info.dwServiceFlags3 = given->dwServiceFlags3;
    info.dwServiceFlags4 = given->dwServiceFlags4;
    info.dwProviderReserved = given->dwProviderReserved;
    return info;
}
