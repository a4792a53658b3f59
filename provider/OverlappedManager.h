// The overlapped operation manager: the layer hands the provider below an overlapped structure of
// its own, learns of the completion through its completion port (or, where the port cannot carry
// a socket's completions, through completion routines run by a queue worker), reports it, and
// only then completes the application's request the way the application asked.
#pragma once
#include "ProviderState.h"
#include "SocketContext.h"

enum OperationKind : DWORD {
    OpIoctl = 1,
    OpRecv = 2,
    OpRecvFrom = 3,
    OpSend = 4,
    OpSendTo = 5,
    OpTransmitFile = 6,
    OpAcceptEx = 7,
    OpConnectEx = 8,
    OpDisconnectEx = 9,
    OpTransmitPackets = 10,
    OpRecvMsg = 11,
};

// Room for a copied socket address (OpSendTo, OpConnectEx): a SOCKADDR_STORAGE.
const int OperationAddressLimit = 128;

// OpRecv, OpRecvFrom and OpSend; for OpSend flags is the value passed, not a cell.
struct TransferArgs {
    WSABUF* buffers;        // the operation's own copy of the caller's array
    DWORD bufferCount;
    DWORD bytes;
    DWORD flags;
    sockaddr* from;         // OpRecvFrom: the caller's address buffer and its length cell
    LPINT fromLength;
};

struct SendToArgs {
    WSABUF* buffers;
    DWORD bufferCount;
    DWORD bytes;
    DWORD flags;
    BYTE address[OperationAddressLimit];
    int addressLength;
    BOOL addressGiven;      // false: the caller passed no destination
};

struct IoctlArgs {
    DWORD code;
    LPVOID input;
    DWORD inputLength;
    LPVOID output;
    DWORD outputLength;
    DWORD bytesReturned;
    BOOL countWanted;       // the application gave a cell for the byte count: the provider
                            // below refuses a call without one as it would refuse the caller
};

struct TransmitFileArgs {
    HANDLE file;
    DWORD bytesToWrite;
    DWORD bytesPerSend;
    LPTRANSMIT_FILE_BUFFERS transmitBuffers;
    DWORD flags;
};

struct AcceptExArgs {
    SOCKET acceptSocket;        // layered handle
    SOCKET lowerAcceptSocket;
    PVOID outputBuffer;
    DWORD receiveDataLength;
    DWORD localAddressLength;
    DWORD remoteAddressLength;
    DWORD bytesReceived;
};

struct ConnectExArgs {
    SOCKET socket;
    BYTE address[OperationAddressLimit];
    int addressLength;
    PVOID sendBuffer;
    DWORD sendDataLength;
    DWORD bytesSent;
};

struct DisconnectExArgs {
    SOCKET socket;
    DWORD flags;
    DWORD reserved;
};

struct TransmitPacketsArgs {
    SOCKET socket;
    LPTRANSMIT_PACKETS_ELEMENT packets;
    DWORD elementCount;
    DWORD sendSize;
    DWORD flags;
};

struct RecvMsgArgs {
    SOCKET socket;
    LPWSAMSG message;
    DWORD bytesReceived;
};

// Who finishes an operation. A record starts as the workers' (a port packet, a completion
// routine or the queue worker finish it). The thread that makes the call below in port mode
// holds it while the call runs: a packet that comes meanwhile is left to that thread, which
// finishes the operation itself when it completed at once or its packet came, and otherwise
// hands it to the workers.
enum OperationPhase : LONG {
    PhaseWorkers = 0,
    PhaseIssuing = 1,
    PhasePacketCame = 2,
    PhaseIssuer = 3,
};

// One overlapped operation in flight. overlapped comes first: the address the port or the lower
// provider's completion routine gives back is the record's own.
struct PendingOperation {
    WSAOVERLAPPED overlapped;
    LowerProvider* provider;
    SocketContext* context;
    SOCKET socket;              // the layered handle the application sees
    HANDLE handleWitness;       // the context's, see SocketContext
    SOCKET lowerSocket;
    int closeError;
    union {
        TransferArgs transfer;
        SendToArgs sendTo;
        IoctlArgs ioctl;
        TransmitFileArgs transmitFile;
        AcceptExArgs acceptEx;
        ConnectExArgs connectEx;
        DisconnectExArgs disconnectEx;
        TransmitPacketsArgs transmitPackets;
        RecvMsgArgs recvMsg;
    } args;
    DWORD kind;
    WSATHREADID threadId;
    LPWSAOVERLAPPED userOverlapped;
    LPWSAOVERLAPPED_COMPLETION_ROUTINE completionRoutine;
    PendingOperation* next;     // free list or work queue
    BOOL ownsThread;            // threadId was opened for the record, which closes it
    DWORD generation;           // the pool it was taken from (see OperationPool.h)
    // An operation that completes at once is finished by the thread that issued it, while the
    // port still brings its packet (see OperationPhase); the record goes back to the pool when
    // neither holds it any more (holders).
    volatile LONG phase;
    volatile LONG holders;
    // The status the caller's overlapped held before the call. The record's own starts with
    // it and the caller's count, so that a call refused at once leaves in the caller's what it
    // would have left there without the layer.
    ULONG_PTR callerStatus;
};

const int OperationBlockSize = 100;
const int MaxWorkerThreads = 32;

// Manager state, guarded by poolLock.
extern HANDLE completionPort;
extern HANDLE queueSemaphore;
extern HANDLE workerThreads[MaxWorkerThreads];
extern int workerCount;
extern HANDLE queueWorker;   // the queue's worker: queue mode's only one, or port mode's for
                             // sockets the port cannot carry

