// Changes to the process's own catalog: installing, updating and removing providers, and the
// catalog order. The 64-bit drop-in's calls on the 32-bit catalog are in Wow32Catalog.cpp.
#include "CatalogEdits.h"

extern "C" {

int WSPAPI WSCInstallProvider(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                              const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                              DWORD dwNumberOfEntries, LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    return Finish(ChangeCatalog([&](Catalog& catalog) {
                      return InstallEntries(catalog, *lpProviderId, lpszProviderDllPath,
                                            lpProtocolInfoList, dwNumberOfEntries);
                  }),
                  lpErrno);
}

int WSPAPI WSCDeinstallProvider(LPGUID lpProviderId, LPINT lpErrno)
{
    if (!lpProviderId || !lpErrno)
        return Finish(WSAEFAULT, lpErrno);
    return Finish(ChangeCatalog([&](Catalog& catalog) {
                      return DeinstallEntries(catalog, *lpProviderId);
                  }),
                  lpErrno);
}

int WSPAPI WSCUpdateProvider(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                             const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                             DWORD dwNumberOfEntries, LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    return Finish(ChangeCatalog([&](Catalog& catalog) {
                      return UpdateEntries(catalog, *lpProviderId, lpszProviderDllPath,
                                           lpProtocolInfoList, dwNumberOfEntries);
                  }),
                  lpErrno);
}

// Answers the error itself, not SOCKET_ERROR, as Windows' does.
int WSPAPI WSCWriteProviderOrder(LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries)
{
    if (!lpwdCatalogEntryId)
        return WSAEFAULT;
    return ChangeCatalog([&](Catalog& catalog) {
        return WriteOrder(catalog, lpwdCatalogEntryId, dwNumberOfEntries);
    });
}

} // extern "C"
