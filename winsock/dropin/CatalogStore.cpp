#include "CatalogStore.h"
#include "CatalogSeed.h"
#include <cstring>

namespace {

// Layout of the stored value: this header, then `count` entries.
struct StoredHeader {
    DWORD magic;
    DWORD version;
    DWORD entryLength;
    DWORD count;
    DWORD nextCatalogId;
};
constexpr DWORD storedMagic = 0x43325357; // "WS2C"
constexpr DWORD storedVersion = 1;
constexpr DWORD maxEntries = 4096;

// Held across read-modify-write so that two processes changing the catalog lose nothing.
class CatalogLock {
public:
    CatalogLock() : mutex(CreateMutexW(nullptr, FALSE, L"WS2Layer Catalog Mutex"))
    {
        if (mutex)
            WaitForSingleObject(mutex, INFINITE); // an abandoned mutex is ours all the same
    }
    ~CatalogLock()
    {
        if (mutex) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
    }
    bool Held() const { return mutex != nullptr; }

private:
    HANDLE mutex;
};

// The registry view that holds a catalog: the process's own, or the 32-bit one.
REGSAM ViewAccess(CatalogView view)
{
    return view == CatalogView::Wow32 ? KEY_WOW64_32KEY : 0;
}

HKEY OpenCatalogKey(CatalogView view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | ViewAccess(view), nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Reading needs no write access; a missing key reads as a missing catalog.
HKEY OpenCatalogKeyForReading(CatalogView view, bool* missing)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, catalogKeyName, 0,
                                KEY_QUERY_VALUE | ViewAccess(view), &key);
    *missing = status == ERROR_FILE_NOT_FOUND;
    return status == ERROR_SUCCESS ? key : nullptr;
}

bool Terminated(const WCHAR* text, size_t capacity)
{
    return wmemchr(text, L'\0', capacity) != nullptr;
}

const char* EntryDamage(const CatalogEntry& entry, DWORD nextCatalogId)
{
    const WSAPROTOCOL_INFOW& info = entry.info;
    if (info.dwCatalogEntryId == 0 || info.dwCatalogEntryId >= nextCatalogId)
        return "an entry has a catalog id out of range";
    if (info.ProtocolChain.ChainLen < 0 || info.ProtocolChain.ChainLen > MAX_PROTOCOL_CHAIN)
        return "an entry has a chain length out of range";
    if (!Terminated(info.szProtocol, WSAPROTOCOL_LEN + 1))
        return "an entry's protocol name is not terminated";
    if (!Terminated(entry.path, MAX_PATH))
        return "an entry's path is not terminated";
    return nullptr;
}

enum class LoadOutcome { Loaded, Missing, Damaged, Failed };

LoadOutcome LoadCatalog(HKEY key, Catalog& catalog)
{
    DWORD type = 0;
    DWORD length = 0;
    std::vector<BYTE> value;
    LONG status;
    // Another process may store a longer catalog between asking for the length and reading.
    do {
        value.resize(length);
        status = RegQueryValueExW(key, catalogValueName, nullptr, &type, value.data(), &length);
    } while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && length > value.size()));
    if (status == ERROR_FILE_NOT_FOUND)
        return LoadOutcome::Missing;
    if (status != ERROR_SUCCESS)
        return LoadOutcome::Failed;
    if (type != REG_BINARY)
        return LoadOutcome::Damaged;
    value.resize(length);
    if (CatalogDamage(value.data(), length))
        return LoadOutcome::Damaged;
    StoredHeader header;
    memcpy(&header, value.data(), sizeof header);
    catalog.nextCatalogId = header.nextCatalogId;
    catalog.entries.resize(header.count);
    memcpy(catalog.entries.data(), value.data() + sizeof header, header.count * sizeof(CatalogEntry));
    return LoadOutcome::Loaded;
}

