// Options, control codes (extension function pointers from below are handed up
// unchanged), address conversion and the remaining entries.
#include "PassLayer.h"

int WSPAPI PassGetSockOpt(SOCKET s, int level, int optname, char* optval, LPINT optlen,
                          LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPGetSockOpt(s, level, optname, optval, optlen, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassSetSockOpt(SOCKET s, int level, int optname, const char* optval, int optlen,
                          LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPSetSockOpt(s, level, optname, optval, optlen, lpErrno)
                 : SOCKET_ERROR;
}

int WSPAPI PassIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer,
                     LPVOID lpvOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbBytesReturned,
                     LPWSAOVERLAPPED lpOverlapped,
                     LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                     LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPIoctl(s, dwIoControlCode, lpvInBuffer, cbInBuffer,
                                           lpvOutBuffer, cbOutBuffer, lpcbBytesReturned,
                                           lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno)
                 : SOCKET_ERROR;
}

BOOL WSPAPI PassGetQOSByName(SOCKET s, LPWSABUF lpQOSName, LPQOS lpQOS, LPINT lpErrno)
{
    LowerProvider* lower = LowerForSocket(s, lpErrno);
    return lower ? lower->table.lpWSPGetQOSByName(s, lpQOSName, lpQOS, lpErrno) : FALSE;
}

INT WSPAPI PassAddressToString(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPWSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength, LPINT lpErrno)
{
    LowerProvider* lower = lpProtocolInfo ? LowerForEntry(lpProtocolInfo) : AnyLowerProvider();
    if (!lower) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    WSAPROTOCOL_INFOW info = LowerInfoFor(lower, lpProtocolInfo ? lpProtocolInfo : &lower->below);
    return lower->table.lpWSPAddressToString(lpsaAddress, dwAddressLength, &info,
                                             lpszAddressString, lpdwAddressStringLength, lpErrno);
}

INT WSPAPI PassStringToAddress(LPWSTR AddressString, INT AddressFamily,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPSOCKADDR lpAddress,
                               LPINT lpAddressLength, LPINT lpErrno)
{
    LowerProvider* lower = lpProtocolInfo ? LowerForEntry(lpProtocolInfo) : AnyLowerProvider();
    if (!lower) {
        *lpErrno = WSAEINVAL;
        return SOCKET_ERROR;
    }
    WSAPROTOCOL_INFOW info = LowerInfoFor(lower, lpProtocolInfo ? lpProtocolInfo : &lower->below);
    return lower->table.lpWSPStringToAddress(AddressString, AddressFamily, &info, lpAddress,
                                             lpAddressLength, lpErrno);
}

int WSPAPI PassCancelBlockingCall(LPINT lpErrno)
{
    LowerProvider* lower = AnyLowerProvider();
    if (!lower) {
        *lpErrno = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    return lower->table.lpWSPCancelBlockingCall(lpErrno);
}
