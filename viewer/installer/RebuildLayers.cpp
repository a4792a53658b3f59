#include "RebuildLayers.h"
#include "ChainEdit.h"
#include "Catalog.h"
#include <ws2spi.h>
#include <sporder.h>
#include <algorithm>

namespace {

const int LevelNotReached = MAX_PROTOCOL_CHAIN;   // no chain reaches a base within positions 1 to 6
const int GroupPathSize = MAX_PATH;

// One layered provider with its chains, as they must be put back.
struct RebuildGroup {
    WSAPROTOCOL_INFOW layered;
    WCHAR path[GroupPathSize];
    bool empty;                    // its path could not be read: left as it is
    WSAPROTOCOL_INFOW* chains;
    int chainCount;
    GUID* chainIds;                // distinct ProviderId values, in the order first met
    int chainIdCount;
    int longestChain;
    int level;
};

template <typename T> T* AllocArray(int count)
{
    return static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(T) * (count > 0 ? count : 1)));
}

void FreeArray(void* p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

bool FillGroup(RebuildGroup& group, const WSAPROTOCOL_INFOW* catalog, int count)
{
    DWORD layerId = group.layered.dwCatalogEntryId;
    group.chains = AllocArray<WSAPROTOCOL_INFOW>(count);
    group.chainIds = AllocArray<GUID>(count);
    group.level = LevelNotReached;
    if (!group.chains || !group.chainIds)
        return false;
    for (int i = 0; i < count; i++) {
        const WSAPROTOCOL_INFOW& entry = catalog[i];
        if (entry.ProtocolChain.ChainLen < 2 || !ChainContains(entry, layerId))
            continue;
        group.chains[group.chainCount++] = entry;
        group.longestChain = std::max(group.longestChain, entry.ProtocolChain.ChainLen);
        bool known = false;
        for (int g = 0; g < group.chainIdCount && !known; g++)
            known = IsEqualGUID(group.chainIds[g], entry.ProviderId);
        if (!known)
            group.chainIds[group.chainIdCount++] = entry.ProviderId;
        for (int j = 1; j < MAX_PROTOCOL_CHAIN && j < entry.ProtocolChain.ChainLen; j++)
            for (int b = 0; b < count; b++)
                if (catalog[b].ProtocolChain.ChainLen == BASE_PROTOCOL &&
                    catalog[b].dwCatalogEntryId == entry.ProtocolChain.ChainEntries[j])
                    group.level = std::min(group.level, j);
    }
    return true;
}

void ReplaceIdEverywhere(RebuildGroup* groups, int groupCount, IdList& order, DWORD oldId, DWORD newId)
{
    for (int g = 0; g < groupCount; g++)
        for (int c = 0; c < groups[g].chainCount; c++)
            ReplaceChainId(groups[g].chains[c], oldId, newId);
    for (int i = 0; i < order.count; i++)
        if (order.ids[i] == oldId)
            order.ids[i] = newId;
}

bool SameShape(const WSAPROTOCOL_INFOW& a, const WSAPROTOCOL_INFOW& b)
{
    return IsEqualGUID(a.ProviderId, b.ProviderId) && a.dwServiceFlags1 == b.dwServiceFlags1 &&
           a.dwServiceFlags2 == b.dwServiceFlags2 && a.dwServiceFlags3 == b.dwServiceFlags3 &&
           a.dwServiceFlags4 == b.dwServiceFlags4 && a.ProtocolChain.ChainLen == b.ProtocolChain.ChainLen &&
           a.iVersion == b.iVersion && a.iAddressFamily == b.iAddressFamily &&
           a.iMaxSockAddr == b.iMaxSockAddr && a.iMinSockAddr == b.iMinSockAddr &&
           a.iSocketType == b.iSocketType && a.iProtocol == b.iProtocol &&
           a.iProtocolMaxOffset == b.iProtocolMaxOffset && a.iNetworkByteOrder == b.iNetworkByteOrder &&
           a.iSecurityScheme == b.iSecurityScheme && a.dwMessageSize == b.dwMessageSize;
}

// Installs one group again and carries its new ids into every group and the saved order.
int ReinstallGroup(RebuildGroup& group, RebuildGroup* groups, int groupCount, IdList& order)
{
    int error = 0;
    if (WSCInstallProvider(&group.layered.ProviderId, group.path, &group.layered, 1, &error) != 0)
        return -1;
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return -1;
    for (int i = 0; i < count; i++)
        if (IsEqualGUID(catalog[i].ProviderId, group.layered.ProviderId)) {
            ReplaceIdEverywhere(groups, groupCount, order, group.layered.dwCatalogEntryId,
                                catalog[i].dwCatalogEntryId);
            group.layered.dwCatalogEntryId = catalog[i].dwCatalogEntryId;
            break;
        }
    FreeCatalog(catalog);

    auto* batch = AllocArray<WSAPROTOCOL_INFOW>(group.chainCount);
    if (!batch)
        return -1;
    for (int g = 0; g < group.chainIdCount; g++) {
        int n = 0;
        for (int c = 0; c < group.chainCount; c++)
            if (IsEqualGUID(group.chains[c].ProviderId, group.chainIds[g]))
                batch[n++] = group.chains[c];
        if (WSCInstallProvider(&group.chainIds[g], group.path, batch, n, &error) != 0) {
            FreeArray(batch);
            return -1;
        }
    }
    FreeArray(batch);

    catalog = EnumerateCatalog(&count);
    if (!catalog)
        return -1;
    for (int c = 0; c < group.chainCount; c++) {
        WSAPROTOCOL_INFOW& chain = group.chains[c];
        for (int i = 0; i < count; i++)
            if (SameShape(catalog[i], chain)) {
                chain.dwProviderReserved = catalog[i].dwCatalogEntryId;
                break;
            }
    }
    FreeCatalog(catalog);
    for (int c = 0; c < group.chainCount; c++) {
        WSAPROTOCOL_INFOW& chain = group.chains[c];
        DWORD newId = static_cast<DWORD>(chain.dwProviderReserved);
        if (newId)
            ReplaceIdEverywhere(groups, groupCount, order, chain.dwCatalogEntryId, newId);
    }
    return 0;
}

}  // namespace

