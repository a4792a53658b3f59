// Calls that make or end sockets: the provider is chosen from the catalog at creation and
// owns the handle from then on.
#include "EntryChoice.h"
#include "Routing.h"

namespace {

SOCKET CreateSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo, GROUP g,
                    DWORD dwFlags)
{
    ProviderCall inside;
    if (!WinsockStarted())
        return Finish(INVALID_SOCKET, INVALID_SOCKET, WSANOTINITIALISED);
    CatalogEntry entry;
    if (int error = ChooseSocketEntry(af, type, protocol, lpProtocolInfo, entry))
        return Finish(INVALID_SOCKET, INVALID_SOCKET, error);
    int error = 0;
    Provider* provider = StartProviderFor(entry.info, entry.path, &error);
    if (!provider)
        return Finish(INVALID_SOCKET, INVALID_SOCKET, error);
    SOCKET s = provider->procTable.lpWSPSocket(af, type, protocol,
                                               lpProtocolInfo ? lpProtocolInfo : &entry.info, g,
                                               dwFlags, &error);
    AdoptIfUnknown(s, provider);
    // A new socket leaves no stale error behind, from the catalog reads on the way or the
    // provider's own work, as Windows and Wine's own clear it.
    if (s != INVALID_SOCKET)
        WSASetLastError(0);
    return Finish(s, INVALID_SOCKET, error);
}

void ToAnsi(const WSAPROTOCOL_INFOW& from, WSAPROTOCOL_INFOA& to)
{
    memcpy(&to, &from, offsetof(WSAPROTOCOL_INFOW, szProtocol));
    WideCharToMultiByte(CP_ACP, 0, from.szProtocol, -1, to.szProtocol, sizeof to.szProtocol,
                        nullptr, nullptr);
    to.szProtocol[sizeof to.szProtocol - 1] = '\0';
}

void ToWide(const WSAPROTOCOL_INFOA& from, WSAPROTOCOL_INFOW& to)
{
    memcpy(&to, &from, offsetof(WSAPROTOCOL_INFOA, szProtocol));
    MultiByteToWideChar(CP_ACP, 0, from.szProtocol, -1, to.szProtocol, WSAPROTOCOL_LEN + 1);
    to.szProtocol[WSAPROTOCOL_LEN] = L'\0';
}

bool ProcessCanTakeHandles(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId);
    if (!process)
        return false;
    CloseHandle(process);
    return true;
}

SOCKET AcceptOn(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC condition,
                DWORD_PTR callbackData)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return INVALID_SOCKET;
    int error = 0;
    SOCKET accepted =
        owner.provider->procTable.lpWSPAccept(s, addr, addrlen, condition, callbackData, &error);
    AdoptIfUnknown(accepted, owner.provider);
    return Finish(accepted, INVALID_SOCKET, error);
}

} // namespace

extern "C" {

// Overlapped unless the thread asked for synchronous sockets with SO_OPENTYPE.
SOCKET WSAAPI socket(int af, int type, int protocol)
{
    return CreateSocket(af, type, protocol, nullptr, 0,
                        ThreadOpenType() == 0 ? WSA_FLAG_OVERLAPPED : 0);
}

SOCKET WSAAPI WSASocketW(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                         GROUP g, DWORD dwFlags)
{
    return CreateSocket(af, type, protocol, lpProtocolInfo, g, dwFlags);
}

SOCKET WSAAPI WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA lpProtocolInfo,
                         GROUP g, DWORD dwFlags)
{
    if (!lpProtocolInfo)
        return CreateSocket(af, type, protocol, nullptr, g, dwFlags);
    WSAPROTOCOL_INFOW wide;
    ToWide(*lpProtocolInfo, wide);
    return CreateSocket(af, type, protocol, &wide, g, dwFlags);
}

int WSAAPI closesocket(SOCKET s)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return SOCKET_ERROR;
    int error = 0;
    int result = owner.provider->procTable.lpWSPCloseSocket(s, &error);
    // A handle made here is given back by its provider through WPUCloseSocketHandle.
    if (result == 0 && !owner.madeHere)
        ForgetIfsHandle(s, owner);
    return Finish(result, SOCKET_ERROR, error);
}

SOCKET WSAAPI accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    return AcceptOn(s, addr, addrlen, nullptr, 0);
}

SOCKET WSAAPI WSAAccept(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC lpfnCondition,
                        DWORD_PTR dwCallbackData)
{
    return AcceptOn(s, addr, addrlen, lpfnCondition, dwCallbackData);
}

SOCKET WSAAPI WSAJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                          LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return INVALID_SOCKET;
    int error = 0;
    SOCKET joined = owner.provider->procTable.lpWSPJoinLeaf(
        s, name, namelen, lpCallerData, lpCalleeData, lpSQOS, lpGQOS, dwFlags, &error);
    AdoptIfUnknown(joined, owner.provider);
    return Finish(joined, INVALID_SOCKET, error);
}

// Checked in the order Windows and Wine's own check them: the handle, the process, then the
// structure, which a provider writes without asking whether it can.
int WSAAPI WSADuplicateSocketW(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOW lpProtocolInfo)
{
    ProviderCall inside;
    SocketOwner owner;
    if (!OwnerForCall(s, owner))
        return SOCKET_ERROR;
    if (!ProcessCanTakeHandles(dwProcessId))
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    if (IsBadWritePtr(lpProtocolInfo, sizeof *lpProtocolInfo))
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
    int error = 0;
    int result =
        owner.provider->procTable.lpWSPDuplicateSocket(s, dwProcessId, lpProtocolInfo, &error);
    return Finish(result, SOCKET_ERROR, error);
}

int WSAAPI WSADuplicateSocketA(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOA lpProtocolInfo)
{
    WSAPROTOCOL_INFOW wide;
    bool writable = !IsBadWritePtr(lpProtocolInfo, sizeof *lpProtocolInfo);
    int result = WSADuplicateSocketW(s, dwProcessId, writable ? &wide : nullptr);
    if (result == 0)
        ToAnsi(wide, *lpProtocolInfo);
    return result;
}

} // extern "C"
