// The 64-bit drop-in's calls on the catalog that 32-bit processes read, as 64-bit Windows' ws2_32
// has them: the *32 calls work on that catalog alone, the *64_32 calls on both at once. Built
// into the 64-bit drop-in only; the 32-bit one exports none of them, as on Windows.
#include "CatalogChanges.h"
#include "CatalogEdits.h"
#include "CatalogQueries.h"
#include <rpc.h>
#include <algorithm>
#include <string>

namespace {

bool SameProtocol(const WSAPROTOCOL_INFOW& a, const WSAPROTOCOL_INFOW& b)
{
    return a.iAddressFamily == b.iAddressFamily && a.iSocketType == b.iSocketType &&
           a.iProtocol == b.iProtocol;
}

void CopyName(WCHAR (&to)[WSAPROTOCOL_LEN + 1], const std::wstring& name)
{
    lstrcpynW(to, name.c_str(), WSAPROTOCOL_LEN + 1); // cut at 255 characters
}

// Sets or clears XP1_IFS_HANDLES as the installer asked; the entries' other flags are the base's.
void TakeHandleKind(WSAPROTOCOL_INFOW& entry, DWORD serviceFlags)
{
    entry.dwServiceFlags1 = (entry.dwServiceFlags1 & ~XP1_IFS_HANDLES) |
                            (serviceFlags & XP1_IFS_HANDLES);
}

// In one catalog: a hidden layered entry under layerId, then one chain under chainId over each
// base entry (in catalog order) whose family, type and protocol one of the given entries has,
// named "<name> over [<base name>]"; the chains go to the front of the order.
int InstallLayerAndChains(Catalog& catalog, const GUID& layerId, const GUID& chainId,
                          const WCHAR* path, const WCHAR* name, DWORD serviceFlags,
                          const WSAPROTOCOL_INFOW* protocols, DWORD count, DWORD* layeredId)
{
    if (HasProvider(catalog, layerId) || HasProvider(catalog, chainId))
        return WSAEINVAL;
    std::vector<WSAPROTOCOL_INFOW> bases;
    for (const CatalogEntry& entry : catalog.entries) {
        if (entry.info.ProtocolChain.ChainLen != BASE_PROTOCOL)
            continue;
        for (DWORD i = 0; i < count; ++i)
            if (SameProtocol(entry.info, protocols[i])) {
                bases.push_back(entry.info);
                break;
            }
    }
    if (bases.empty())
        return WSAEINVAL;

    WSAPROTOCOL_INFOW layered = bases[0];
    layered.ProtocolChain = {LAYERED_PROTOCOL, {}};
    layered.dwProviderFlags |= PFL_HIDDEN;
    TakeHandleKind(layered, serviceFlags);
    CopyName(layered.szProtocol, name);
    if (int error = InstallEntries(catalog, layerId, path, &layered, 1))
        return error;
    *layeredId = catalog.entries.back().info.dwCatalogEntryId;

    std::vector<WSAPROTOCOL_INFOW> chains;
    for (const WSAPROTOCOL_INFOW& base : bases) {
        WSAPROTOCOL_INFOW chain = base;
        chain.ProtocolChain = {2, {*layeredId, base.dwCatalogEntryId}};
        TakeHandleKind(chain, serviceFlags);
        CopyName(chain.szProtocol, std::wstring(name) + L" over [" + base.szProtocol + L"]");
        chains.push_back(chain);
    }
    if (int error = InstallEntries(catalog, chainId, path, chains.data(),
                                   static_cast<DWORD>(chains.size())))
        return error;
    std::stable_partition(catalog.entries.begin(), catalog.entries.end(),
                          [&](const CatalogEntry& entry) {
                              return IsEqualGUID(entry.info.ProviderId, chainId) != 0;
                          });
    return 0;
}

} // namespace

