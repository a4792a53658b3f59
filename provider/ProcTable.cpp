// The layer's own procedure table, in WSPPROC_TABLE slot order.
#include "Entries.h"

void FillProviderProcTable(WSPPROC_TABLE* table)
{
    *table = WSPPROC_TABLE{
        WSPAccept,         WSPAddressToString,     WSPAsyncSelect,     WSPBind,
        WSPCancelBlockingCall, WSPCleanup,         WSPCloseSocket,     WSPConnect,
        WSPDuplicateSocket, WSPEnumNetworkEvents,  WSPEventSelect,     WSPGetOverlappedResult,
        WSPGetPeerName,    WSPGetSockName,         WSPGetSockOpt,      WSPGetQOSByName,
        WSPIoctl,          WSPJoinLeaf,            WSPListen,          WSPRecv,
        WSPRecvDisconnect, WSPRecvFrom,            WSPSelect,          WSPSend,
        WSPSendDisconnect, WSPSendTo,              WSPSetSockOpt,      WSPShutdown,
        WSPSocket,         WSPStringToAddress,
    };
}
