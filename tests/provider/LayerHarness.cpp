#include "LayerHarness.h"
#include "CatalogAccess.h"
#include "Channel.h"
#include "Entries.h"
#include "LayerProviderId.h"
#include "OverlappedManager.h"
#include "ProcessLifetime.h"
#include <cstring>
#include <map>
#include <mutex>

const GUID FakeBaseProviderId = {0x1b1b1b1b, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID FakeOtherProviderId = {0x2c2c2c2c, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
// The chains of one installation share a GUID of their own.
static const GUID FakeChainId = {0x3d3d3d3d, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

FakeCatalogScript fakeCatalog;
FakeUpcalls fakeUpcalls;

// The layer's process-wide locks, made once as DLL attach would.
static const bool processLocksReady = [] {
    InitializeProcessLocks();
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);   // for the address texts
    return true;
}();

WSAPROTOCOL_INFOW BaseEntry(DWORD id, int family, int type, int protocol)
{
    WSAPROTOCOL_INFOW entry = {};
    entry.dwServiceFlags1 = XP1_IFS_HANDLES | (type == SOCK_STREAM ? XP1_GUARANTEED_DELIVERY : 0);
    entry.ProviderId = FakeBaseProviderId;
    entry.dwCatalogEntryId = id;
    entry.ProtocolChain.ChainLen = BASE_PROTOCOL;
    entry.iVersion = 2;
    entry.iAddressFamily = family;
    entry.iSocketType = type;
    entry.iProtocol = protocol;
    wcscpy(entry.szProtocol, L"fake base");
    return entry;
}

WSAPROTOCOL_INFOW LayerEntry(DWORD id, const GUID& providerId)
{
    WSAPROTOCOL_INFOW entry = {};
    entry.ProviderId = providerId;
    entry.dwCatalogEntryId = id;
    entry.ProtocolChain.ChainLen = LAYERED_PROTOCOL;
    wcscpy(entry.szProtocol, L"layer");
    return entry;
}

WSAPROTOCOL_INFOW ChainEntry(DWORD id, std::vector<DWORD> chain, const WSAPROTOCOL_INFOW& like)
{
    WSAPROTOCOL_INFOW entry = like;
    entry.dwCatalogEntryId = id;
    entry.ProtocolChain.ChainLen = static_cast<int>(chain.size());
    for (size_t i = 0; i < chain.size(); i++)
        entry.ProtocolChain.ChainEntries[i] = chain[i];
    wcscpy(entry.szProtocol, L"Kestrix over [fake]");
    return entry;
}

std::vector<WSAPROTOCOL_INFOW> StandardCatalog()
{
    WSAPROTOCOL_INFOW tcp = BaseEntry(BaseTcpId, AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAPROTOCOL_INFOW udp = BaseEntry(BaseUdpId, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    WSAPROTOCOL_INFOW tcp6 = BaseEntry(BaseTcp6Id, AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    WSAPROTOCOL_INFOW layer = LayerEntry(LayerId, LayerProviderId);
    WSAPROTOCOL_INFOW tcpChain = ChainEntry(LayerTcpChainId, {LayerId, BaseTcpId}, tcp);
    WSAPROTOCOL_INFOW udpChain = ChainEntry(LayerUdpChainId, {LayerId, BaseUdpId}, udp);
    WSAPROTOCOL_INFOW tcp6Chain = ChainEntry(LayerTcp6ChainId, {LayerId, BaseTcp6Id}, tcp6);
    for (WSAPROTOCOL_INFOW* chain : {&tcpChain, &udpChain, &tcp6Chain})
        chain->ProviderId = FakeChainId;
    return {tcpChain, udpChain, tcp6Chain, layer, tcp, udp, tcp6};
}

static WSAPROTOCOL_INFOW* FakeEnumerate(int* count)
{
    fakeCatalog.enumerateCalls++;
    if (fakeCatalog.enumerateFails)
        return nullptr;
    size_t size = fakeCatalog.entries.size() * sizeof(WSAPROTOCOL_INFOW);
    auto* copy = static_cast<WSAPROTOCOL_INFOW*>(HeapAlloc(GetProcessHeap(), 0, size ? size : 1));
    if (size)
        memcpy(copy, fakeCatalog.entries.data(), size);
    *count = static_cast<int>(fakeCatalog.entries.size());
    return copy;
}

static void FakeFree(WSAPROTOCOL_INFOW* catalog)
{
    HeapFree(GetProcessHeap(), 0, catalog);
}

// Paths begin with a variable, as the system's own provider paths do.
static int WSPAPI FakeProviderPath(GUID* providerId, WCHAR* path, int* length, int* error)
{
    fakeCatalog.providerPathCalls++;
    const WCHAR* file = nullptr;
    if (IsEqualGUID(*providerId, FakeBaseProviderId))
        file = L"%KESTRIX_FAKE_DIR%\\fakelower.dll";
    else if (IsEqualGUID(*providerId, FakeOtherProviderId))
        file = L"%KESTRIX_FAKE_DIR%\\fakeother.dll";
    if (fakeCatalog.providerPathFails || !file) {
        *error = WSAEINVAL;
        return SOCKET_ERROR;
    }
    wcscpy(path, file);
    *length = static_cast<int>(wcslen(file)) + 1;
    return 0;
}

static DWORD WINAPI FakeExpandWide(const WCHAR* source, WCHAR* destination, DWORD size)
{
    if (fakeCatalog.wideExpansionFails)
        return 0;
    return ExpandEnvironmentStringsW(source, destination, size);
}

// The layer calls the upcalls from several threads at once, as the Winsock layer allows.
static std::recursive_mutex handlesLock;
static std::map<SOCKET, DWORD_PTR> handles;
static SOCKET nextHandle = 0x100;

static SOCKET WSPAPI FakeCreateSocketHandle(DWORD catalogId, DWORD_PTR context, LPINT error)
{
    std::lock_guard<std::recursive_mutex> guard(handlesLock);
    fakeUpcalls.lastCatalogId = catalogId;
    if (fakeUpcalls.createError) {
        *error = fakeUpcalls.createError;
        return INVALID_SOCKET;
    }
    fakeUpcalls.created++;
    SOCKET handle = nextHandle;
    nextHandle += 4;
    handles[handle] = context;
    return handle;
}

static int WSPAPI FakeQueryContext(SOCKET handle, PDWORD_PTR context, LPINT error)
{
    std::lock_guard<std::recursive_mutex> guard(handlesLock);
    auto found = handles.find(handle);
    if (found == handles.end()) {
        *error = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    *context = found->second;
    return 0;
}

static int WSPAPI FakeCloseHandle(SOCKET handle, LPINT error)
{
    std::lock_guard<std::recursive_mutex> guard(handlesLock);
    if (fakeUpcalls.onClose)
        fakeUpcalls.onClose(handle);
    if (fakeUpcalls.closeError) {
        *error = fakeUpcalls.closeError;
        return SOCKET_ERROR;
    }
    if (handles.erase(handle) == 0) {
        *error = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    fakeUpcalls.closed++;
    return 0;
}

static int WSPAPI FakeFDIsSet(SOCKET handle, fd_set* set)
{
    for (u_int i = 0; i < set->fd_count; i++) {
        if (set->fd_array[i] == handle)
            return 1;
    }
    return 0;
}

static int WSPAPI FakeQueueApc(LPWSATHREADID thread, LPWSAUSERAPC routine, DWORD_PTR context,
                               LPINT error)
{
    fakeUpcalls.apcCalls++;
    if (!thread || !QueueUserAPC(routine, thread->ThreadHandle, context)) {
        *error = WSAEINVAL;
        return SOCKET_ERROR;
    }
    return 0;
}

static int WSPAPI FakeCompleteRequest(SOCKET s, LPWSAOVERLAPPED overlapped, DWORD error,
                                      DWORD bytes, LPINT)
{
    fakeUpcalls.completedSocket = s;
    fakeUpcalls.completedOverlapped = overlapped;
    fakeUpcalls.completedError = error;
    fakeUpcalls.completedBytes = bytes;
    overlapped->InternalHigh = bytes;
    // As the Winsock layer writes it: a status, which a bare Winsock error is carried in.
    overlapped->Internal = error == 0 || (error & 0x80000000) ? error : WinsockErrorStatus(error);
    InterlockedIncrement(&fakeUpcalls.completions);
    if (overlapped->hEvent)
        SetEvent(overlapped->hEvent);
    return 0;
}

bool IsHandleOpen(SOCKET handle)
{
    std::lock_guard<std::recursive_mutex> guard(handlesLock);
    return handles.count(handle) != 0;
}

// The upcalls the tests never need fail plainly.
static BOOL WSPAPI NoEvent(WSAEVENT, LPINT) { return FALSE; }
static WSAEVENT WSPAPI NoCreateEvent(LPINT) { return nullptr; }
static int WSPAPI NoPath(LPGUID, WCHAR*, LPINT, LPINT) { return SOCKET_ERROR; }
static SOCKET WSPAPI NoModify(DWORD, SOCKET, LPINT) { return INVALID_SOCKET; }
// The Winsock layer posts as the window's own thread would receive it.
static BOOL WSPAPI FakePostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageA(window, message, wParam, lParam);
}
static int WSPAPI NoBlockingCallback(DWORD, LPBLOCKINGCALLBACK*, PDWORD_PTR, LPINT) { return SOCKET_ERROR; }

static int WSPAPI FakeOpenThread(LPWSATHREADID thread, LPINT error)
{
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                         &thread->ThreadHandle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        *error = WSAENOBUFS;
        return SOCKET_ERROR;
    }
    thread->Reserved = GetCurrentThreadId();
    InterlockedIncrement(&fakeUpcalls.threadsOpened);
    return 0;
}

static int WSPAPI FakeCloseThread(LPWSATHREADID thread, LPINT error)
{
    if (!CloseHandle(thread->ThreadHandle)) {
        *error = WSAEINVAL;
        return SOCKET_ERROR;
    }
    InterlockedIncrement(&fakeUpcalls.threadsClosed);
    return 0;
}

WSPUPCALLTABLE FakeUpcallTable()
{
    return WSPUPCALLTABLE{NoEvent,         FakeCloseHandle, NoCreateEvent, FakeCreateSocketHandle,
                          FakeFDIsSet,     NoPath,          NoModify,      FakePostMessage,
                          NoBlockingCallback, FakeQueryContext, FakeQueueApc,     NoEvent,
                          NoEvent,         FakeOpenThread,  FakeCloseThread};
}

int StartLayer(WSPPROC_TABLE* table, WSPDATA* data, WORD version, WSAPROTOCOL_INFOW* protocolInfo)
{
    WSPDATA scratch;
    WSAPROTOCOL_INFOW chain = StandardCatalog()[0];
    return WSPStartup(version, data ? data : &scratch, protocolInfo ? protocolInfo : &chain,
                      FakeUpcallTable(), table);
}

void TraceTo(ViewerStandIn& viewer, DWORD level)
{
    if (!channelHeap)
        channelHeap = HeapCreate(0, ChannelHeapInitialSize, 0);
    tracedProcessId = GetCurrentProcessId();
    detailLevel = level;
    viewerWindow = viewer.Window();
}

void StopTracing()
{
    viewerWindow = nullptr;
}

std::string TextOf(const Record& record)
{
    return record.Text();
}

std::vector<std::string> TextsOf(const std::vector<Record>& records)
{
    std::vector<std::string> texts;
    for (const Record& record : records)
        texts.push_back(record.Text());
    return texts;
}

void LayerTest::SetUp()
{
    char directory[MAX_PATH];
    GetModuleFileNameA(nullptr, directory, MAX_PATH);
    *strrchr(directory, '\\') = '\0';
    SetEnvironmentVariableA("KESTRIX_FAKE_DIR", directory);
    catalogAccess = {FakeEnumerate, FakeFree, FakeProviderPath, FakeExpandWide};
    fakeCatalog = FakeCatalogScript{};
    fakeCatalog.entries = StandardCatalog();
    fakeUpcalls = FakeUpcalls{};
    completeOverlappedRequest = FakeCompleteRequest;
    socketHandleOpen = [](SOCKET, HANDLE) { return TRUE; };   // the fake's handles are numbers only
    AllowCompletionPort(TRUE);
    // Held here as well, so that scripts survive the layer's loading and unloading.
    baseModule = LoadLibraryA("fakelower.dll");
    otherModule = LoadLibraryA("fakeother.dll");
    ASSERT_TRUE(baseModule && otherModule) << "fake providers missing beside the test";
    base = reinterpret_cast<GetFakeLowerControlFunction>(
        reinterpret_cast<void*>(GetProcAddress(baseModule, "GetFakeLowerControl")))();
    other = reinterpret_cast<GetFakeLowerControlFunction>(
        reinterpret_cast<void*>(GetProcAddress(otherModule, "GetFakeLowerControl")))();
    completeBase = reinterpret_cast<CompleteFakeOperationFunction>(
        reinterpret_cast<void*>(GetProcAddress(baseModule, "CompleteFakeOperation")));
    ResetFakeLower(base, 0x5000);
    ResetFakeLower(other, 0x9000);
    error = static_cast<int>(0xdeadbeef);
    StopTracing();
}

void LayerTest::CleanUpLayer()
{
    int cleanupError = 0;
    while (WSPCleanup(&cleanupError) == 0) {
    }
}

void LayerTest::TearDown()
{
    StopTracing();
    CleanUpLayer();
    if (baseModule)
        FreeLibrary(baseModule);
    if (otherModule)
        FreeLibrary(otherModule);
    catalogAccess = systemCatalogAccess;
}
