// Options, address conversion and the obsolete or unsupported quality-of-service and
// blocking-call entries.
#include "BaseProvider.h"

int WSPAPI BaseGetSockOpt(SOCKET s, int level, int optname, char* optval, LPINT optlen,
                          LPINT lpErrno)
{
    return real.getsockopt(s, level, optname, optval, optlen) == 0 ? 0
                                                                   : FailWithRealError(lpErrno);
}

int WSPAPI BaseSetSockOpt(SOCKET s, int level, int optname, const char* optval, int optlen,
                          LPINT lpErrno)
{
    return real.setsockopt(s, level, optname, optval, optlen) == 0 ? 0
                                                                   : FailWithRealError(lpErrno);
}

INT WSPAPI BaseAddressToString(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPWSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength, LPINT lpErrno)
{
    if (!real.WSAAddressToStringW)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    int result = real.WSAAddressToStringW(lpsaAddress, dwAddressLength, lpProtocolInfo,
                                          lpszAddressString, lpdwAddressStringLength);
    return result == 0 ? 0 : FailWithRealError(lpErrno);
}

INT WSPAPI BaseStringToAddress(LPWSTR AddressString, INT AddressFamily,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPSOCKADDR lpAddress,
                               LPINT lpAddressLength, LPINT lpErrno)
{
    if (!real.WSAStringToAddressW)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    int result = real.WSAStringToAddressW(AddressString, AddressFamily, lpProtocolInfo,
                                          lpAddress, lpAddressLength);
    return result == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseCancelBlockingCall(LPINT lpErrno)
{
    // Winsock 2 has no blocking hooks, so there is never a blocking call to cancel.
    if (!real.WSACancelBlockingCall)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    return real.WSACancelBlockingCall() == 0 ? 0 : FailWithRealError(lpErrno);
}

BOOL WSPAPI BaseGetQOSByName(SOCKET s, LPWSABUF lpQOSName, LPQOS lpQOS, LPINT lpErrno)
{
    if (!real.WSAGetQOSByName) {
        FailWith(WSAEOPNOTSUPP, lpErrno);
        return FALSE;
    }
    SetLastError(WSAEOPNOTSUPP); // Wine's stub fails without setting an error
    if (real.WSAGetQOSByName(s, lpQOSName, lpQOS))
        return TRUE;
    FailWithRealError(lpErrno);
    return FALSE;
}
