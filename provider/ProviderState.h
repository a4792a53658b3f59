// Provider-wide state: the lower-provider table, the private heap, the upcall table copy, the
// start-up count and the locks. Created by the first WSPStartup and destroyed by teardown.
#pragma once
#include <winsock2.h>
#include <ws2spi.h>
#include <mswsock.h>

struct SocketContext;

// One protocol chain of the catalog whose first element is this layer.
struct LowerProvider {
    WSAPROTOCOL_INFOW nextProtocolInfo;    // entry of the next provider down
    WSAPROTOCOL_INFOW chainProtocolInfo;   // the chain entry itself
    WSPPROC_TABLE procTable;               // the next provider's entries
    LPFN_ACCEPTEX acceptEx;                // extension functions of the next provider, fetched
    LPFN_TRANSMITFILE transmitFile;        // the first time each is needed
    LPFN_TRANSMITPACKETS transmitPackets;
    LPFN_CONNECTEX connectEx;
    LPFN_DISCONNECTEX disconnectEx;
    LPFN_WSARECVMSG recvMsg;
    LPFN_GETACCEPTEXSOCKADDRS getAcceptExSockaddrs;   // for the AcceptEx report's address text
    WCHAR providerPath[MAX_PATH];
    WCHAR expandedPath[MAX_PATH];
    char providerPathAnsi[MAX_PATH];
    char expandedPathAnsi[MAX_PATH];
    int pathLength;
    HMODULE module;
    LPWSPSTARTUP startup;
    SocketContext* sockets;   // newest first, guarded by lock
    CRITICAL_SECTION lock;
    BOOL started;             // the next provider's WSPStartup succeeded, so it needs a WSPCleanup
};

// Locks, outermost first; where one is held while another is taken, they follow this order:
//   startupLock               WSPStartup and WSPCleanup, each as a whole
//   a SocketContext's lock    at most one at a time
//   mainLock                  start-up state, teardown, handle lookups (FindContext, ReleaseContext)
//   a LowerProvider's lock    its socket list
//   poolLock                  the operation pool, the work queue and the manager's handles
// The last WSPCleanup stops the overlapped manager holding startupLock alone: the workers take
// mainLock to finish what they are doing.
extern CRITICAL_SECTION startupLock;
extern CRITICAL_SECTION mainLock;
extern WSPUPCALLTABLE upcallTable;
extern WSPPROC_TABLE providerProcTable;
extern WSPDATA providerData;
extern int startupCount;
extern DWORD layerCatalogId;
extern HANDLE privateHeap;
extern LowerProvider* providerTable;
extern int providerCount;
extern HANDLE contextAddedEvent;

// Owned by process attach and detach.
extern HMODULE moduleHandle;
extern CRITICAL_SECTION poolLock;
extern DWORD blockingProviderSlot;
extern volatile LONG detaching;

const DWORD PrivateHeapInitialSize = 128000;

// Returns 0 when all thirty entries are set, else -1.
int ValidateProcTable(const WSPPROC_TABLE* table);

// Stops and unloads every lower provider, closing their sockets with teardown reports. Called
// with mainLock held. With waitForCalls, calls still inside a socket are given a few seconds to
// leave (mainLock is let go meanwhile); whatever a call still uses is never freed under it.
void ShutdownProviders(int* errorCell, BOOL waitForCalls);

// The lower provider a thread is inside of, for WSPCancelBlockingCall.
void SetBlockingProvider(LowerProvider* provider);
LowerProvider* GetBlockingProvider();

// Fills the layer's own procedure table with its thirty entries.
void FillProviderProcTable(WSPPROC_TABLE* table);