bool AppendId(IdList& list, DWORD id)
{
    if (list.count == list.capacity) {
        int capacity = list.capacity ? list.capacity * 2 : 16;
        void* grown = list.ids ? HeapReAlloc(GetProcessHeap(), 0, list.ids, sizeof(DWORD) * capacity)
                               : HeapAlloc(GetProcessHeap(), 0, sizeof(DWORD) * capacity);
        if (!grown)
            return false;
        list.ids = static_cast<DWORD*>(grown);
        list.capacity = capacity;
    }
    list.ids[list.count++] = id;
    return true;
}

void FreeIdList(IdList& list)
{
    FreeArray(list.ids);
    list = {};
}

int RebuildStackedLayers(const IdList& removed)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return -1;
    IdList order = {};
    auto* groups = AllocArray<RebuildGroup>(count);
    int groupCount = 0;
    bool ok = groups != nullptr;
    for (int i = 0; i < count && ok; i++)
        ok = AppendId(order, catalog[i].dwCatalogEntryId);

    // A layer whose path cannot be read cannot be installed again: it and the layers after it
    // are left exactly as they are.
    bool pathsReadable = true;
    for (int i = 0; i < count && ok; i++) {
        if (catalog[i].ProtocolChain.ChainLen != LAYERED_PROTOCOL)
            continue;
        RebuildGroup& group = groups[groupCount++];
        group.layered = catalog[i];
        int length = GroupPathSize - 1;
        int error = 0;
        if (pathsReadable)
            pathsReadable = WSCGetProviderPath(&group.layered.ProviderId, group.path, &length, &error) == 0;
        group.empty = !pathsReadable;
        if (!group.empty)
            ok = FillGroup(group, catalog, count);
    }
    FreeCatalog(catalog);

    int result = ok ? 0 : -1;
    if (ok) {
        std::stable_sort(groups, groups + groupCount, [](const RebuildGroup& a, const RebuildGroup& b) {
            if (a.level != b.level)
                return a.level < b.level;
            return a.level < LevelNotReached && a.longestChain < b.longestChain;
        });
        for (int g = 0; g < groupCount; g++)
            for (int c = 0; c < groups[g].chainCount; c++)
                for (int r = 0; r < removed.count; r++)
                    RemoveChainId(groups[g].chains[c], removed.ids[r]);
        for (int g = 0; g < groupCount; g++) {
            if (groups[g].empty)
                continue;
            int error = 0;
            WSCDeinstallProvider(&groups[g].layered.ProviderId, &error);
            for (int i = 0; i < groups[g].chainIdCount; i++)
                WSCDeinstallProvider(&groups[g].chainIds[i], &error);
        }
        for (int g = 0; g < groupCount && result == 0; g++)
            if (!groups[g].empty)
                result = ReinstallGroup(groups[g], groups, groupCount, order);
        if (result == 0)
            WSCWriteProviderOrder(order.ids, order.count);
    }
    for (int g = 0; g < groupCount; g++) {
        FreeArray(groups[g].chains);
        FreeArray(groups[g].chainIds);
    }
    FreeArray(groups);
    FreeIdList(order);
    return result;
}
