// Reading the stored catalog takes several round trips to the wineserver, and every socket
// request reads it. So the last catalog read is kept, and read again only after the registry
// reported a change of a value of the catalog key (made by any process of the prefix, or written
// by hand). The key itself is never deleted, so one notification handle serves for good.
#include "CatalogStore.h"

namespace {

struct CatalogCache {
    CRITICAL_SECTION lock;
    HKEY watchedKey = nullptr;
    HANDLE changed = nullptr; // manual-reset; set by the registry when the stored value changes
    bool valid = false;
    Catalog catalog;
    CatalogCache() { InitializeCriticalSection(&lock); }
};

CatalogCache& Cache()
{
    static auto* cache = new CatalogCache; // survives the order of destructors at exit
    return *cache;
}

// Arms the notification; called before the registry is read, so no change can slip between.
bool Watch(CatalogCache& cache)
{
    if (!cache.watchedKey &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, KEY_NOTIFY, &cache.watchedKey) != 0) {
        cache.watchedKey = nullptr;
        return false; // no key yet: the read below seeds the catalog and creates it
    }
    if (!cache.changed && !(cache.changed = CreateEventW(nullptr, TRUE, FALSE, nullptr)))
        return false;
    ResetEvent(cache.changed);
    // Thread-agnostic, because the arming thread may end long before the next read.
    constexpr DWORD threadAgnostic = 0x10000000; // REG_NOTIFY_THREAD_AGNOSTIC
    DWORD filter = REG_NOTIFY_CHANGE_LAST_SET;
    return RegNotifyChangeKeyValue(cache.watchedKey, FALSE, filter | threadAgnostic, cache.changed,
                                   TRUE) == ERROR_SUCCESS ||
           RegNotifyChangeKeyValue(cache.watchedKey, FALSE, filter, cache.changed, TRUE) ==
               ERROR_SUCCESS;
}

} // namespace

int ReadCatalog(Catalog& catalog)
{
    CatalogCache& cache = Cache();
    EnterCriticalSection(&cache.lock);
    int error = 0;
    if (cache.valid && WaitForSingleObject(cache.changed, 0) == WAIT_TIMEOUT) {
        catalog = cache.catalog;
    } else {
        cache.valid = false;
        bool watching = Watch(cache);
        error = ReadStoredCatalog(catalog);
        if (error == 0 && watching) {
            cache.catalog = catalog;
            cache.valid = true;
        }
    }
    LeaveCriticalSection(&cache.lock);
    return error;
}

void ForgetCachedCatalog()
{
    CatalogCache& cache = Cache();
    EnterCriticalSection(&cache.lock);
    cache.valid = false;
    LeaveCriticalSection(&cache.lock);
}
