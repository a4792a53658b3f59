#include "Installer.h"
#include "ChainEdit.h"
#include "Catalog.h"
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

void TakeIdsOutWithUpdate(UpdateProviderFunction updateProvider, const IdList& removed)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
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
            if (WSCGetProviderPath(&entry.ProviderId, path, &length, &error) != 0)
                continue;
            updateProvider(&entry.ProviderId, path, &entry, 1, &error);
            break;
        }
    }
    FreeCatalog(catalog);
}

}  // namespace

int RemoveLayerEntries(DWORD layerId, UpdateProviderFunction updateProvider, CatalogWidth width)
{
    if (width == CatalogWidth::Catalog64) {
        fputs(Refuse64BitMessage, stderr);
        return -1;
    }
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
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
        WSCDeinstallProvider(&id, &error);   // chains of one installation share a GUID
    }
    FreeCatalog(catalog);

    catalog = EnumerateCatalog(&count);
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
    if (updateProvider)
        TakeIdsOutWithUpdate(updateProvider, removed);
    else if (stacked)
        result = RebuildStackedLayers(removed);
    FreeIdList(removed);
    return result;
}

int RemoveLayer()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    HMODULE winsock = LoadLibraryA("ws2_32.dll");
    if (!winsock) {
        WSACleanup();
        return -1;
    }
    auto updateProvider = reinterpret_cast<UpdateProviderFunction>(
        reinterpret_cast<void*>(GetProcAddress(winsock, "WSCUpdateProvider")));

    int result = -1;
    int count = 0;
    if (WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count)) {
        bool found = false;
        DWORD layerId = 0;
        for (int i = 0; i < count && !found; i++)
            if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId)) {
                layerId = catalog[i].dwCatalogEntryId;
                found = true;
            }
        FreeCatalog(catalog);
        if (found)
            result = RemoveLayerEntries(layerId, updateProvider) == 0 ? 0 : -1;
    }
    FreeLibrary(winsock);
    WSACleanup();
    return result;
}
