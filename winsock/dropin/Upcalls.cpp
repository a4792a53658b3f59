// The upcalls a provider makes into the Winsock layer, and WPUCompleteOverlappedRequest, which
// providers import by name.
#include "HandleDevice.h"
#include "HandleTable.h"
#include "Providers.h"

namespace {

BOOL WSPAPI CloseEventUpcall(WSAEVENT hEvent, LPINT lpErrno)
{
    if (CloseHandle(hEvent))
        return TRUE;
    *lpErrno = WSA_INVALID_HANDLE;
    return FALSE;
}

int WSPAPI CloseSocketHandleUpcall(SOCKET s, LPINT lpErrno)
{
    if (CloseMadeHandle(s))
        return 0;
    *lpErrno = WSAENOTSOCK;
    return SOCKET_ERROR;
}

WSAEVENT WSPAPI CreateEventUpcall(LPINT lpErrno)
{
    WSAEVENT event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        *lpErrno = WSA_NOT_ENOUGH_MEMORY;
    return event;
}

// Finding a provider may read the catalog and start one; nothing of that may throw into the
// provider that made the upcall, which is built without exceptions.
Provider* ProviderWithoutThrowing(DWORD catalogId)
{
    try {
        return ProviderOfCatalogId(catalogId);
    } catch (...) {
        return nullptr;
    }
}

SOCKET WSPAPI CreateSocketHandleUpcall(DWORD dwCatalogEntryId, DWORD_PTR dwContext, LPINT lpErrno)
{
    Provider* provider = ProviderWithoutThrowing(dwCatalogEntryId);
    if (!provider) {
        *lpErrno = WSAEINVAL;
        return INVALID_SOCKET;
    }
    return MakeSocketHandle(provider, dwContext, lpErrno);
}

int WSPAPI FDIsSetUpcall(SOCKET s, fd_set* fdset)
{
    for (u_int i = 0; i < fdset->fd_count; ++i)
        if (fdset->fd_array[i] == s)
            return 1;
    return 0;
}

SOCKET WSPAPI ModifyIfsHandleUpcall(DWORD dwCatalogEntryId, SOCKET ProposedHandle, LPINT lpErrno)
{
    if (ProposedHandle == INVALID_SOCKET || ProposedHandle == 0) {
        *lpErrno = WSAENOTSOCK;
        return INVALID_SOCKET;
    }
    Provider* provider = ProviderWithoutThrowing(dwCatalogEntryId);
    if (!provider) {
        *lpErrno = WSAEINVAL;
        return INVALID_SOCKET;
    }
    if (!RecordIfsHandle(ProposedHandle, provider)) {
        *lpErrno = WSAENOBUFS;
        return INVALID_SOCKET;
    }
    return ProposedHandle;
}

BOOL WSPAPI PostMessageUpcall(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(hWnd, Msg, wParam, lParam);
}

// No blocking hooks exist in Winsock 2, so there is never a callback to run.
int WSPAPI QueryBlockingCallbackUpcall(DWORD, LPBLOCKINGCALLBACK* lplpfnCallback,
                                       PDWORD_PTR lpdwContext, LPINT)
{
    *lplpfnCallback = nullptr;
    *lpdwContext = 0;
    return 0;
}

int WSPAPI QuerySocketHandleContextUpcall(SOCKET s, PDWORD_PTR lpContext, LPINT lpErrno)
{
    SocketOwner owner;
    if (!FindSocketOwner(s, owner) || !owner.madeHere) {
        *lpErrno = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    *lpContext = owner.context;
    return 0;
}

int WSPAPI QueueApcUpcall(LPWSATHREADID lpThreadId, LPWSAUSERAPC lpfnUserApc, DWORD_PTR dwContext,
                          LPINT lpErrno)
{
    if (!lpThreadId || !QueueUserAPC(lpfnUserApc, lpThreadId->ThreadHandle, dwContext)) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    return 0;
}

BOOL WSPAPI ResetEventUpcall(WSAEVENT hEvent, LPINT lpErrno)
{
    if (ResetEvent(hEvent))
        return TRUE;
    *lpErrno = WSA_INVALID_HANDLE;
    return FALSE;
}

BOOL WSPAPI SetEventUpcall(WSAEVENT hEvent, LPINT lpErrno)
{
    if (SetEvent(hEvent))
        return TRUE;
    *lpErrno = WSA_INVALID_HANDLE;
    return FALSE;
}

int WSPAPI OpenCurrentThreadUpcall(LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        *lpErrno = WSAENOBUFS;
        return SOCKET_ERROR;
    }
    lpThreadId->ThreadHandle = thread;
    lpThreadId->Reserved = GetCurrentThreadId();
    return 0;
}

int WSPAPI CloseThreadUpcall(LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    if (!CloseHandle(lpThreadId->ThreadHandle)) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    return 0;
}

const WSPUPCALLTABLE upcallTable = {
    .lpWPUCloseEvent = CloseEventUpcall,
    .lpWPUCloseSocketHandle = CloseSocketHandleUpcall,
    .lpWPUCreateEvent = CreateEventUpcall,
    .lpWPUCreateSocketHandle = CreateSocketHandleUpcall,
    .lpWPUFDIsSet = FDIsSetUpcall,
    .lpWPUGetProviderPath = WSCGetProviderPath,
    .lpWPUModifyIFSHandle = ModifyIfsHandleUpcall,
    .lpWPUPostMessage = PostMessageUpcall,
    .lpWPUQueryBlockingCallback = QueryBlockingCallbackUpcall,
    .lpWPUQuerySocketHandleContext = QuerySocketHandleContextUpcall,
    .lpWPUQueueApc = QueueApcUpcall,
    .lpWPUResetEvent = ResetEventUpcall,
    .lpWPUSetEvent = SetEventUpcall,
    .lpWPUOpenCurrentThread = OpenCurrentThreadUpcall,
    .lpWPUCloseThread = CloseThreadUpcall,
};

} // namespace

