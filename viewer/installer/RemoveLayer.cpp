#include "Installer.h"
#include "CatalogCalls.h"
#include "ChainEdit.h"
#include "LayerProviderId.h"
#include "RebuildLayers.h"
#include <cstdio>

namespace {

const char Refuse64BitMessage[] = "Unable to remove providers in 64-bit catalog from 32-bit process!\n";
const int UpdatePathSize = 127;

bool IsBaseProvider(const WSAPROTOCOL_INFOW* catalog, int count, DWORD id)
{
    for (int i = 0; i < count; i++)
        if (catalog[i].dwCatalogEntryId == id && catalog[i].ProtocolChain.ChainLen == BASE_PROTOCOL)
            return true;
    return false;
}

void TakeIdsOutWithUpdate(const CatalogCalls& calls, const IdList& removed)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return;
    for (int i = 0; i < count; i++) {
        WSAPROTOCOL_INFOW& entry = catalog[i];
        for (int r = 0; r < removed.count; r++) {
            if (!ChainContains(entry, removed.ids[r]))
                continue;
            RemoveChainId(entry, removed.ids[r]);
            WCHAR path[UpdatePathSize];
            int length = UpdatePathSize;
            int error = 0;
            if (calls.getProviderPath(&entry.ProviderId, path, &length, &error) != 0)
                continue;
            calls.updateProvider(&entry.ProviderId, path, &entry, 1, &error);
            break;
        }
    }
    FreeCatalog(catalog);
}

// The process's own catalog, with WSCUpdateProvider where the Winsock library has it.
CatalogCalls OwnCatalog(HMODULE winsock)
{
    auto updateProvider = reinterpret_cast<UpdateProviderFunction>(
        reinterpret_cast<void*>(GetProcAddress(winsock, "WSCUpdateProvider")));
    return {WSCEnumProtocols, WSCDeinstallProvider, WSCGetProviderPath,
            installWrites.writeProviderOrder, updateProvider};
}

}  // namespace

int RemoveLayerEntries(DWORD layerId, UpdateProviderFunction updateProvider, CatalogWidth width)
{
    if (width == CatalogWidth::Catalog64) {
        fputs(Refuse64BitMessage, stderr);
        return -1;
    }
    return RemoveLayerEntriesFrom({WSCEnumProtocols, WSCDeinstallProvider, WSCGetProviderPath,
                                   installWrites.writeProviderOrder, updateProvider},
                                  layerId);
}

int RemoveLayerEntriesFrom(const CatalogCalls& calls, DWORD layerId)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return -1;
    if (IsBaseProvider(catalog, count, layerId)) {
        FreeCatalog(catalog);
        return -1;
    }
    IdList removed = {};
    for (int i = 0; i < count; i++) {
        const WSAPROTOCOL_INFOW& entry = catalog[i];
        bool ours = entry.dwCatalogEntryId == layerId ||
                    (entry.ProtocolChain.ChainLen > 0 && entry.ProtocolChain.ChainEntries[0] == layerId);
        if (!ours)
            continue;
        AppendId(removed, entry.dwCatalogEntryId);
        GUID id = entry.ProviderId;
        int error = 0;
        calls.deinstallProvider(&id, &error);   // chains of one installation share a GUID
    }
    FreeCatalog(catalog);

    catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog) {
        FreeIdList(removed);
        return -1;
    }
    bool stacked = false;
    for (int i = 0; i < count && !stacked; i++)
        for (int r = 0; r < removed.count && !stacked; r++)
            stacked = ChainContains(catalog[i], removed.ids[r]);
    FreeCatalog(catalog);

    int result = 0;
    if (calls.updateProvider)
        TakeIdsOutWithUpdate(calls, removed);
    else if (stacked)
        result = RebuildStackedLayers(removed);
    FreeIdList(removed);
    return result;
}

bool FindLayerEntry(const CatalogCalls& calls, DWORD* layerId, DWORD* installedBy)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return false;
    bool found = false;
    for (int i = 0; i < count && !found; i++)
        if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId)) {
            *layerId = catalog[i].dwCatalogEntryId;
            *installedBy = static_cast<DWORD>(catalog[i].dwProviderReserved);
            found = true;
        }
    FreeCatalog(catalog);
    return found;
}

int RemoveLayerFrom(const CatalogCalls& calls)
{
    DWORD layerId = 0;
    DWORD installedBy = 0;
    if (!FindLayerEntry(calls, &layerId, &installedBy))
        return -1;
    return RemoveLayerEntriesFrom(calls, layerId) == 0 ? 0 : -1;
}

int RemoveLayer()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    HMODULE winsock = LoadLibraryA("ws2_32.dll");
    int result = winsock ? RemoveLayerFrom(OwnCatalog(winsock)) : -1;
    if (winsock)
        FreeLibrary(winsock);
    WSACleanup();
    return result;
}
