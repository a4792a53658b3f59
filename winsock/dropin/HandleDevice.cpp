#include "HandleDevice.h"

#include "../HandleDriverControl.h"

#include <winternl.h>
#include <ntstatus.h>

#include <cstdio>
#include <cwchar>

namespace {

// The conversion of a status to a system error gives back the low word of a status of this
// facility, so GetQueuedCompletionStatus and GetOverlappedResult report the provider's own
// Winsock error.
constexpr LONG winsockErrorStatus = static_cast<LONG>(0xC0010000);

// How long a completion may take in the device host before the caller goes on without it.
constexpr DWORD completionWaitMilliseconds = 10000;

// Says once, on the standard error, why the driver is not there and what that costs.
void ReportMissingDriver(const WCHAR* reason, DWORD error)
{
    WCHAR text[512];
    swprintf(text, sizeof text / sizeof text[0],
             L"ws2_32 (drop-in): the handle driver %ls cannot be used: %ls (error %lu); "
             L"sockets of providers without handles of their own get event handles, which "
             L"cannot be bound to a completion port\n",
             WS2_HANDLE_DRIVER_FILE, reason, error);
    OutputDebugStringW(text);
    HANDLE stderrHandle = GetStdHandle(STD_ERROR_HANDLE);
    if (stderrHandle && stderrHandle != INVALID_HANDLE_VALUE) {
        char narrow[512];
        int length = WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr,
                                         nullptr);
        DWORD written = 0;
        if (length > 1)
            WriteFile(stderrHandle, narrow, length - 1, &written, nullptr);
    }
}

HANDLE OpenDevice()
{
    HANDLE handle = CreateFileW(WS2_HANDLE_OPEN_NAME, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// The driver lies in the drop-in's home, as the base provider does: the drop-in's own folder
// unless WS2LAYER_HOME names another (scripts/ws2run.sh runs a program beside a link to the
// drop-in in a temporary folder, with WS2LAYER_HOME naming the build's).
bool DriverPath(WCHAR (&path)[MAX_PATH])
{
    DWORD length = ExpandEnvironmentStringsW(L"%WS2LAYER_HOME%\\" WS2_HANDLE_DRIVER_FILE, path,
                                             MAX_PATH);
    if (length > 0 && length <= MAX_PATH && path[0] != L'%')
        return true;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OpenDevice), &self))
        return false;
    length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    WCHAR* slash = wcsrchr(path, L'\\');
    if (!slash || (slash - path) + 1 + wcslen(WS2_HANDLE_DRIVER_FILE) >= MAX_PATH)
        return false;
    wcscpy(slash + 1, WS2_HANDLE_DRIVER_FILE);
    return true;
}

// A 32-bit process of a 64-bit prefix: the prefix's device host runs 64-bit drivers only, so the
// driver registered there is the 64-bit drop-in's, which this one starts but never replaces with
// its own. The device's requests have one layout for both.
bool InWow64Process()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Registers the driver as a service of the prefix (or points the registration at this
// drop-in's copy) and starts it; without a path it starts the registered one only. Another
// process may be doing the same at once: a service that exists or runs already is no failure.
bool StartDriver(const WCHAR* path)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT |
                                                             SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        ReportMissingDriver(L"the service manager cannot be opened", GetLastError());
        return false;
    }
    DWORD access = SERVICE_START | SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS;
    SC_HANDLE service = !path ? OpenServiceW(manager, WS2_HANDLE_SERVICE_NAME, SERVICE_START)
                              : CreateServiceW(manager, WS2_HANDLE_SERVICE_NAME,
                                               WS2_HANDLE_SERVICE_NAME, access,
                                               SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, path, nullptr, nullptr,
                                               nullptr, nullptr, nullptr);
    if (!service && path && GetLastError() == ERROR_SERVICE_EXISTS) {
        service = OpenServiceW(manager, WS2_HANDLE_SERVICE_NAME, access);
        // Another build tree may have registered its own copy in the same prefix.
        if (service)
            ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 path, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (!service) {
        ReportMissingDriver(L"the service cannot be registered", GetLastError());
        CloseServiceHandle(manager);
        return false;
    }
    bool started = StartServiceW(service, 0, nullptr) ||
                   GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
    DWORD startError = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!started)
        ReportMissingDriver(L"the service does not start", startError);
    return started;
}

bool deviceReady = false; // written once, under the INIT_ONCE below