const WSPUPCALLTABLE& UpcallTable()
{
    return upcallTable;
}

extern "C" int WSPAPI WPUCompleteOverlappedRequest(SOCKET s, LPWSAOVERLAPPED lpOverlapped,
                                                   DWORD dwError, DWORD cbTransferred,
                                                   LPINT lpErrno)
{
    SocketOwner owner;
    if (!FindSocketOwner(s, owner) || !owner.madeHere || !lpOverlapped) {
        if (lpErrno)
            *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    LONG status = dwError == WSS_OPERATION_IN_PROGRESS ? WSAEINVAL : static_cast<LONG>(dwError);
    // The driver completes the application's own request on the handle, so its event, its port
    // with its key, and the status and byte count come out as Windows gives them.
    if (owner.deviceHandle) {
        if (CompleteOnDeviceHandle(reinterpret_cast<HANDLE>(s), lpOverlapped,
                                   static_cast<DWORD>(status), cbTransferred))
            return 0;
        // The application closed the handle itself, or a new object took its value.
        if (lpErrno)
            *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    // An event handle cannot reach a port: only Internal and InternalHigh are the Winsock
    // layer's, as Offset and OffsetHigh belong to the provider, which keeps its own record of
    // the outcome there for its WSPGetOverlappedResult. The byte count goes first, then the
    // status a waiter polls on, which never again reads "in progress": a status of the system,
    // as the device writes it, so that whoever reads it reads the provider's error.
    lpOverlapped->InternalHigh = cbTransferred;
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&lpOverlapped->Internal),
                        CompletionStatus(static_cast<DWORD>(status)));
    // The low bit of the event handle asks that no completion be posted; the event still fires.
    if (HANDLE event = reinterpret_cast<HANDLE>(
            reinterpret_cast<ULONG_PTR>(lpOverlapped->hEvent) & ~static_cast<ULONG_PTR>(1)))
        SetEvent(event);
    return 0;
}
