// Socket creation, connection set-up and tear-down on the real library's sockets.
#include "BaseProvider.h"

namespace {

// Wine's WSADuplicateSocketW hands over the duplicated handle in dwServiceFlags3 and marks the
// protocol information with this value in dwServiceFlags4, which its WSASocketW recognises.
const DWORD wineDuplicateMark = 0xff00ff00;

// A layer above passes on only dwProviderReserved of the protocol information it is given, so
// the handle travels there too, tagged in the top four bits: no catalog id or process id comes
// near them, and a handle, a multiple of four, keeps its value in the other 28 once shifted.
const DWORD duplicateTag = 0xD0000000;
const DWORD duplicateTagMask = 0xF0000000;

DWORD DuplicateReserved(const WSAPROTOCOL_INFOW& duplicate)
{
    return duplicateTag | (duplicate.dwServiceFlags3 >> 2);
}

// The information Wine's WSASocketW takes for a duplicate, or null when info is none.
const WSAPROTOCOL_INFOW* AsWineDuplicate(const WSAPROTOCOL_INFOW* info,
                                         WSAPROTOCOL_INFOW* scratch)
{
    if (!info)
        return nullptr;
    if (info->dwServiceFlags4 == wineDuplicateMark)
        return info;
    if ((info->dwProviderReserved & duplicateTagMask) != duplicateTag)
        return nullptr;
    *scratch = *info;
    scratch->dwServiceFlags3 = (info->dwProviderReserved & ~duplicateTagMask) << 2;
    scratch->dwServiceFlags4 = wineDuplicateMark;
    return scratch;
}

// An unspecified family, type or protocol comes from the entry the socket is made for.
int FromEntry(int value, int entryValue)
{
    return value == FROM_PROTOCOL_INFO || value == 0 ? entryValue : value;
}

// A layer above may pass its chain's entry instead of ours; ours is the chain's last link.
DWORD OwnCatalogId(const WSAPROTOCOL_INFOW* info)
{
    const WSAPROTOCOLCHAIN& chain = info->ProtocolChain;
    if (chain.ChainLen > BASE_PROTOCOL && chain.ChainLen <= MAX_PROTOCOL_CHAIN)
        return chain.ChainEntries[chain.ChainLen - 1];
    return info->dwCatalogEntryId;
}

} // namespace

SOCKET WSPAPI BaseSocket(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                         GROUP g, DWORD dwFlags, LPINT lpErrno)
{
    if (!lpProtocolInfo)
        return FailWith(WSAEINVAL, lpErrno);
    SOCKET realSocket;
    WSAPROTOCOL_INFOW scratch;
    if (const WSAPROTOCOL_INFOW* duplicate = AsWineDuplicate(lpProtocolInfo, &scratch)) {
        realSocket = real.WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                     const_cast<WSAPROTOCOL_INFOW*>(duplicate), g, dwFlags);
    } else {
        // Information that leaves the family unsaid names no socket to make; Wine's own would
        // otherwise pick one for the protocol alone.
        int family = FromEntry(af, lpProtocolInfo->iAddressFamily);
        if (family == AF_UNSPEC)
            return FailWith(WSAEAFNOSUPPORT, lpErrno);
        RememberEntry(lpProtocolInfo);
        realSocket = real.WSASocketW(family,
                                     FromEntry(type, lpProtocolInfo->iSocketType),
                                     FromEntry(protocol, lpProtocolInfo->iProtocol), nullptr, g,
                                     dwFlags);
    }
    if (realSocket == INVALID_SOCKET)
        return FailWithRealError(lpErrno);
    return RegisterRealSocket(OwnCatalogId(lpProtocolInfo), realSocket, lpErrno);
}

SOCKET WSPAPI BaseAccept(SOCKET s, sockaddr* addr, LPINT addrlen, LPCONDITIONPROC lpfnCondition,
                         DWORD_PTR dwCallbackData, LPINT lpErrno)
{
    SOCKET realSocket = real.WSAAccept(s, addr, addrlen, lpfnCondition, dwCallbackData);
    if (realSocket == INVALID_SOCKET)
        return FailWithRealError(lpErrno);
    WSAPROTOCOL_INFOW entry;
    if (!FindEntryForSocket(realSocket, &entry)) {
        real.closesocket(realSocket);
        return FailWith(WSAEPROVIDERFAILEDINIT, lpErrno);
    }
    return RegisterRealSocket(entry.dwCatalogEntryId, realSocket, lpErrno);
}

int WSPAPI BaseBind(SOCKET s, const sockaddr* name, int namelen, LPINT lpErrno)
{
    return real.bind(s, name, namelen) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseListen(SOCKET s, int backlog, LPINT lpErrno)
{
    return real.listen(s, backlog) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseConnect(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                       LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, LPINT lpErrno)
{
    int result = real.WSAConnect(s, name, namelen, lpCallerData, lpCalleeData, lpSQOS, lpGQOS);
    return result == 0 ? 0 : FailWithRealError(lpErrno);
}

SOCKET WSPAPI BaseJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData,
                           LPWSABUF lpCalleeData, LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags,
                           LPINT lpErrno)
{
    if (!real.WSAJoinLeaf)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    SetLastError(WSAEOPNOTSUPP); // Wine's stub fails without setting an error
    SOCKET leaf =
        real.WSAJoinLeaf(s, name, namelen, lpCallerData, lpCalleeData, lpSQOS, lpGQOS, dwFlags);
    return leaf == INVALID_SOCKET ? FailWithRealError(lpErrno) : leaf;
}

int WSPAPI BaseShutdown(SOCKET s, int how, LPINT lpErrno)
{
    return real.shutdown(s, how) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseCloseSocket(SOCKET s, LPINT lpErrno)
{
    return real.closesocket(s) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseGetPeerName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    return real.getpeername(s, name, namelen) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseGetSockName(SOCKET s, sockaddr* name, LPINT namelen, LPINT lpErrno)
{
    return real.getsockname(s, name, namelen) == 0 ? 0 : FailWithRealError(lpErrno);
}

int WSPAPI BaseDuplicateSocket(SOCKET s, DWORD dwProcessId, LPWSAPROTOCOL_INFOW lpProtocolInfo,
                               LPINT lpErrno)
{
    if (!real.WSADuplicateSocketW)
        return FailWith(WSAEOPNOTSUPP, lpErrno);
    WSAPROTOCOL_INFOW entry;
    if (!FindEntryForSocket(s, &entry))
        return FailWith(WSAENOTSOCK, lpErrno);
    WSAPROTOCOL_INFOW duplicate;
    if (real.WSADuplicateSocketW(s, dwProcessId, &duplicate) != 0)
        return FailWithRealError(lpErrno);
    // The other process's Winsock layer finds the provider by this entry; Wine finds the
    // duplicated handle by its two marks.
    entry.dwServiceFlags3 = duplicate.dwServiceFlags3;
    entry.dwServiceFlags4 = duplicate.dwServiceFlags4;
    entry.dwProviderReserved = DuplicateReserved(duplicate);
    *lpProtocolInfo = entry;
    return 0;
}
