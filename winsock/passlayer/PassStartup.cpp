// WSPStartup and WSPCleanup of the pass-through layer.
#include "PassLayer.h"

#include <cwchar>

WSPUPCALLTABLE layerUpcalls;

namespace {

const wchar_t layerDescription[] = L"Pass-through layer";

const WSPPROC_TABLE procedureTable = {
    PassAccept,          PassAddressToString,   PassAsyncSelect,      PassBind,
    PassCancelBlockingCall, PassCleanup,        PassCloseSocket,      PassConnect,
    PassDuplicateSocket, PassEnumNetworkEvents, PassEventSelect,      PassGetOverlappedResult,
    PassGetPeerName,     PassGetSockName,       PassGetSockOpt,       PassGetQOSByName,
    PassIoctl,           PassJoinLeaf,          PassListen,           PassRecv,
    PassRecvDisconnect,  PassRecvFrom,          PassSelect,           PassSend,
    PassSendDisconnect,  PassSendTo,            PassSetSockOpt,       PassShutdown,
    PassSocket,          PassStringToAddress,
};

SRWLOCK startLock = SRWLOCK_INIT;
unsigned startCount;

} // namespace

extern "C" int WSPAPI WSPStartup(WORD wVersionRequested, LPWSPDATA lpWSPData,
                                 LPWSAPROTOCOL_INFOW lpProtocolInfo, WSPUPCALLTABLE UpcallTable,
                                 LPWSPPROC_TABLE lpProcTable)
{
    if (LOBYTE(wVersionRequested) < 2)
        return WSAVERNOTSUPPORTED;
    // A layer is only ever started for one of its chains.
    if (!lpProtocolInfo || lpProtocolInfo->ProtocolChain.ChainLen < 2 || !lpWSPData ||
        !lpProcTable)
        return WSAEINVAL;

    AcquireSRWLockExclusive(&startLock);
    layerUpcalls = UpcallTable;
    LowerProvider* lower;
    int error = StartLowerProvider(wVersionRequested, lpProtocolInfo, UpcallTable, lpWSPData,
                                   &lower);
    if (error == 0)
        ++startCount;
    ReleaseSRWLockExclusive(&startLock);
    if (error != 0)
        return error;

    lpWSPData->wVersion = MAKEWORD(2, 2);
    lpWSPData->wHighVersion = MAKEWORD(2, 2);
    wcsncpy(lpWSPData->szDescription, layerDescription, WSPDESCRIPTION_LEN);
    lpWSPData->szDescription[WSPDESCRIPTION_LEN] = L'\0';
    *lpProcTable = procedureTable;
    return 0;
}

int WSPAPI PassCleanup(LPINT lpErrno)
{
    AcquireSRWLockExclusive(&startLock);
    int error = 0;
    if (startCount == 0)
        error = WSANOTINITIALISED;
    else if (--startCount == 0)
        StopLowerProviders();
    ReleaseSRWLockExclusive(&startLock);
    if (error == 0)
        return 0;
    *lpErrno = error;
    return SOCKET_ERROR;
}