extern "C" {

int WSPAPI WSCEnumProtocols32(LPINT lpiProtocols, LPWSAPROTOCOL_INFOW lpProtocolBuffer,
                              LPDWORD lpdwBufferLength, LPINT lpErrno)
{
    return EnumerateCatalogIn(CatalogView::Wow32, lpiProtocols, lpProtocolBuffer,
                              lpdwBufferLength, lpErrno);
}

int WSPAPI WSCGetProviderPath32(LPGUID lpProviderId, WCHAR* lpszProviderDllPath,
                                LPINT lpProviderDllPathLen, LPINT lpErrno)
{
    return GetProviderPathIn(CatalogView::Wow32, lpProviderId, lpszProviderDllPath,
                             lpProviderDllPathLen, lpErrno);
}

int WSPAPI WSCDeinstallProvider32(LPGUID lpProviderId, LPINT lpErrno)
{
    return DeinstallProviderIn(CatalogView::Wow32, lpProviderId, lpErrno);
}

int WSPAPI WSCUpdateProvider32(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                               const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                               DWORD dwNumberOfEntries, LPINT lpErrno)
{
    return UpdateProviderIn(CatalogView::Wow32, lpProviderId, lpszProviderDllPath,
                            lpProtocolInfoList, dwNumberOfEntries, lpErrno);
}

int WSPAPI WSCWriteProviderOrder32(LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries)
{
    return WriteProviderOrderIn(CatalogView::Wow32, lpwdCatalogEntryId, dwNumberOfEntries);
}

// The same entries under the same path in both catalogs, each with ids of its own.
int WSPAPI WSCInstallProvider64_32(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                                   const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                                   DWORD dwNumberOfEntries, LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    return Finish(ChangeBothCatalogs([&](Catalog& own, Catalog& wow32) {
                      for (Catalog* catalog : {&own, &wow32})
                          if (int error = InstallEntries(*catalog, *lpProviderId,
                                                         lpszProviderDllPath, lpProtocolInfoList,
                                                         dwNumberOfEntries))
                              return error;
                      return 0;
                  }),
                  lpErrno);
}

// A layered provider and its chains in both catalogs, the 64-bit DLL in the native one and the
// 32-bit DLL in the other. The chains of one call share one new GUID in both catalogs, apart from
// the layered entry's, so that the layer's own entry is the only one under its GUID.
// The list holds WSAPROTOCOL_INFOW records, as on Windows; mingw-w64's header declares the
// parameter with the ANSI-or-wide name, which is the ANSI record in a build without UNICODE.
int WSPAPI WSCInstallProviderAndChains64_32(const LPGUID lpProviderId,
                                            const LPWSTR lpszProviderDllPath,
                                            const LPWSTR lpszProviderDllPath32,
                                            const LPWSTR lpszLspName, DWORD dwServiceFlags,
                                            const LPWSAPROTOCOL_INFO lpProtocolList,
                                            DWORD dwNumberOfEntries, LPDWORD lpdwCatalogEntryId,
                                            LPINT lpErrno)
{
    auto* lpProtocolInfoList = reinterpret_cast<const WSAPROTOCOL_INFOW*>(lpProtocolList);
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    if (!lpszProviderDllPath32 || !lpszLspName)
        return Finish(WSAEFAULT, lpErrno);
    if (!PathAcceptable(lpszProviderDllPath32))
        return Finish(WSAEINVAL, lpErrno);
    GUID chainId;
    if (UuidCreate(&chainId) != RPC_S_OK)
        return Finish(WSASYSCALLFAILURE, lpErrno);
    DWORD layeredId = 0;
    DWORD layeredId32 = 0;
    int error = ChangeBothCatalogs([&](Catalog& own, Catalog& wow32) {
        if (int refused = InstallLayerAndChains(own, *lpProviderId, chainId, lpszProviderDllPath,
                                                lpszLspName, dwServiceFlags, lpProtocolInfoList,
                                                dwNumberOfEntries, &layeredId))
            return refused;
        return InstallLayerAndChains(wow32, *lpProviderId, chainId, lpszProviderDllPath32,
                                     lpszLspName, dwServiceFlags, lpProtocolInfoList,
                                     dwNumberOfEntries, &layeredId32);
    });
    if (error == 0 && lpdwCatalogEntryId)
        *lpdwCatalogEntryId = layeredId;
    return Finish(error, lpErrno);
}

} // extern "C"
