// WSPIoctl, the base handle it answers itself, and the extension functions it hands out. The
// real library's own extension functions (AcceptEx, ConnectEx, DisconnectEx, TransmitFile,
// WSARecvMsg, WSASendMsg, GetAcceptExSockaddrs) work on its real handles, which are the
// application's handles, so they are handed out unchanged; where it lacks one
// (TransmitPackets), the provider's own is handed out instead.
#include "BaseProvider.h"
#include "TransmitPackets.h"

#include <mswsock.h>

namespace {

const GUID transmitPacketsId = WSAID_TRANSMITPACKETS;

bool AsksFor(const GUID& id, DWORD code, LPVOID in, DWORD inLength)
{
    return code == SIO_GET_EXTENSION_FUNCTION_POINTER && in && inLength >= sizeof(GUID) &&
           memcmp(in, &id, sizeof id) == 0;
}

int HandOutOwn(void* function, LPVOID out, DWORD outLength, LPDWORD lpcbBytesReturned,
               LPINT lpErrno)
{
    if (!out || outLength < sizeof function)
        return FailWith(WSAEFAULT, lpErrno);
    memcpy(out, &function, sizeof function);
    if (lpcbBytesReturned)
        *lpcbBytesReturned = sizeof function;
    return 0;
}

// The codes by which a layer's caller asks for the handle of the base provider below every
// layer, which Wine's own does not answer (it answers SIO_BASE_HANDLE itself). This provider is
// that base, and its sockets are the real library's handles: the answer is the socket itself.
// The drop-in's WSAPoll asks with SIO_BSP_HANDLE_POLL, as Windows' does.
const DWORD baseHandleCodes[] = {SIO_BSP_HANDLE, SIO_BSP_HANDLE_SELECT, SIO_BSP_HANDLE_POLL};

bool AsksForBaseHandle(DWORD code)
{
    for (DWORD known : baseHandleCodes)
        if (code == known)
            return true;
    return false;
}

int HandOutHandle(SOCKET s, LPVOID out, DWORD outLength, LPDWORD lpcbBytesReturned,
                  LPINT lpErrno)
{
    if (!out || outLength < sizeof s)
        return FailWith(WSAEFAULT, lpErrno);
    memcpy(out, &s, sizeof s);
    if (lpcbBytesReturned)
        *lpcbBytesReturned = sizeof s;
    return 0;
}

} // namespace

int WSPAPI BaseIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer,
                     LPVOID lpvOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbBytesReturned,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine, LPWSATHREADID,
                     LPINT lpErrno)
{
    if (AsksForBaseHandle(dwIoControlCode) && !lpOverlapped)
        return HandOutHandle(s, lpvOutBuffer, cbOutBuffer, lpcbBytesReturned, lpErrno);
    int result = real.WSAIoctl(s, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer,
                               cbOutBuffer, lpcbBytesReturned, lpOverlapped, lpCompletionRoutine);
    if (result == 0)
        return 0;
    int error = real.WSAGetLastError();
    if (error != WSA_IO_PENDING &&
        AsksFor(transmitPacketsId, dwIoControlCode, lpvInBuffer, cbInBuffer))
        return HandOutOwn(reinterpret_cast<void*>(&BaseTransmitPackets), lpvOutBuffer,
                          cbOutBuffer, lpcbBytesReturned, lpErrno);
    return FailWith(error, lpErrno);
}
