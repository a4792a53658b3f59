// Wine's own Winsock library, loaded by its full system path, and the functions the base
// provider calls in it. Under the drop-in layer the name "ws2_32" means the drop-in, so
// the real one is reached only through this table.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>

// Every function the provider needs: X(name, required). An optional one may be missing from
// the real library; its entry then answers WSAEOPNOTSUPP.
#define REAL_WINSOCK_FUNCTIONS(X)     \
    X(WSAStartup, true)               \
    X(WSACleanup, true)               \
    X(WSAGetLastError, true)          \
    X(WSASocketW, true)               \
    X(closesocket, true)              \
    X(bind, true)                     \
    X(listen, true)                   \
    X(WSAConnect, true)               \
    X(WSAAccept, true)                \
    X(shutdown, true)                 \
    X(getpeername, true)              \
    X(getsockname, true)              \
    X(getsockopt, true)               \
    X(setsockopt, true)               \
    X(WSAIoctl, true)                 \
    X(WSASend, true)                  \
    X(WSASendTo, true)                \
    X(WSARecv, true)                  \
    X(WSARecvFrom, true)              \
    X(WSAGetOverlappedResult, true)   \
    X(select, true)                   \
    X(WSAAsyncSelect, true)           \
    X(WSAEventSelect, true)           \
    X(WSAEnumNetworkEvents, true)     \
    X(WSADuplicateSocketW, false)     \
    X(WSAJoinLeaf, false)             \
    X(WSAAddressToStringW, false)     \
    X(WSAStringToAddressW, false)     \
    X(WSACancelBlockingCall, false)   \
    X(WSAGetQOSByName, false)         \
    X(WSARecvDisconnect, false)       \
    X(WSASendDisconnect, false)

struct RealWinsock {
#define REAL_WINSOCK_MEMBER(name, required) decltype(&::name) name;
    REAL_WINSOCK_FUNCTIONS(REAL_WINSOCK_MEMBER)
#undef REAL_WINSOCK_MEMBER
};

// Filled by LoadRealWinsock; valid between a successful load and the matching unload.
extern RealWinsock real;

// Loads the library and resolves the table on the first call, counts later ones.
// Returns 0 or a Winsock error code.
int LoadRealWinsock();
// Balances LoadRealWinsock; the last call cleans up and frees the library. Returns the
// loads still outstanding, or -1 when nothing was loaded.
int UnloadRealWinsock();
