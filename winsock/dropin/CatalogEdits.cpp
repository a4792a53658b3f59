#include "CatalogEdits.h"
#include <cwchar>

namespace {

CatalogEntry* FindById(Catalog& catalog, DWORD catalogId)
{
    for (CatalogEntry& entry : catalog.entries)
        if (entry.info.dwCatalogEntryId == catalogId)
            return &entry;
    return nullptr;
}

// A chain may only name entries that exist; a base or layered entry names nothing yet.
bool EntryAcceptable(const Catalog& catalog, const WSAPROTOCOL_INFOW& info)
{
    int chainLength = info.ProtocolChain.ChainLen;
    if (chainLength < 0 || chainLength > MAX_PROTOCOL_CHAIN)
        return false;
    if (!wmemchr(info.szProtocol, L'\0', WSAPROTOCOL_LEN + 1))
        return false;
    if (chainLength > BASE_PROTOCOL)
        for (int i = 0; i < chainLength; ++i)
            if (!FindEntry(catalog, info.ProtocolChain.ChainEntries[i]))
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

} // namespace

const CatalogEntry* FindEntry(const Catalog& catalog, DWORD catalogId)
{
    return FindById(const_cast<Catalog&>(catalog), catalogId);
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

int Finish(int error, LPINT lpErrno)
{
    if (error == 0)
        return 0;
    if (lpErrno)
        *lpErrno = error;
    return SOCKET_ERROR;
}

int ProviderArgumentsError(const GUID* id, const WCHAR* path, const WSAPROTOCOL_INFOW* entries,
                           DWORD count, const int* errorCell)
{
    if (!id || !path || !entries || !errorCell)
        return WSAEFAULT;
    if (count == 0 || !PathAcceptable(path))
        return WSAEINVAL;
    return 0;
}

int InstallEntries(Catalog& catalog, const GUID& providerId, const WCHAR* path,
                   const WSAPROTOCOL_INFOW* entries, DWORD count)
{
    // One installation per GUID: a second one would make the GUID ambiguous for removal.
    if (HasProvider(catalog, providerId))
        return WSAEINVAL;
    for (DWORD i = 0; i < count; ++i)
        if (!EntryAcceptable(catalog, entries[i]))
            return WSAEINVAL;
    for (DWORD i = 0; i < count; ++i) {
        CatalogEntry entry{};
        FillEntry(entry, entries[i], providerId, catalog.nextCatalogId++, path);
        catalog.entries.push_back(entry);
    }
    return 0;
}

int DeinstallEntries(Catalog& catalog, const GUID& providerId)
{
    if (!HasProvider(catalog, providerId))
        return WSAEINVAL;
    std::erase_if(catalog.entries, [&](const CatalogEntry& entry) {
        return IsEqualGUID(entry.info.ProviderId, providerId) != 0;
    });
    return 0;
}

int UpdateEntries(Catalog& catalog, const GUID& providerId, const WCHAR* path,
                  const WSAPROTOCOL_INFOW* entries, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        const WSAPROTOCOL_INFOW& info = entries[i];
        CatalogEntry* entry = FindById(catalog, info.dwCatalogEntryId);
        if (!entry || !IsEqualGUID(entry->info.ProviderId, providerId) ||
            !EntryAcceptable(catalog, info))
            return WSAEINVAL;
    }
    for (DWORD i = 0; i < count; ++i) {
        const WSAPROTOCOL_INFOW& info = entries[i];
        FillEntry(*FindById(catalog, info.dwCatalogEntryId), info, providerId,
                  info.dwCatalogEntryId, path);
    }
    for (CatalogEntry& entry : catalog.entries)
        if (IsEqualGUID(entry.info.ProviderId, providerId))
            lstrcpynW(entry.path, path, MAX_PATH);
    return 0;
}

int WriteOrder(Catalog& catalog, const DWORD* ids, DWORD count)
{
    if (count != catalog.entries.size())
        return WSAEINVAL;
    std::vector<CatalogEntry> ordered;
    for (DWORD i = 0; i < count; ++i) {
        CatalogEntry* entry = FindById(catalog, ids[i]);
        if (!entry || entry->info.dwCatalogEntryId == 0)
            return WSAEINVAL;
        ordered.push_back(*entry);
        entry->info.dwCatalogEntryId = 0; // taken: a repeated id finds nothing
    }
    catalog.entries = std::move(ordered);
    return 0;
}