// TRUE in a process that no viewer traces (none claimed it at attach, so none ever will): its
// overlapped calls go straight to the provider below with the application's own overlapped,
// as there is nothing to report at their completion, and no manager is started until a socket
// needs it (ManagedOverlapped). Set by the first WSPStartup.
extern BOOL overlappedPassThrough;

// Whether an overlapped call on the socket goes through the manager: every one in a traced
// process. In an untraced one, a call with neither an event nor a completion routine is meant
// for a completion port: the provider below would complete it on its own socket, which the
// application never bound to its port, so the packet would never come. Such a call puts its
// socket's overlapped calls through the manager for good, starting it on first need; the
// manager completes them on the application's own handle. Other calls go below directly: a call
// with an event is taken to be waited for by its event, since putting every such call through
// the workers costs event-driven programs several times their speed under Wine.
BOOL ManagedOverlapped(SocketContext* context, const WSAOVERLAPPED* overlapped, BOOL hasRoutine);

// 0, WSAENOBUFS or WSAEPROVIDERFAILEDINIT; starts nothing when the manager runs. Called by the
// first WSPStartup under mainLock, and in an untraced process by ManagedOverlapped on first need.
int StartOverlappedManager();
// Ends every worker and closes the port and the queue. Called by the last WSPCleanup, which
// must not hold mainLock meanwhile: the workers take it to finish their operations.
int StopOverlappedManager();

// A zeroed record with the context's pending count raised, or null.
PendingOperation* AcquireOperation(SocketContext* context);
void ReleaseOperation(PendingOperation* operation);

// A Winsock error carried in a status, in the form the system turns back into the error itself
// (GetQueuedCompletionStatus, GetOverlappedResult), as the Winsock layer writes it.
const DWORD WinsockErrorStatusBase = 0xC0010000;
inline DWORD WinsockErrorStatus(DWORD error)
{
    return WinsockErrorStatusBase | (error & 0xFFFF);
}

// The event of an application's overlapped; its low bit only asks that no port completion be
// queued and is not part of the handle.
inline HANDLE ApplicationEvent(const WSAOVERLAPPED* overlapped)
{
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) &
                                    ~static_cast<ULONG_PTR>(1));
}

// The first steps every overlapped call shares: a record (WSAENOBUFS when none), the
// application's event reset when no routine will run (WSA_INVALID_HANDLE when it cannot be),
// and the record filled with what every kind needs. Null with the error in *error.
PendingOperation* PrepareOperation(SocketContext* context, OperationKind kind,
                                   LPWSAOVERLAPPED overlapped,
                                   LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                                   LPWSATHREADID threadId, int* error);
// Gives the record its own copy of the caller's buffer array: 0, WSAEFAULT when the array
// cannot be read, WSAENOBUFS when no memory is left.
int CopyBufferArray(PendingOperation* operation, const WSABUF* buffers, DWORD count);
// Undoes PrepareOperation for a call that goes no further.
void DiscardOperation(PendingOperation* operation);

// Makes the call below of a kind that takes no completion routine (the extension functions):
// 0, WSA_IO_PENDING or the error. On the queue worker (queued), where no port brings the
// completion, the record's overlapped carries an event of the layer's own that the worker waits
// on beside its queue; an operation done at once is completed there and then.
int CallWithoutRoutine(PendingOperation* operation, BOOL queued,
                       int (*call)(PendingOperation* operation));

// Where the application wants the byte count and flags of a call that completes at once; either
// may be null.
struct ImmediateResult {
    LPDWORD bytes = nullptr;
    LPDWORD flags = nullptr;
};

// 0 (done at once: the request is already completed, its byte count and flags written where
// the application asked, and its port packet, event or routine on the way, as the platform
// does), WSA_IO_PENDING, or the error of an immediate failure, after which the record is
// already back in the pool.
int IssueOperation(PendingOperation* operation, SocketContext* context,
                   ImmediateResult immediate = {});

// The completion step, in the form of a Winsock completion routine. error WSA_IO_PENDING means
// a port completion, whose outcome is asked of the provider below. The first call for a record
// finishes the operation; each call gives up one hold on the record.
void CALLBACK CompleteOperation(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD flags);
// Completes at once, through the channel the application chose (its port or event, or its
// routine on its thread), an overlapped request the layer answered itself without a call below.
// No record and no worker take part, so it works whether or not the manager runs.
void CompleteAnsweredRequest(SocketContext* context, LPWSAOVERLAPPED overlapped,
                             LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID threadId,
                             DWORD bytes);
// The operation's one finish: its outcome (asked of the provider below when error is
// WSA_IO_PENDING), the totals, the report, the delivery to the application and its end on the
// socket. Holds are not touched.
void FinishOperation(PendingOperation* operation, DWORD error, DWORD bytes, DWORD flags);
// Gives up one hold on the record; the last one returns it to the pool.
void DropOperationHold(PendingOperation* operation);

// The end of a record's life on its socket: lowers the pending count and finishes a deferred
// close that waited for it.
void OperationFinished(PendingOperation* operation);

// The upcall that completes the application's request; tests put a fake of their own here.
typedef int(WSPAPI* CompleteRequestFunction)(SOCKET, LPWSAOVERLAPPED, DWORD, DWORD, LPINT);
extern CompleteRequestFunction completeOverlappedRequest;
// Whether the application's handle still names the socket's object (witness: the layer's own
// handle to it, or null when it has none); tests put a fake here too.
typedef BOOL (*HandleOpenFunction)(SOCKET socket, HANDLE witness);
extern HandleOpenFunction socketHandleOpen;

// Tests only: FALSE makes the next start use the work queue as if no port could be made.
void AllowCompletionPort(BOOL allowed);
