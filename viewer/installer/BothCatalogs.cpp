// The 64-bit viewer's installation in both catalogs of 64-bit Windows: the 64-bit layer in the
// native catalog and the 32-bit one in the catalog of 32-bit processes, each with its chains
// first in its catalog's order, through the catalog calls made for this.
#include "BothCatalogs.h"
#include "CatalogCalls.h"
#include "LayerProviderId.h"
#include <sporder.h>
#include <cstring>
#include <vector>

namespace {

CatalogCalls OwnCatalog()
{
    return {WSCEnumProtocols, WSCDeinstallProvider, WSCGetProviderPath, WSCWriteProviderOrder,
            WSCUpdateProvider};
}

CatalogCalls Wow32Catalog()
{
    return {WSCEnumProtocols32, WSCDeinstallProvider32, WSCGetProviderPath32,
            WSCWriteProviderOrder32, WSCUpdateProvider32};
}

// Takes out what a killed viewer left in one catalog. False when the layer is there from a
// viewer still running or from someone else, or the catalog cannot be read.
bool ClearLeftovers(const CatalogCalls& calls)
{
    DWORD layerId = 0;
    DWORD installedBy = 0;
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return false; // unreadable is a failure, not an absent layer
    FreeCatalog(catalog);
    if (!FindLayerEntry(calls, &layerId, &installedBy))
        return true;
    return LeftByEndedViewer(installedBy) && RemoveLayerFrom(calls) == 0;
}

// Every base entry of one catalog, appended to bases.
bool AddBaseEntries(const CatalogCalls& calls, std::vector<WSAPROTOCOL_INFOW>& bases)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return false;
    for (int i = 0; i < count; i++)
        if (catalog[i].ProtocolChain.ChainLen == BASE_PROTOCOL)
            bases.push_back(catalog[i]);
    FreeCatalog(catalog);
    return true;
}

// Names this viewer in the layer's own entry, so that the next one can tell what a killed viewer
// left behind, as an installation in one catalog does.
bool MarkInstaller(const CatalogCalls& calls, WCHAR* path)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return false;
    bool ok = false;
    for (int i = 0; i < count; i++)
        if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId)) {
            WSAPROTOCOL_INFOW layered = catalog[i];
            layered.dwProviderReserved = GetCurrentProcessId();
            GUID id = LayerProviderId;
            int error = 0;
            ok = calls.updateProvider(&id, path, &layered, 1, &error) == 0;
            break;
        }
    FreeCatalog(catalog);
    return ok;
}

bool Widen(const char* text, WCHAR* wide, int capacity)
{
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, capacity) != 0;
}

int InstallSteps(const char* dllPath, const char* dllPath32, const char* providerName)
{
    WCHAR path[MaxLayerPathLength + 1];
    WCHAR path32[MaxLayerPathLength + 1];
    WCHAR name[MaxLayerNameLength + 1];
    if (!Widen(dllPath, path, MaxLayerPathLength + 1) ||
        !Widen(dllPath32, path32, MaxLayerPathLength + 1) ||
        !Widen(providerName, name, MaxLayerNameLength + 1))
        return -1;
    const CatalogCalls catalogs[] = {OwnCatalog(), Wow32Catalog()};
    std::vector<WSAPROTOCOL_INFOW> bases;
    for (const CatalogCalls& calls : catalogs)
        if (!ClearLeftovers(calls) || !AddBaseEntries(calls, bases))
            return -1;
    if (bases.empty())
        return -1;
    GUID id = LayerProviderId;
    int error = 0;
    if (WSCInstallProviderAndChains64_32(&id, path, path32, name, 0,
                                         reinterpret_cast<LPWSAPROTOCOL_INFO>(bases.data()),
                                         DWORD(bases.size()), nullptr, &error) != 0)
        return -1;
    // What was made is taken out again when a later step fails, so that the next Start does not
    // find a half-installed layer it must refuse.
    WCHAR* paths[] = {path, path32};
    for (int i = 0; i < 2; i++)
        if (!MarkInstaller(catalogs[i], paths[i]) || !MoveChainsToFront(catalogs[i])) {
            for (const CatalogCalls& calls : catalogs)
                RemoveLayerFrom(calls);
            return -1;
        }
    return 0;
}

}  // namespace

int InstallLayerInBothCatalogs(const char* dllPath, const char* dllPath32, const char* providerName)
{
    if (!dllPath || !dllPath32 || !providerName || strlen(dllPath) > MaxLayerPathLength ||
        strlen(dllPath32) > MaxLayerPathLength || strlen(providerName) > MaxLayerNameLength)
        return -1;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    int result = InstallSteps(dllPath, dllPath32, providerName);
    WSACleanup();
    return result;
}

int RemoveLayerFromBothCatalogs()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    int own = RemoveLayerFrom(OwnCatalog());
    int wow32 = RemoveLayerFrom(Wow32Catalog());
    WSACleanup();
    return own == 0 || wow32 == 0 ? 0 : -1;
}

int ClearWow32Leftovers()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    int result = ClearLeftovers(Wow32Catalog()) ? 0 : -1;
    WSACleanup();
    return result;
}
