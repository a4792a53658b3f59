#include "RealWinsock.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

RealWinsock real;

namespace {

struct RealFunctionName {
    const char* name;
    bool required;
    size_t offset;
};

const RealFunctionName realFunctionNames[] = {
#define REAL_WINSOCK_NAME(name, required) {#name, required, offsetof(RealWinsock, name)},
    REAL_WINSOCK_FUNCTIONS(REAL_WINSOCK_NAME)
#undef REAL_WINSOCK_NAME
};

SRWLOCK loadLock = SRWLOCK_INIT;
HMODULE realModule;
unsigned loadCount;

bool ResolveRealFunctions(HMODULE module)
{
    RealWinsock resolved{};
    for (const RealFunctionName& entry : realFunctionNames) {
        FARPROC address = GetProcAddress(module, entry.name);
        if (!address && entry.required)
            return false;
        memcpy(reinterpret_cast<char*>(&resolved) + entry.offset, &address, sizeof address);
    }
    real = resolved;
    return true;
}

HMODULE LoadFromSystemDirectory()
{
    static const wchar_t fileName[] = L"\\ws2_32.dll";
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + wcslen(fileName) >= MAX_PATH)
        return nullptr;
    wcscpy(path + length, fileName);
    return LoadLibraryW(path);
}

// Wine's library stays loaded once it has been: a thread blocked in one of its calls while the
// last cleanup runs returns through its code.
int LoadLocked()
{
    if (!realModule) {
        HMODULE module = LoadFromSystemDirectory();
        if (!module)
            return WSASYSNOTREADY;
        if (!ResolveRealFunctions(module)) {
            FreeLibrary(module);
            return WSASYSNOTREADY;
        }
        realModule = module;
    }
    WSADATA data;
    return real.WSAStartup(MAKEWORD(2, 2), &data);
}

} // namespace

int LoadRealWinsock()
{
    AcquireSRWLockExclusive(&loadLock);
    int error = loadCount == 0 ? LoadLocked() : 0;
    if (error == 0)
        ++loadCount;
    ReleaseSRWLockExclusive(&loadLock);
    return error;
}

int UnloadRealWinsock()
{
    AcquireSRWLockExclusive(&loadLock);
    int remaining = static_cast<int>(loadCount) - 1;
    if (loadCount > 0 && --loadCount == 0)
        real.WSACleanup();
    ReleaseSRWLockExclusive(&loadLock);
    return remaining;
}
