// The protocol catalog as it is kept in the registry of the Wine prefix: one binary value that
// every process of the prefix reads, changed only under a named mutex so that no update is lost.
// A 64-bit prefix has two catalogs, as 64-bit Windows has: the value in the registry's 64-bit
// view, which 64-bit processes read, and the one in its 32-bit view (Wow6432Node), which 32-bit
// processes read through the registry's redirection without knowing it.
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

// Which catalog: the one processes of this process's bitness read, or, from a 64-bit process,
// the one 32-bit processes read.
enum class CatalogView { Own, Wow32 };

struct Catalog {
    DWORD nextCatalogId = 0;           // never reused, so a stale id cannot name a new entry
    std::vector<CatalogEntry> entries; // in catalog order
};

// Reads the catalog, seeding it on first use. Returns 0 or a Winsock error: WSANO_RECOVERY when
// the stored value is damaged, WSASYSCALLFAILURE when the registry cannot be used. The last
// catalog read is kept until the registry reports a change of the stored value (CatalogCache).
int ReadCatalog(Catalog& catalog);

// The same, always from the registry; the only way to read the 32-bit catalog.
int ReadStoredCatalog(Catalog& catalog, CatalogView view = CatalogView::Own);

// Drops the kept catalog, after a change made by this process.
void ForgetCachedCatalog();

// Reads the catalog under the cross-process lock, lets change edit it and saves it when change
// returns 0. Returns change's result or a Winsock error of ReadCatalog.
int ChangeCatalog(const std::function<int(Catalog&)>& change, CatalogView view = CatalogView::Own);

// Both catalogs of a 64-bit process under the lock at once: change edits both, and they are
// saved only when it returns 0, so that a refusal in either leaves both as they were.
int ChangeBothCatalogs(const std::function<int(Catalog& own, Catalog& wow32)>& change);

// Names what is wrong with a damaged stored value, or returns null when it is sound.
const char* CatalogDamage(const BYTE* value, DWORD length);
