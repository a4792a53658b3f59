// WSPStartup and WSPCleanup: version check, the procedure table, the upcall table, and the
// real library's lifetime (loaded by the first start, freed by the last cleanup).
#include "BaseProvider.h"
#include "TransmitPackets.h"

#include <cwchar>

WSPUPCALLTABLE upcalls;

namespace {

const WORD supportedVersion = MAKEWORD(2, 2);
const wchar_t providerDescription[] = L"Kestrix base provider over Wine sockets";

const WSPPROC_TABLE procedureTable = {
    BaseAccept,          BaseAddressToString,  BaseAsyncSelect,         BaseBind,
    BaseCancelBlockingCall, BaseCleanup,       BaseCloseSocket,         BaseConnect,
    BaseDuplicateSocket, BaseEnumNetworkEvents, BaseEventSelect,        BaseGetOverlappedResult,
    BaseGetPeerName,     BaseGetSockName,      BaseGetSockOpt,          BaseGetQOSByName,
    BaseIoctl,           BaseJoinLeaf,         BaseListen,              BaseRecv,
    BaseRecvDisconnect,  BaseRecvFrom,         BaseSelect,              BaseSend,
    BaseSendDisconnect,  BaseSendTo,           BaseSetSockOpt,          BaseShutdown,
    BaseSocket,          BaseStringToAddress,
};

} // namespace

extern "C" int WSPAPI WSPStartup(WORD wVersionRequested, LPWSPDATA lpWSPData,
                                 LPWSAPROTOCOL_INFOW lpProtocolInfo, WSPUPCALLTABLE UpcallTable,
                                 LPWSPPROC_TABLE lpProcTable)
{
    if (LOBYTE(wVersionRequested) < 2)
        return WSAVERNOTSUPPORTED;
    if (!lpWSPData || !lpProcTable)
        return WSAEFAULT;
    int error = LoadRealWinsock();
    if (error != 0)
        return error;

    upcalls = UpcallTable;
    if (lpProtocolInfo)
        RememberEntry(lpProtocolInfo);

    lpWSPData->wVersion = supportedVersion;
    lpWSPData->wHighVersion = supportedVersion;
    wcsncpy(lpWSPData->szDescription, providerDescription, WSPDESCRIPTION_LEN);
    lpWSPData->szDescription[WSPDESCRIPTION_LEN] = L'\0';
    *lpProcTable = procedureTable;
    return 0;
}

int WSPAPI BaseCleanup(LPINT lpErrno)
{
    int remaining = UnloadRealWinsock();
    if (remaining < 0)
        return FailWith(WSANOTINITIALISED, lpErrno);
    if (remaining == 0)
        FreeParkedTransmitBuffers();
    return 0;
}
