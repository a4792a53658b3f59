// Changes to the catalog: installing, updating and removing providers, and the catalog order.
// Each change is checked in full before anything is written, so a refused call changes nothing.
#include "CatalogStore.h"
#include <cwchar>

namespace {

CatalogEntry* FindById(Catalog& catalog, DWORD catalogId)
{
    for (CatalogEntry& entry : catalog.entries)
        if (entry.info.dwCatalogEntryId == catalogId)
            return &entry;
    return nullptr;
}

bool HasProvider(const Catalog& catalog, const GUID& providerId)
{
    for (const CatalogEntry& entry : catalog.entries)
        if (IsEqualGUID(entry.info.ProviderId, providerId))
            return true;
    return false;
}

bool PathAcceptable(const WCHAR* path)
{
    size_t length = wcsnlen(path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// A chain may only name entries that exist; a base or layered entry names nothing yet.
bool EntryAcceptable(Catalog& catalog, const WSAPROTOCOL_INFOW& info)
{
    int chainLength = info.ProtocolChain.ChainLen;
    if (chainLength < 0 || chainLength > MAX_PROTOCOL_CHAIN)
        return false;
    if (!wmemchr(info.szProtocol, L'\0', WSAPROTOCOL_LEN + 1))
        return false;
    if (chainLength > BASE_PROTOCOL)
        for (int i = 0; i < chainLength; ++i)
            if (!FindById(catalog, info.ProtocolChain.ChainEntries[i]))
                return false;
    return true;
}

// Stores info under catalogId for providerId; a base entry's chain is the entry itself.
void FillEntry(CatalogEntry& entry, const WSAPROTOCOL_INFOW& info, const GUID& providerId,
               DWORD catalogId, const WCHAR* path)
{
    entry.info = info;
    entry.info.ProviderId = providerId;
    entry.info.dwCatalogEntryId = catalogId;
    if (info.ProtocolChain.ChainLen == BASE_PROTOCOL)
        entry.info.ProtocolChain.ChainEntries[0] = catalogId;
    lstrcpynW(entry.path, path, MAX_PATH);
}

int Finish(int error, LPINT lpErrno)
{
    if (error == 0)
        return 0;
    if (lpErrno)
        *lpErrno = error;
    return SOCKET_ERROR;
}

// The argument checks that installing and updating a provider share.
int ProviderArgumentsError(const GUID* id, const WCHAR* path, const WSAPROTOCOL_INFOW* entries,
                           DWORD count, const int* errorCell)
{
    if (!id || !path || !entries || !errorCell)
        return WSAEFAULT;
    if (count == 0 || !PathAcceptable(path))
        return WSAEINVAL;
    return 0;
}

} // namespace

extern "C" {

int WSPAPI WSCInstallProvider(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                              const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                              DWORD dwNumberOfEntries, LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    int error = ChangeCatalog([&](Catalog& catalog) {
        // One installation per GUID: a second one would make the GUID ambiguous for removal.
        if (HasProvider(catalog, *lpProviderId))
            return WSAEINVAL;
        for (DWORD i = 0; i < dwNumberOfEntries; ++i)
            if (!EntryAcceptable(catalog, lpProtocolInfoList[i]))
                return WSAEINVAL;
        for (DWORD i = 0; i < dwNumberOfEntries; ++i) {
            CatalogEntry entry{};
            FillEntry(entry, lpProtocolInfoList[i], *lpProviderId, catalog.nextCatalogId++,
                      lpszProviderDllPath);
            catalog.entries.push_back(entry);
        }
        return 0;
    });
    return Finish(error, lpErrno);
}

int WSPAPI WSCDeinstallProvider(LPGUID lpProviderId, LPINT lpErrno)
{
    if (!lpProviderId || !lpErrno)
        return Finish(WSAEFAULT, lpErrno);
    int error = ChangeCatalog([&](Catalog& catalog) {
        if (!HasProvider(catalog, *lpProviderId))
            return WSAEINVAL;
        std::erase_if(catalog.entries, [&](const CatalogEntry& entry) {
            return IsEqualGUID(entry.info.ProviderId, *lpProviderId) != 0;
        });
        return 0;
    });
    return Finish(error, lpErrno);
}

// Replaces the given entries of one provider in place (matched by catalog id) and sets the
// provider's path; ids and order stay as they are.
int WSPAPI WSCUpdateProvider(LPGUID lpProviderId, const WCHAR* lpszProviderDllPath,
                             const LPWSAPROTOCOL_INFOW lpProtocolInfoList,
                             DWORD dwNumberOfEntries, LPINT lpErrno)
{
    if (int refused = ProviderArgumentsError(lpProviderId, lpszProviderDllPath, lpProtocolInfoList,
                                             dwNumberOfEntries, lpErrno))
        return Finish(refused, lpErrno);
    int error = ChangeCatalog([&](Catalog& catalog) {
        for (DWORD i = 0; i < dwNumberOfEntries; ++i) {
            const WSAPROTOCOL_INFOW& info = lpProtocolInfoList[i];
            CatalogEntry* entry = FindById(catalog, info.dwCatalogEntryId);
            if (!entry || !IsEqualGUID(entry->info.ProviderId, *lpProviderId) ||
                !EntryAcceptable(catalog, info))
                return WSAEINVAL;
        }
        for (DWORD i = 0; i < dwNumberOfEntries; ++i) {
            const WSAPROTOCOL_INFOW& info = lpProtocolInfoList[i];
            FillEntry(*FindById(catalog, info.dwCatalogEntryId), info, *lpProviderId,
                      info.dwCatalogEntryId, lpszProviderDllPath);
        }
        for (CatalogEntry& entry : catalog.entries)
            if (IsEqualGUID(entry.info.ProviderId, *lpProviderId))
                lstrcpynW(entry.path, lpszProviderDllPath, MAX_PATH);
        return 0;
    });
    return Finish(error, lpErrno);
}

// The new order must name every entry exactly once.
int WSPAPI WSCWriteProviderOrder(LPDWORD lpwdCatalogEntryId, DWORD dwNumberOfEntries)
{
    if (!lpwdCatalogEntryId)
        return WSAEFAULT;
    return ChangeCatalog([&](Catalog& catalog) {
        if (dwNumberOfEntries != catalog.entries.size())
            return WSAEINVAL;
        std::vector<CatalogEntry> ordered;
        for (DWORD i = 0; i < dwNumberOfEntries; ++i) {
            CatalogEntry* entry = FindById(catalog, lpwdCatalogEntryId[i]);
            if (!entry || entry->info.dwCatalogEntryId == 0)
                return WSAEINVAL;
            ordered.push_back(*entry);
            entry->info.dwCatalogEntryId = 0; // taken: a repeated id finds nothing
        }
        catalog.entries = std::move(ordered);
        return 0;
    });
}

} // extern "C"