// Finds the device, or registers and starts the driver, once per process.
BOOL CALLBACK SetUpDevice(PINIT_ONCE, PVOID, PVOID*)
{
    WCHAR disabled[4];
    if (GetEnvironmentVariableW(L"WS2LAYER_NO_HANDLE_DRIVER", disabled, 4) == 1 &&
        disabled[0] == L'1') {
        ReportMissingDriver(L"WS2LAYER_NO_HANDLE_DRIVER=1 is set", 0);
        return TRUE;
    }
    if (HANDLE probe = OpenDevice()) {
        CloseHandle(probe);
        deviceReady = true;
        return TRUE;
    }
    WCHAR path[MAX_PATH];
    bool wow64 = InWow64Process();
    if (!wow64 && (!DriverPath(path) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)) {
        ReportMissingDriver(L"it is not in the drop-in's home (WS2LAYER_HOME)", GetLastError());
        return TRUE;
    }
    if (!StartDriver(wow64 ? nullptr : path))
        return TRUE;
    // A start by another process may still be under way: its device comes soon.
    for (int attempt = 0; attempt < 100 && !deviceReady; ++attempt) {
        if (HANDLE probe = OpenDevice()) {
            CloseHandle(probe);
            deviceReady = true;
        } else {
            Sleep(20);
        }
    }
    if (!deviceReady)
        ReportMissingDriver(L"its device does not open", GetLastError());
    return TRUE;
}

bool DeviceReady()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, SetUpDevice, nullptr, nullptr);
    return deviceReady;
}

} // namespace

HANDLE OpenDeviceHandle()
{
    return DeviceReady() ? OpenDevice() : nullptr;
}

namespace {

// Each thread that completes requests keeps one event for it: making and closing one for every
// completion would cost two more trips to the server each time.
DWORD completionEventSlot = TLS_OUT_OF_INDEXES;

HANDLE ThreadCompletionEvent()
{
    auto event = static_cast<HANDLE>(TlsGetValue(completionEventSlot));
    if (!event) {
        // The request resets it as it starts, so an outcome that came too late for an earlier
        // wait does not end the next one.
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        TlsSetValue(completionEventSlot, event);
    }
    return event;
}

} // namespace

bool SetUpCompletionEvents()
{
    completionEventSlot = TlsAlloc();
    return completionEventSlot != TLS_OUT_OF_INDEXES;
}

void CloseCompletionEvent()
{
    if (completionEventSlot == TLS_OUT_OF_INDEXES)
        return;
    if (auto event = static_cast<HANDLE>(TlsGetValue(completionEventSlot))) {
        CloseHandle(event);
        TlsSetValue(completionEventSlot, nullptr);
    }
}

LONG CompletionStatus(DWORD error)
{
    // A provider that knows the system's own status of the operation gives that; a Winsock
    // error is carried in a status of the Winsock facility.
    if (error == 0 || (error & 0x80000000))
        return static_cast<LONG>(error);
    return winsockErrorStatus | static_cast<LONG>(error & 0xFFFF);
}

bool CompleteOnDeviceHandle(HANDLE handle, LPWSAOVERLAPPED overlapped, DWORD error, DWORD bytes)
{
    Ws2HandleCompletion completion;
    completion.status = CompletionStatus(error);
    completion.bytes = bytes;
    // The low bit of the application's event asks that no packet go to its port.
    ULONG_PTR eventBits = reinterpret_cast<ULONG_PTR>(overlapped->hEvent);
    HANDLE applicationEvent = reinterpret_cast<HANDLE>(eventBits & ~static_cast<ULONG_PTR>(1));
    void* portContext = (eventBits & 1) ? nullptr : overlapped;
    // The request ends in Wine's device host, a moment after the call. The caller is told only
    // once the overlapped structure and the port have the outcome, as when the platform
    // completes a request in the call: an application that sees a call succeed at once may
    // look at both right away. An event of its own tells this thread; the application's is
    // set after.
    HANDLE done = ThreadCompletionEvent();
    if (!done)
        return false;
    // The provider's thread may be the application's, whose last error this must not change.
    DWORD lastError = GetLastError();
    NTSTATUS status = NtDeviceIoControlFile(
        handle, done, nullptr, portContext, reinterpret_cast<PIO_STATUS_BLOCK>(overlapped),
        WS2_HANDLE_COMPLETE_REQUEST, &completion, sizeof completion, nullptr, 0);
    bool issued = status == STATUS_PENDING || NT_SUCCESS(status);
    if (issued) {
        WaitForSingleObject(done, completionWaitMilliseconds);
        if (applicationEvent)
            SetEvent(applicationEvent);
    }
    SetLastError(issued ? lastError : RtlNtStatusToDosError(status));
    return issued;
}
