#include "Installer.h"
#include "CatalogCalls.h"
#include "ChainEdit.h"
#include "LayerProviderId.h"
#include <rpc.h>
#include <sporder.h>
#include <cstdio>
#include <cwchar>

InstallWrites installWrites = {WSCInstallProvider, WSCWriteProviderOrder};

namespace {

const char ChainNameFormat[] = "%s over [%s]";
const int ProtocolNameSize = WSAPROTOCOL_LEN + 1;   // 256 characters with the NUL

struct BaseList {
    DWORD ids[MaxBaseProviders];
    int count;
};

// Collects the base providers; fails when the layer is there already (its entry's installer in
// *installedBy, 0 when the entry does not say) or there are too many.
bool CollectBaseProviders(BaseList& bases, DWORD* installedBy)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return false;
    bool ok = true;
    bases.count = 0;
    *installedBy = 0;
    for (int i = 0; i < count && ok; i++) {
        if (catalog[i].ProtocolChain.ChainLen == BASE_PROTOCOL) {
            if (bases.count == MaxBaseProviders)
                ok = false;
            else
                bases.ids[bases.count++] = catalog[i].dwCatalogEntryId;
        } else if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId)) {
            *installedBy = static_cast<DWORD>(catalog[i].dwProviderReserved);
            ok = false;
        }
    }
    FreeCatalog(catalog);
    return ok && bases.count > 0;
}

bool InBaseList(const BaseList& bases, DWORD id)
{
    for (int i = 0; i < bases.count; i++)
        if (bases.ids[i] == id)
            return true;
    return false;
}

bool InstallLayeredEntry(const BaseList& bases, WCHAR* path, const WCHAR* name)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return false;
    bool ok = false;
    for (int i = 0; i < count; i++) {
        if (catalog[i].dwCatalogEntryId != bases.ids[0])
            continue;
        WSAPROTOCOL_INFOW layered = catalog[i];
        layered.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
        layered.dwProviderFlags |= PFL_HIDDEN;
        layered.ProtocolChain.ChainLen = LAYERED_PROTOCOL;
        // Names the viewer that installed it, so that the next one can tell what a killed
        // viewer left behind from an installation of someone else's.
        layered.dwProviderReserved = GetCurrentProcessId();
        wcsncpy(layered.szProtocol, name, WSAPROTOCOL_LEN);
        layered.szProtocol[WSAPROTOCOL_LEN] = 0;
        GUID id = LayerProviderId;
        int error = 0;
        ok = installWrites.installProvider(&id, path, &layered, 1, &error) == 0;
        break;
    }
    FreeCatalog(catalog);
    return ok;
}

bool InstallChains(const BaseList& bases, WCHAR* path, const char* name)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalog(&count);
    if (!catalog)
        return false;
    DWORD layerId = 0;
    bool found = false;
    for (int i = 0; i < count && !found; i++)
        if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId)) {
            layerId = catalog[i].dwCatalogEntryId;
            found = true;
        }
    auto* chains = static_cast<WSAPROTOCOL_INFOW*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WSAPROTOCOL_INFOW) * bases.count));
    int made = 0;
    for (int i = 0; found && chains && i < count; i++) {
        const WSAPROTOCOL_INFOW& base = catalog[i];
        if (!InBaseList(bases, base.dwCatalogEntryId) || made == bases.count)
            continue;
        WSAPROTOCOL_INFOW& chain = chains[made++];
        chain = base;
        char baseName[ProtocolNameSize * 2];
        WideCharToMultiByte(CP_ACP, 0, base.szProtocol, -1, baseName, sizeof baseName, nullptr, nullptr);
        baseName[sizeof baseName - 1] = 0;
        char chainName[ProtocolNameSize];
        snprintf(chainName, sizeof chainName, ChainNameFormat, name, baseName);   // cut at 255
        MultiByteToWideChar(CP_ACP, 0, chainName, -1, chain.szProtocol, ProtocolNameSize);
        chain.szProtocol[WSAPROTOCOL_LEN] = 0;
        chain.ProtocolChain.ChainLen = 2;
        chain.ProtocolChain.ChainEntries[0] = layerId;
        chain.ProtocolChain.ChainEntries[1] = base.dwCatalogEntryId;
        chain.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
    }
    FreeCatalog(catalog);
    bool ok = found && chains && made > 0;
    GUID chainId;
    if (ok)
        ok = UuidCreate(&chainId) == RPC_S_OK;
    if (ok) {
        int error = 0;
        ok = installWrites.installProvider(&chainId, path, chains, made, &error) == 0;
    }
    if (chains)
        HeapFree(GetProcessHeap(), 0, chains);
    return ok;
}

int InstallSteps(const char* dllPath, const char* providerName)
{
    // Refused before the catalog is touched: the names must fit the catalog's fixed buffers.
    if (!dllPath || !providerName || strlen(dllPath) > MaxLayerPathLength ||
        strlen(providerName) > MaxLayerNameLength)
        return -1;
    BaseList bases;
    DWORD installedBy = 0;
    if (!CollectBaseProviders(bases, &installedBy)) {
        if (!LeftByEndedViewer(installedBy) || RemoveLayer() != 0 ||
            !CollectBaseProviders(bases, &installedBy))
            return -1;
    }
    WCHAR path[MaxLayerPathLength + 1];
    WCHAR name[MaxLayerNameLength + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, dllPath, -1, path, MaxLayerPathLength + 1) ||
        !MultiByteToWideChar(CP_ACP, 0, providerName, -1, name, MaxLayerNameLength + 1))
        return -1;
    if (!InstallLayeredEntry(bases, path, name))
        return -1;
    // What this installation made is taken out again when a later step fails, so that the
    // next Start does not find a half-installed layer it must refuse.
    CatalogCalls own = {WSCEnumProtocols, WSCDeinstallProvider, WSCGetProviderPath,
                        installWrites.writeProviderOrder, nullptr};
    if (!InstallChains(bases, path, providerName) || !MoveChainsToFront(own)) {
        RemoveLayer();
        return -1;
    }
    return 0;
}

}  // namespace

bool LeftByEndedViewer(DWORD installedBy)
{
    if (installedBy == 0 || installedBy == GetCurrentProcessId())
        return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, installedBy);
    if (!process)
        return GetLastError() != ERROR_ACCESS_DENIED;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

bool MoveChainsToFront(const CatalogCalls& calls)
{
    int count = 0;
    WSAPROTOCOL_INFOW* catalog = EnumerateCatalogWith(calls.enumProtocols, &count);
    if (!catalog)
        return true;
    auto* order = static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), 0, sizeof(DWORD) * (count + 1)));
    bool ok = true;
    if (order) {
        DWORD layerId = 0;
        for (int i = 0; i < count; i++)
            if (IsEqualGUID(catalog[i].ProviderId, LayerProviderId))
                layerId = catalog[i].dwCatalogEntryId;
        int n = 0;
        for (int i = 0; i < count; i++)
            if (ChainContains(catalog[i], layerId))
                order[n++] = catalog[i].dwCatalogEntryId;
        for (int i = 0; i < count; i++)
            if (!ChainContains(catalog[i], layerId))
                order[n++] = catalog[i].dwCatalogEntryId;
        ok = calls.writeProviderOrder(order, n) == 0;
        HeapFree(GetProcessHeap(), 0, order);
    }
    FreeCatalog(catalog);
    return ok;
}

int InstallLayer(const char* dllPath, const char* providerName)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    int result = InstallSteps(dllPath, providerName);
    WSACleanup();
    return result;
}
