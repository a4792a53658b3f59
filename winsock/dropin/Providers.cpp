#include "Providers.h"
#include "CatalogStore.h"
#include "Startup.h"
#include <map>
#include <memory>
#include <vector>

namespace {

// Recursive, because a provider's WSPStartup calls back into the catalog and the upcalls.
struct ProviderState {
    CRITICAL_SECTION lock;
    std::vector<std::unique_ptr<Provider>> providers; // in the order they were loaded
    std::map<DWORD, Provider*> byCatalogId;
    std::vector<std::unique_ptr<Provider>> retired;   // cleaned up, waiting to be unloaded
    ProviderState() { InitializeCriticalSection(&lock); }
};

ProviderState& State()
{
    static ProviderState* state = new ProviderState; // outlives static destructors at exit
    return *state;
}

// Application calls inside a provider right now, and whether cleaned-up providers wait for
// them to leave before they are unloaded.
volatile LONG callsInside;
volatile LONG unloadPending;

class StateLock {
public:
    StateLock() { EnterCriticalSection(&State().lock); }
    ~StateLock() { LeaveCriticalSection(&State().lock); }
};

bool TableComplete(const WSPPROC_TABLE& table)
{
    auto* slots = reinterpret_cast<void* const*>(&table);
    for (size_t i = 0; i < sizeof table / sizeof(void*); ++i)
        if (!slots[i])
            return false;
    return true;
}

Provider* LoadedProvider(HMODULE module)
{
    for (auto& provider : State().providers)
        if (provider->module == module)
            return provider.get();
    return nullptr;
}

// Loads the DLL of path once; later loads of the same module give back their reference.
Provider* LoadProvider(const WCHAR* path, int* error)
{
    WCHAR expanded[MAX_PATH];
    DWORD length = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (length == 0 || length > MAX_PATH) {
        *error = WSAEPROVIDERFAILEDINIT;
        return nullptr;
    }
    ReclaimBareName(); // so that the provider's imports from ws2_32 bind to the drop-in
    HMODULE module = LoadLibraryW(expanded);
    if (!module) {
        *error = WSAEPROVIDERFAILEDINIT;
        return nullptr;
    }
    if (Provider* known = LoadedProvider(module)) {
        FreeLibrary(module);
        return known;
    }
    if (!GetProcAddress(module, "WSPStartup")) {
        FreeLibrary(module);
        *error = WSAEPROVIDERFAILEDINIT;
        return nullptr;
    }
    State().providers.push_back(std::make_unique<Provider>(Provider{module, {}, 0}));
    return State().providers.back().get();
}

int CallStartup(Provider& provider, const WSAPROTOCOL_INFOW& info)
{
    auto startup = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(provider.module, "WSPStartup")));
    WSPDATA data{};
    WSPPROC_TABLE table{};
    WSAPROTOCOL_INFOW copy = info; // the provider may keep or change what it is given
    int result = startup(MAKEWORD(2, 2), &data, &copy, UpcallTable(), &table);
    ReclaimBareName(); // providers look up functions in Wine's library while they start
    if (result != 0)
        return result;
    if (!TableComplete(table)) {
        // The start succeeded, so it is owed its cleanup before the table is refused.
        int ignored = 0;
        if (table.lpWSPCleanup)
            table.lpWSPCleanup(&ignored);
        return WSAEINVALIDPROCTABLE;
    }
    if (provider.startups++ == 0)
        provider.procTable = table;
    return 0;
}

Provider* StartLocked(const WSAPROTOCOL_INFOW& info, const WCHAR* path, int* error)
{
    auto known = State().byCatalogId.find(info.dwCatalogEntryId);
    if (known != State().byCatalogId.end())
        return known->second;
    Provider* provider = LoadProvider(path, error);
    if (!provider)
        return nullptr;
    if (int result = CallStartup(*provider, info)) {
        *error = result;
        return nullptr; // a loaded provider that never started is unloaded by the cleanup
    }
    State().byCatalogId[info.dwCatalogEntryId] = provider;
    if (info.ProtocolChain.ChainLen > BASE_PROTOCOL)
        State().byCatalogId.emplace(info.ProtocolChain.ChainEntries[0], provider);
    return provider;
}

} // namespace

Provider* StartProviderFor(const WSAPROTOCOL_INFOW& info, const WCHAR* path, int* error)
{
    StateLock lock;
    return StartLocked(info, path, error);
}

Provider* ProviderOfCatalogId(DWORD catalogId)
{
    StateLock lock;
    auto known = State().byCatalogId.find(catalogId);
    if (known != State().byCatalogId.end())
        return known->second;
    // A layer below the application's chain registers sockets under the id of the entry it
    // started itself; that entry's provider is started here as Windows does.
    Catalog catalog;
    if (ReadCatalog(catalog) != 0)
        return nullptr;
    for (const CatalogEntry& entry : catalog.entries)
        if (entry.info.dwCatalogEntryId == catalogId &&
            entry.info.ProtocolChain.ChainLen != LAYERED_PROTOCOL) {
            int error = 0;
            return StartLocked(entry.info, entry.path, &error);
        }
    return nullptr;
}

// Under the state lock, with no application call inside any provider.
static void UnloadRetired()
{
    for (auto& provider : State().retired)
        FreeLibrary(provider->module);
    State().retired.clear();
    InterlockedExchange(&unloadPending, 0);
}

void CleanupProviders()
{
    StateLock lock;
    for (auto& provider : State().providers) {
        for (int i = 0; i < provider->startups; ++i) {
            int error = 0;
            provider->procTable.lpWSPCleanup(&error);
        }
        State().retired.push_back(std::move(provider));
    }
    State().providers.clear();
    State().byCatalogId.clear();
    // A thread still inside a provider (blocked in recv, say) returns through its code: the
    // last such call to leave unloads them, as a socket holds its provider on Windows.
    InterlockedExchange(&unloadPending, 1);
    if (InterlockedCompareExchange(&callsInside, 0, 0) == 0)
        UnloadRetired();
}

void EnterProviderCall()
{
    InterlockedIncrement(&callsInside);
}

void LeaveProviderCall()
{
    if (InterlockedDecrement(&callsInside) != 0 || !unloadPending)
        return;
    StateLock lock;
    if (unloadPending && InterlockedCompareExchange(&callsInside, 0, 0) == 0)
        UnloadRetired();
}
