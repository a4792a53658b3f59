// WSAStartup, WSACleanup, the thread's last error, and the DLL entry.
#include "Startup.h"
#include "HandleDevice.h"
#include "HandleTable.h"
#include "Providers.h"
#include "ForwardedHelpers.h"
#include <cstring>

namespace {

LONG startupCount = 0;
CRITICAL_SECTION startupLock;
HMODULE self = nullptr;
HMODULE wineWinsock = nullptr;
using StartupFunction = int(WSAAPI*)(WORD, LPWSADATA);
using CleanupFunction = int(WSAAPI*)();
StartupFunction wineStartup = nullptr;
CleanupFunction wineCleanup = nullptr;
PollFunction winePoll = nullptr;
DWORD threadIdSlot = TLS_OUT_OF_INDEXES;
DWORD openTypeSlot = TLS_OUT_OF_INDEXES;

HMODULE LoadWineWinsock()
{
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH - 12);
    if (length == 0 || length >= MAX_PATH - 12)
        return nullptr;
    lstrcatW(path, L"\\ws2_32.dll");
    return LoadLibraryW(path);
}

// Sets WS2LAYER_HOME to the folder holding this DLL, so catalog paths can name its neighbours.
void PublishHome(HMODULE module)
{
    if (GetEnvironmentVariableW(L"WS2LAYER_HOME", nullptr, 0) != 0)
        return;
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    if (WCHAR* slash = wcsrchr(path, L'\\'))
        *slash = L'\0';
    SetEnvironmentVariableW(L"WS2LAYER_HOME", path);
}

// Tests of an installer's fallback need a Winsock whose WSCUpdateProvider cannot be found.
void HideExportWhenAsked(HMODULE module, const char* name, const WCHAR* variable)
{
    WCHAR value[8];
    DWORD length = GetEnvironmentVariableW(variable, value, 8);
    if (length == 0 || length >= 8 || lstrcmpW(value, L"1") != 0)
        return;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        auto* exportName = reinterpret_cast<char*>(base + names[i]);
        if (strcmp(exportName, name) != 0)
            continue;
        // Cutting the name's last letter keeps the name table sorted for the loader's binary
        // search, which then no longer finds the name; the address goes as well.
        char* last = exportName + strlen(exportName) - 1;
        DWORD* function = &functions[ordinals[i]];
        DWORD oldProtection = 0;
        if (VirtualProtect(last, 1, PAGE_READWRITE, &oldProtection)) {
            *last = '\0';
            VirtualProtect(last, 1, oldProtection, &oldProtection);
        }
        if (VirtualProtect(function, sizeof *function, PAGE_READWRITE, &oldProtection)) {
            *function = 0;
            VirtualProtect(function, sizeof *function, oldProtection, &oldProtection);
        }
        return;
    }
}

// Looked up once, at load: a later lookup in Wine's module would make the loader answer
// "ws2_32.dll" with Wine's library again (see ReclaimBareName).
bool ResolveWineEntries()
{
    wineStartup = reinterpret_cast<StartupFunction>(
        reinterpret_cast<void*>(GetProcAddress(wineWinsock, "WSAStartup")));
    wineCleanup = reinterpret_cast<CleanupFunction>(
        reinterpret_cast<void*>(GetProcAddress(wineWinsock, "WSACleanup")));
    winePoll = reinterpret_cast<PollFunction>(
        reinterpret_cast<void*>(GetProcAddress(wineWinsock, "WSAPoll")));
    return wineStartup && wineCleanup;
}

void CloseThreadId()
{
    if (threadIdSlot == TLS_OUT_OF_INDEXES)
        return;
    if (auto* id = static_cast<WSATHREADID*>(TlsGetValue(threadIdSlot))) {
        CloseHandle(id->ThreadHandle);
        HeapFree(GetProcessHeap(), 0, id);
        TlsSetValue(threadIdSlot, nullptr);
    }
}

} // namespace

bool WinsockStarted()
{
    return InterlockedCompareExchange(&startupCount, 0, 0) > 0;
}

PollFunction WinePoll()
{
    return winePoll;
}

void ReclaimBareName()
{
    GetProcAddress(self, "socket");
}

int ThreadOpenType()
{
    return static_cast<int>(reinterpret_cast<INT_PTR>(TlsGetValue(openTypeSlot)));
}

void SetThreadOpenType(int openType)
{
    TlsSetValue(openTypeSlot, reinterpret_cast<void*>(static_cast<INT_PTR>(openType)));
}

LPWSATHREADID CurrentThreadId()
{
    auto* id = static_cast<WSATHREADID*>(TlsGetValue(threadIdSlot));
    if (id)
        return id;
    id = static_cast<WSATHREADID*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *id));
    if (!id)
        return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                         &id->ThreadHandle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        HeapFree(GetProcessHeap(), 0, id);
        return nullptr;
    }
    id->Reserved = GetCurrentThreadId();
    TlsSetValue(threadIdSlot, id);
    return id;
}

extern "C" {

// Version negotiation and WSADATA come from Wine's own library, so a program sees the same
// values with or without the drop-in; its helpers then count this start as well.
int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    int result = wineStartup(wVersionRequested, lpWSAData);
    ReclaimBareName();
    if (result == 0) {
        EnterCriticalSection(&startupLock);
        ++startupCount;
        LeaveCriticalSection(&startupLock);
    }
    return result;
}

int WSAAPI WSACleanup(void)
{
    EnterCriticalSection(&startupLock);
    if (startupCount == 0) {
        LeaveCriticalSection(&startupLock);
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (--startupCount == 0) {
        CleanupProviders();
        ForgetAllHandles();
    }
    LeaveCriticalSection(&startupLock);
    wineCleanup();
    return 0;
}

int WSAAPI WSAGetLastError(void)
{
    return static_cast<int>(GetLastError());
}

void WSAAPI WSASetLastError(int iError)
{
    SetLastError(static_cast<DWORD>(iError));
}

// Blocking hooks are gone from Winsock 2; like Wine's own, there is nothing to cancel.
int WSAAPI WSACancelBlockingCall(void)
{
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        InitializeCriticalSection(&startupLock);
        threadIdSlot = TlsAlloc();
        openTypeSlot = TlsAlloc();
        PublishHome(instance);
        HideExportWhenAsked(instance, "WSCUpdateProvider", L"WS2LAYER_NO_WSCUPDATEPROVIDER");
        self = instance;
        wineWinsock = LoadWineWinsock();
        if (!wineWinsock || threadIdSlot == TLS_OUT_OF_INDEXES ||
            openTypeSlot == TLS_OUT_OF_INDEXES || !SetUpCompletionEvents() ||
            !ResolveWineEntries() ||
            !ResolveForwardedHelpers(wineWinsock))
            return FALSE;
        ReclaimBareName();
        return TRUE;
    case DLL_THREAD_DETACH:
        CloseThreadId();
        CloseCompletionEvent();
        break;
    case DLL_PROCESS_DETACH:
        CloseThreadId();
        CloseCompletionEvent();
        // At process exit (reserved non-null) providers get their own detach; only an explicit
        // unload with the layer still started owes them their cleanups.
        if (!reserved && startupCount > 0) {
            CleanupProviders();
            ForgetAllHandles();
        }
        break;
    }
    return TRUE;
}

} // extern "C"
