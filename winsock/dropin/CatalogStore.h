// The protocol catalog as it is kept in the registry of the Wine prefix: one binary value that
// every process of the prefix reads, changed only under a named mutex so that no update is lost.
#pragma once
#include "CatalogLocation.h"
#include "WinsockHeaders.h"
#include <functional>
#include <vector>

// One catalog entry: the protocol record and its provider's DLL path as installed (unexpanded).
struct CatalogEntry {
    WSAPROTOCOL_INFOW info;
    WCHAR path[MAX_PATH];
};

struct Catalog {
    DWORD nextCatalogId = 0;           // never reused, so a stale id cannot name a new entry
    std::vector<CatalogEntry> entries; // in catalog order
};

// Reads the catalog, seeding it on first use. Returns 0 or a Winsock error: WSANO_RECOVERY when
// the stored value is damaged, WSASYSCALLFAILURE when the registry cannot be used. The last
// catalog read is kept until the registry reports a change of the stored value (CatalogCache).
int ReadCatalog(Catalog& catalog);

// The same, always from the registry.
int ReadStoredCatalog(Catalog& catalog);

// Drops the kept catalog, after a change made by this process.
void ForgetCachedCatalog();

// Reads the catalog under the cross-process lock, lets change edit it and saves it when change
// returns 0. Returns change's result or a Winsock error of ReadCatalog.
int ChangeCatalog(const std::function<int(Catalog&)>& change);

// Names what is wrong with a damaged stored value, or returns null when it is sound.
const char* CatalogDamage(const BYTE* value, DWORD length);