bool SaveCatalog(HKEY key, const Catalog& catalog)
{
    StoredHeader header{storedMagic, storedVersion, sizeof(CatalogEntry),
                        static_cast<DWORD>(catalog.entries.size()), catalog.nextCatalogId};
    std::vector<BYTE> value(sizeof header + catalog.entries.size() * sizeof(CatalogEntry));
    memcpy(value.data(), &header, sizeof header);
    memcpy(value.data() + sizeof header, catalog.entries.data(),
           catalog.entries.size() * sizeof(CatalogEntry));
    return RegSetValueExW(key, catalogValueName, 0, REG_BINARY, value.data(),
                          static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

int ErrorOf(LoadOutcome outcome)
{
    return outcome == LoadOutcome::Damaged ? WSANO_RECOVERY : WSASYSCALLFAILURE;
}

// Loads the catalog, seeding and saving it when none is stored yet; the caller holds the lock.
int LoadOrSeed(HKEY key, Catalog& catalog)
{
    LoadOutcome outcome = LoadCatalog(key, catalog);
    if (outcome == LoadOutcome::Loaded)
        return 0;
    if (outcome != LoadOutcome::Missing)
        return ErrorOf(outcome);
    SeedCatalog(catalog);
    return SaveCatalog(key, catalog) ? 0 : WSASYSCALLFAILURE;
}

// Loads the catalogs of the given views under the cross-process lock, lets change edit them and
// saves them all when it returns 0. The views must be distinct keys: in a 32-bit process the
// 32-bit view is the process's own.
int ChangeCatalogs(const CatalogView* views, size_t count,
                   const std::function<int(Catalog* catalogs)>& change)
{
    int error = 0;
    {
        CatalogLock lock; // one lock for both catalogs, so a change of both is seen whole
        if (!lock.Held())
            return WSASYSCALLFAILURE;
        HKEY keys[2] = {};
        Catalog catalogs[2];
        for (size_t i = 0; i < count && error == 0; ++i) {
            keys[i] = OpenCatalogKey(views[i]);
            error = keys[i] ? LoadOrSeed(keys[i], catalogs[i]) : WSASYSCALLFAILURE;
        }
        if (error == 0)
            error = change(catalogs);
        for (size_t i = 0; i < count && error == 0; ++i)
            if (!SaveCatalog(keys[i], catalogs[i]))
                error = WSASYSCALLFAILURE;
        for (HKEY key : keys)
            if (key)
                RegCloseKey(key);
    }
    // Outside the cross-process lock: a reader holds the cache while it may wait for that lock.
    ForgetCachedCatalog();
    return error;
}

} // namespace

const char* CatalogDamage(const BYTE* value, DWORD length)
{
    StoredHeader header;
    if (length < sizeof header)
        return "the stored catalog is shorter than its header";
    memcpy(&header, value, sizeof header);
    if (header.magic != storedMagic)
        return "the stored catalog does not start with its mark";
    if (header.version != storedVersion || header.entryLength != sizeof(CatalogEntry))
        return "the stored catalog has an unknown layout version";
    if (header.count > maxEntries ||
        length != sizeof header + header.count * sizeof(CatalogEntry))
        return "the stored catalog's length does not match its entry count";
    std::vector<DWORD> ids;
    for (DWORD i = 0; i < header.count; ++i) {
        CatalogEntry entry;
        memcpy(&entry, value + sizeof header + i * sizeof entry, sizeof entry);
        if (const char* damage = EntryDamage(entry, header.nextCatalogId))
            return damage;
        for (DWORD id : ids)
            if (id == entry.info.dwCatalogEntryId)
                return "two entries share a catalog id";
        ids.push_back(entry.info.dwCatalogEntryId);
    }
    return nullptr;
}

int ReadStoredCatalog(Catalog& catalog, CatalogView view)
{
    bool missing = false;
    LoadOutcome outcome = LoadOutcome::Missing;
    if (HKEY key = OpenCatalogKeyForReading(view, &missing)) {
        outcome = LoadCatalog(key, catalog);
        RegCloseKey(key);
    } else if (!missing) {
        return WSASYSCALLFAILURE;
    }
    if (outcome == LoadOutcome::Loaded)
        return 0;
    if (outcome != LoadOutcome::Missing)
        return ErrorOf(outcome);
    CatalogLock lock; // another process may be seeding at the same moment
    HKEY key = OpenCatalogKey(view);
    if (!key)
        return WSASYSCALLFAILURE;
    int error = LoadOrSeed(key, catalog);
    RegCloseKey(key);
    return error;
}

int ChangeCatalog(const std::function<int(Catalog&)>& change, CatalogView view)
{
    return ChangeCatalogs(&view, 1, [&](Catalog* catalogs) { return change(catalogs[0]); });
}

int ChangeBothCatalogs(const std::function<int(Catalog& own, Catalog& wow32)>& change)
{
    const CatalogView views[] = {CatalogView::Own, CatalogView::Wow32};
    return ChangeCatalogs(views, 2, [&](Catalog* catalogs) { return change(catalogs[0], catalogs[1]); });
}
