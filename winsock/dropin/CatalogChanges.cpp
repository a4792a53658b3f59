// Changes to a catalog: installing, updating and removing providers, and the catalog order. The
// plain calls change the process's own catalog; the 64-bit drop-in's *32 calls (Wow32Catalog.cpp)
// change the one 32-bit processes read through the same functions.
#include "CatalogChanges.h"
#include "CatalogEdits.h"

int DeinstallProviderIn(CatalogView view, LPGUID lpProviderId, LPINT lpErrno)
{
    if (!lpProviderId || !lpErrno)
        return Finish(WSAEFAULT, lpErrno);
    return Finish(ChangeCatalog([&](Catalog& catalog) {
                      return DeinstallEntries(catalog, *lpProviderId);
                  }, view),
                  lpErrno);
}

int UpdateProviderIn(CatalogView view, LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                     const WSAPROTOCOL_INFOW* lpProtocolInfoList, DWORD dwNumberOfEntries,
                     LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    return Finish(ChangeCatalog([&](Catalog& catalog) {
                      return UpdateEntries(catalog, *lpProviderId, lpszProviderDllPath,
                                           lpProtocolInfoList, dwNumberOfEntries);
                  }, view),
                  lpErrno);
}

// Answers the error itself, not SOCKET_ERROR, as Windows' does.
int WriteProviderOrderIn(CatalogView view, LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries)
{
    if (!lpwdCatalogEntryId)
        return WSAEFAULT;
    return ChangeCatalog([&](Catalog& catalog) {
        return WriteOrder(catalog, lpwdCatalogEntryId, dwNumberOfEntries);
    }, view);
}

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
    return DeinstallProviderIn(CatalogView::Own, lpProviderId, lpErrno);
}

int WSPAPI WSCUpdateProvider(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                             const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                             DWORD dwNumberOfEntries, LPINT lpErrno)
{
    return UpdateProviderIn(CatalogView::Own, lpProviderId, lpszProviderDllPath,
                            lpProtocolInfoList, dwNumberOfEntries, lpErrno);
}

int WSPAPI WSCWriteProviderOrder(LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries)
{
    return WriteProviderOrderIn(CatalogView::Own, lpwdCatalogEntryId, dwNumberOfEntries);
}

} // extern "C"
