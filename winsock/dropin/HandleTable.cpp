#include "HandleTable.h"
#include "HandleDevice.h"
#include <new>
#include <unordered_map>

namespace {

SRWLOCK tableLock = SRWLOCK_INIT;
unsigned nextGeneration = 0; // changed under tableLock

std::unordered_map<SOCKET, SocketOwner>& Table()
{
    static auto* table = new std::unordered_map<SOCKET, SocketOwner>; // survives exit order
    return *table;
}

} // namespace

bool FindSocketOwner(SOCKET s, SocketOwner& owner)
{
    AcquireSRWLockShared(&tableLock);
    auto found = Table().find(s);
    bool known = found != Table().end();
    if (known)
        owner = found->second;
    ReleaseSRWLockShared(&tableLock);
    return known;
}

// With WS2LAYER_TABLE_FULL=1 the table refuses to grow, as when memory runs out, for tests.
static bool TableFullForTests()
{
    static const bool full = [] {
        WCHAR value[4];
        DWORD length = GetEnvironmentVariableW(L"WS2LAYER_TABLE_FULL", value, 4);
        return length == 1 && value[0] == L'1';
    }();
    return full;
}

// Providers call in here through the upcalls, and they are built without exceptions: a table
// that cannot grow is an error, never a throw.
static bool Store(SOCKET s, const SocketOwner& owner)
{
    try {
        if (TableFullForTests())
            throw std::bad_alloc();
        Table()[s] = owner;
        return true;
    } catch (...) {
        return false;
    }
}

bool RecordIfsHandle(SOCKET s, Provider* provider)
{
    AcquireSRWLockExclusive(&tableLock);
    bool stored = Store(s, SocketOwner{provider, false, false, 0, ++nextGeneration});
    ReleaseSRWLockExclusive(&tableLock);
    return stored;
}

SOCKET MakeSocketHandle(Provider* provider, DWORD_PTR context, int* error)
{
    // Either kind of handle is a value that no real socket of the process can have.
    HANDLE value = OpenDeviceHandle();
    bool device = value != nullptr;
    if (!device)
        value = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!value) {
        *error = WSAENOBUFS;
        return INVALID_SOCKET;
    }
    SOCKET s = reinterpret_cast<SOCKET>(value);
    AcquireSRWLockExclusive(&tableLock);
    bool stored = Store(s, SocketOwner{provider, true, device, context, ++nextGeneration});
    ReleaseSRWLockExclusive(&tableLock);
    if (!stored) {
        CloseHandle(value);
        *error = WSAENOBUFS;
        return INVALID_SOCKET;
    }
    return s;
}

bool CloseMadeHandle(SOCKET s)
{
    AcquireSRWLockExclusive(&tableLock);
    auto found = Table().find(s);
    bool made = found != Table().end() && found->second.madeHere;
    if (made)
        Table().erase(found);
    ReleaseSRWLockExclusive(&tableLock);
    if (made)
        CloseHandle(reinterpret_cast<HANDLE>(s));
    return made;
}

void ForgetIfsHandle(SOCKET s, const SocketOwner& owner)
{
    AcquireSRWLockExclusive(&tableLock);
    auto found = Table().find(s);
    if (found != Table().end() && !found->second.madeHere &&
        found->second.generation == owner.generation)
        Table().erase(found);
    ReleaseSRWLockExclusive(&tableLock);
}

void ForgetAllHandles()
{
    AcquireSRWLockExclusive(&tableLock);
    for (auto& [s, owner] : Table())
        if (owner.madeHere)
            CloseHandle(reinterpret_cast<HANDLE>(s));
    Table().clear();
    ReleaseSRWLockExclusive(&tableLock);
}
