// Address conversions, done by the provider of the first entry for the address family.
#include "EntryChoice.h"
#include "Routing.h"

namespace {

constexpr DWORD longestAddressString = 256; // far above any IPv6 address with scope and port

Provider* ProviderForFamily(int af, LPWSAPROTOCOL_INFOW info, CatalogEntry& entry, int* error)
{
    if (!WinsockStarted()) {
        *error = WSANOTINITIALISED;
        return nullptr;
    }
    if ((*error = ChooseFamilyEntry(af, info, entry)) != 0)
        return nullptr;
    return StartProviderFor(entry.info, entry.path, error);
}

} // namespace

extern "C" {

INT WSAAPI WSAAddressToStringW(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPWSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength)
{
    if (!lpsaAddress || dwAddressLength < sizeof(lpsaAddress->sa_family) ||
        !lpdwAddressStringLength)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
    ProviderCall inside;
    CatalogEntry entry;
    int error = 0;
    Provider* provider = ProviderForFamily(lpsaAddress->sa_family, lpProtocolInfo, entry, &error);
    if (!provider)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, error);
    int result = provider->procTable.lpWSPAddressToString(
        lpsaAddress, dwAddressLength, lpProtocolInfo ? lpProtocolInfo : &entry.info,
        lpszAddressString, lpdwAddressStringLength, &error);
    return Finish(result, SOCKET_ERROR, error);
}

INT WSAAPI WSAAddressToStringA(LPSOCKADDR lpsaAddress, DWORD dwAddressLength,
                               LPWSAPROTOCOL_INFOA lpProtocolInfo, LPSTR lpszAddressString,
                               LPDWORD lpdwAddressStringLength)
{
    if (!lpdwAddressStringLength)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
    WSAPROTOCOL_INFOW wideInfo;
    if (lpProtocolInfo) {
        memcpy(&wideInfo, lpProtocolInfo, offsetof(WSAPROTOCOL_INFOA, szProtocol));
        wideInfo.szProtocol[0] = L'\0';
    }
    WCHAR wide[longestAddressString];
    DWORD wideLength = longestAddressString;
    if (WSAAddressToStringW(lpsaAddress, dwAddressLength, lpProtocolInfo ? &wideInfo : nullptr,
                            wide, &wideLength) == SOCKET_ERROR)
        return SOCKET_ERROR;
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (!lpszAddressString || *lpdwAddressStringLength < static_cast<DWORD>(needed)) {
        *lpdwAddressStringLength = needed;
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEFAULT);
    }
    WideCharToMultiByte(CP_ACP, 0, wide, -1, lpszAddressString, needed, nullptr, nullptr);
    *lpdwAddressStringLength = needed;
    return 0;
}

INT WSAAPI WSAStringToAddressW(LPWSTR AddressString, INT AddressFamily,
                               LPWSAPROTOCOL_INFOW lpProtocolInfo, LPSOCKADDR lpAddress,
                               LPINT lpAddressLength)
{
    if (!AddressString || !lpAddress || !lpAddressLength)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    ProviderCall inside;
    CatalogEntry entry;
    int error = 0;
    Provider* provider = ProviderForFamily(AddressFamily, lpProtocolInfo, entry, &error);
    if (!provider)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, error);
    int result = provider->procTable.lpWSPStringToAddress(
        AddressString, AddressFamily, lpProtocolInfo ? lpProtocolInfo : &entry.info, lpAddress,
        lpAddressLength, &error);
    return Finish(result, SOCKET_ERROR, error);
}

INT WSAAPI WSAStringToAddressA(LPSTR AddressString, INT AddressFamily,
                               LPWSAPROTOCOL_INFOA lpProtocolInfo, LPSOCKADDR lpAddress,
                               LPINT lpAddressLength)
{
    if (!AddressString)
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    WCHAR wide[longestAddressString];
    if (!MultiByteToWideChar(CP_ACP, 0, AddressString, -1, wide, longestAddressString))
        return Finish(SOCKET_ERROR, SOCKET_ERROR, WSAEINVAL);
    WSAPROTOCOL_INFOW wideInfo;
    if (lpProtocolInfo) {
        memcpy(&wideInfo, lpProtocolInfo, offsetof(WSAPROTOCOL_INFOA, szProtocol));
        wideInfo.szProtocol[0] = L'\0';
    }
    return WSAStringToAddressW(wide, AddressFamily, lpProtocolInfo ? &wideInfo : nullptr,
                               lpAddress, lpAddressLength);
}

} // extern "C"
