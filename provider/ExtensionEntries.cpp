// The six replacements. Each finds its socket's context, fetches the lower function on first
// need, traces where it has a report, and calls below: at once without an overlapped (or in a
// process no viewer traces), through the overlapped manager with one. Failure is told through
// the last error, set after the reports, whose own calls may change it.
#include "DataReports.h"
#include "ExtensionFunctions.h"
#include "ExtensionReports.h"
#include "Formatting.h"
#include "OverlappedManager.h"
#include <cstring>

static BOOL FailWith(int error)
{
    WSASetLastError(error);
    return FALSE;
}

// done, with the last error set to error when not.
static BOOL Finish(BOOL done, int error)
{
    if (!done)
        WSASetLastError(error);
    return done;
}

static int ErrorAfter(BOOL done)
{
    return done ? 0 : WSAGetLastError();
}

// A record of the kind, its arguments stored by fill (0, or an error that refuses the call),
// then issued: 0, WSA_IO_PENDING or the error of a call that did not get under way. A call
// done at once leaves its byte count in bytes.
template <typename Fill>
static int Issue(SocketContext* context, OperationKind kind, LPWSAOVERLAPPED overlapped,
                 LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID thread, Fill fill,
                 LPDWORD bytes = nullptr)
{
    int error = 0;
    PendingOperation* operation =
        PrepareOperation(context, kind, overlapped, routine, thread, &error);
    if (!operation)
        return error;
    error = fill(operation);
    if (error) {
        DiscardOperation(operation);
        return error;
    }
    return IssueOperation(operation, context, {bytes});
}

BOOL PASCAL LayerTransmitFile(SOCKET hSocket, HANDLE hFile, DWORD nNumberOfBytesToWrite,
                              DWORD nNumberOfBytesPerSend, LPOVERLAPPED lpOverlapped,
                              LPTRANSMIT_FILE_BUFFERS lpTransmitBuffers, DWORD dwReserved)
{
    int error = 0;
    SocketContext* context = FindContext(hSocket, &error);
    if (!context)
        return FailWith(error ? error : WSAENOTSOCK);
    auto lower = reinterpret_cast<LPFN_TRANSMITFILE>(LowerExtension(context, ExtensionTransmitFile));
    if (!lower) {
        ReleaseAfterCall(context);
        return FailWith(WSAEFAULT);
    }
    ReportTransmitFileStart(context, hFile, nNumberOfBytesToWrite, nNumberOfBytesPerSend,
                            lpOverlapped, lpTransmitBuffers, dwReserved);
    if (!ManagedOverlapped(context, lpOverlapped, FALSE)) {
        BOOL done = lower(context->lowerSocket, hFile, nNumberOfBytesToWrite,
                          nNumberOfBytesPerSend, lpOverlapped,
                          lpTransmitBuffers, dwReserved);
        error = ErrorAfter(done);
        if (error != WSA_IO_PENDING)
            ReportTransmitFileResult(done, hSocket, -1, error);
        ReleaseAfterCall(context);
        return Finish(done, error);
    }
    error = Issue(context, OpTransmitFile, lpOverlapped, nullptr, nullptr,
                  [&](PendingOperation* operation) {
                      operation->args.transmitFile = {hFile, nNumberOfBytesToWrite,
                                                      nNumberOfBytesPerSend, lpTransmitBuffers,
                                                      dwReserved};
                      return 0;
                  });
    if (error != 0 && error != WSA_IO_PENDING)
        ReportTransmitFileResult(FALSE, hSocket, 0, error);
    ReleaseAfterCall(context);
    return Finish(error == 0, error);
}

// Looks up both sockets of an AcceptEx: 0, or the error with no reference kept.
static int FindAcceptExContexts(SOCKET listening, SOCKET accepting,
                                SocketContext** listeningContext,
                                SocketContext** acceptingContext)
{
    int error = 0;
    *listeningContext = FindContext(listening, &error);
    *acceptingContext = FindContext(accepting, &error);
    if (*listeningContext && *acceptingContext) {
        // One lower call takes both lower sockets: they must be of the same provider.
        if ((*listeningContext)->provider == (*acceptingContext)->provider)
            return 0;
        error = WSAEINVAL;
    } else {
        error = WSAENOTSOCK;
    }
    if (*listeningContext)
        ReleaseAfterCall(*listeningContext);
    if (*acceptingContext)
        ReleaseAfterCall(*acceptingContext);
    return error;
}

BOOL PASCAL LayerAcceptEx(SOCKET sListenSocket, SOCKET sAcceptSocket, PVOID lpOutputBuffer,
                          DWORD dwReceiveDataLength, DWORD dwLocalAddressLength,
                          DWORD dwRemoteAddressLength, LPDWORD lpdwBytesReceived,
                          LPOVERLAPPED lpOverlapped)
{
    // The platform marks the request under way before it looks at the sockets, so a refusal
    // leaves it so.
    if (lpOverlapped && !IsBadWritePtr(lpOverlapped, sizeof(*lpOverlapped)))
        lpOverlapped->Internal = WSS_OPERATION_IN_PROGRESS;
    SocketContext *listening, *accepting;
    int error = FindAcceptExContexts(sListenSocket, sAcceptSocket, &listening, &accepting);
    if (error) {
        ReportAcceptExFailure(sListenSocket, sAcceptSocket, error);
        return FailWith(error);
    }
    auto lower = reinterpret_cast<LPFN_ACCEPTEX>(LowerExtension(listening, ExtensionAcceptEx));
    if (!lower) {
        ReportAcceptExFailure(sListenSocket, sAcceptSocket, WSAEFAULT);
        ReleaseAfterCall(accepting);
        ReleaseAfterCall(listening);
        return FailWith(WSAEFAULT);
    }
    // Only for the report's address text: without it the address is not shown.
    LowerExtension(listening, ExtensionGetAcceptExSockaddrs);
    ReportAcceptExStart(sListenSocket, sAcceptSocket);
    if (!ManagedOverlapped(listening, lpOverlapped, FALSE)) {
        BOOL done = lower(listening->lowerSocket, accepting->lowerSocket, lpOutputBuffer,
                          dwReceiveDataLength, dwLocalAddressLength, dwRemoteAddressLength,
                          lpdwBytesReceived, lpOverlapped);
        error = ErrorAfter(done);
        // A call done at once says in its cell how many of the first bytes came with it.
        DWORD received = done ? ReadableValue(lpdwBytesReceived) : 0;
        AddToTotal(&accepting->bytesReceived, received);
        if (error != WSA_IO_PENDING)
            ReportAcceptExResult(done, sListenSocket, sAcceptSocket, lpOutputBuffer,
                                 dwReceiveDataLength, dwLocalAddressLength,
                                 dwRemoteAddressLength, received, error,
                                 listening->provider->getAcceptExSockaddrs);
        ReleaseAfterCall(accepting);
        ReleaseAfterCall(listening);
        return Finish(done, error);
    }
    error = Issue(listening, OpAcceptEx, lpOverlapped, nullptr, nullptr,
                  [&](PendingOperation* operation) {
                      operation->args.acceptEx = {sAcceptSocket, accepting->lowerSocket,
                                                  lpOutputBuffer, dwReceiveDataLength,
                                                  dwLocalAddressLength, dwRemoteAddressLength,
                                                  ReadableValue(lpdwBytesReceived)};
                      operation->provider = accepting->provider;
                      return 0;
                  },
                  lpdwBytesReceived);
    if (error != 0 && error != WSA_IO_PENDING)
        ReportAcceptExResult(FALSE, sListenSocket, sAcceptSocket, lpOutputBuffer,
                             dwReceiveDataLength, dwLocalAddressLength, dwRemoteAddressLength, 0,
                             error, nullptr);
    ReleaseAfterCall(accepting);
    ReleaseAfterCall(listening);
    return Finish(error == 0, error);
}

// The record has room for any socket address; a longer one, or one that cannot be read, is
// refused rather than cut.
static int TakeConnectExAddress(ConnectExArgs& args, const sockaddr* name, int namelen)
{
    if (namelen < 0 || namelen > OperationAddressLimit ||
        (namelen && IsBadReadPtr(name, namelen)))
        return WSAEFAULT;
    if (namelen)
        memcpy(args.address, name, namelen);
    args.addressLength = namelen;
    return 0;
}

BOOL PASCAL LayerConnectEx(SOCKET s, const sockaddr* name, int namelen, PVOID lpSendBuffer,
                           DWORD dwSendDataLength, LPDWORD lpdwBytesSent,
                           LPOVERLAPPED lpOverlapped)
{
    int error = 0;
    SocketContext* context = FindContext(s, &error);
    if (!context) {
        ReportConnectExFailure(s, name, namelen, WSAENOTSOCK);
        return FailWith(WSAENOTSOCK);
    }
    auto lower = reinterpret_cast<LPFN_CONNECTEX>(LowerExtension(context, ExtensionConnectEx));
    if (!lower) {
        ReportConnectExFailure(s, name, namelen, WSAEFAULT);
        ReleaseAfterCall(context);
        return FailWith(WSAEFAULT);
    }
    ReportConnectExStart(s, name, namelen);
    if (!ManagedOverlapped(context, lpOverlapped, FALSE)) {
        BOOL done = lower(context->lowerSocket, name, namelen, lpSendBuffer, dwSendDataLength,
                          lpdwBytesSent, lpOverlapped);
        error = ErrorAfter(done);
        // The first bytes went with the connection; the close report counts them.
        if (done && !lpOverlapped)
            AddToTotal(&context->bytesSent, ReadableValue(lpdwBytesSent));
        if (error != WSA_IO_PENDING)
            ReportConnectExResult(done, s, error);
        ReleaseAfterCall(context);
        return Finish(done, error);
    }
    error = Issue(context, OpConnectEx, lpOverlapped, nullptr, nullptr,
                  [&](PendingOperation* operation) {
                      ConnectExArgs& args = operation->args.connectEx;
                      args.socket = s;
                      args.sendBuffer = lpSendBuffer;
                      args.sendDataLength = dwSendDataLength;
                      args.bytesSent = ReadableValue(lpdwBytesSent);
                      return TakeConnectExAddress(args, name, namelen);
                  },
                  lpdwBytesSent);
    if (error != 0 && error != WSA_IO_PENDING)
        ReportConnectExResult(FALSE, s, error);
    ReleaseAfterCall(context);
    return Finish(error == 0, error);
}

// The untraced extensions: the socket's context, the lower function, and the call below, at
// once or through the manager (issue). Returns the call's success, with the last error set.
template <typename Direct, typename IssueCall>
static BOOL Untraced(SOCKET s, ExtensionFunction which, LPWSAOVERLAPPED overlapped, BOOL hasRoutine,
                     Direct direct, IssueCall issue)
{
    int error = 0;
    SocketContext* context = FindContext(s, &error);
    if (!context)
        return FailWith(error ? error : WSAENOTSOCK);
    void* lower = LowerExtension(context, which);
    if (!lower) {
        ReleaseAfterCall(context);
        return FailWith(WSAEFAULT);
    }
    if (!ManagedOverlapped(context, overlapped, hasRoutine)) {
        BOOL done = direct(context, lower, overlapped);
        error = ErrorAfter(done);
    } else {
        error = issue(context);
    }
    ReleaseAfterCall(context);
    return Finish(error == 0, error);
}

BOOL PASCAL LayerTransmitPackets(SOCKET hSocket, LPTRANSMIT_PACKETS_ELEMENT lpPacketArray,
                                 DWORD nElementCount, DWORD nSendSize, LPOVERLAPPED lpOverlapped,
                                 DWORD dwFlags)
{
    return Untraced(
        hSocket, ExtensionTransmitPackets, lpOverlapped, FALSE,
        [&](SocketContext* context, void* lower, LPOVERLAPPED overlapped) {
            return reinterpret_cast<LPFN_TRANSMITPACKETS>(lower)(
                context->lowerSocket, lpPacketArray, nElementCount, nSendSize, overlapped,
                dwFlags);
        },
        [&](SocketContext* context) {
            return Issue(context, OpTransmitPackets, lpOverlapped, nullptr, nullptr,
                         [&](PendingOperation* operation) {
                             operation->args.transmitPackets = {hSocket, lpPacketArray,
                                                                nElementCount, nSendSize, dwFlags};
                             return 0;
                         });
        });
}

BOOL PASCAL LayerDisconnectEx(SOCKET s, LPOVERLAPPED lpOverlapped, DWORD dwFlags,
                              DWORD dwReserved)
{
    return Untraced(
        s, ExtensionDisconnectEx, lpOverlapped, FALSE,
        [&](SocketContext* context, void* lower, LPOVERLAPPED overlapped) {
            return reinterpret_cast<LPFN_DISCONNECTEX>(lower)(context->lowerSocket, overlapped,
                                                              dwFlags, dwReserved);
        },
        [&](SocketContext* context) {
            return Issue(context, OpDisconnectEx, lpOverlapped, nullptr, nullptr,
                         [&](PendingOperation* operation) {
                             operation->args.disconnectEx = {s, dwFlags, dwReserved};
                             return 0;
                         });
        });
}

// With a completion routine, the record carries the issuing thread, opened for it and closed
// when the record is given back, so that the delivery step runs the routine there once.
static int IssueRecvMsg(SocketContext* context, SOCKET s, LPWSAMSG message, LPDWORD bytes,
                        LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    WSATHREADID thread = {};
    int error = 0;
    if (routine && upcallTable.lpWPUOpenCurrentThread(&thread, &error) == SOCKET_ERROR)
        return error ? error : WSAENOBUFS;
    BOOL owned = FALSE;
    error = Issue(context, OpRecvMsg, overlapped, routine, routine ? &thread : nullptr,
                  [&](PendingOperation* operation) {
                      operation->args.recvMsg = {s, message, ReadableValue(bytes)};
                      operation->ownsThread = owned = routine != nullptr;
                      return 0;
                  },
                  bytes);
    if (routine && !owned) {
        int closeError = 0;
        upcallTable.lpWPUCloseThread(&thread, &closeError);
    }
    return error;
}

INT PASCAL LayerRecvMsg(SOCKET s, LPWSAMSG lpMsg, LPDWORD lpdwNumberOfBytesRecvd,
                        LPWSAOVERLAPPED lpOverlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine)
{
    BOOL done = Untraced(
        s, ExtensionRecvMsg, lpOverlapped, lpCompletionRoutine != nullptr,
        [&](SocketContext* context, void* lower, LPWSAOVERLAPPED overlapped) {
            // The routine goes below only with the application's own overlapped.
            BOOL received = reinterpret_cast<LPFN_WSARECVMSG>(lower)(
                                context->lowerSocket, lpMsg, lpdwNumberOfBytesRecvd, overlapped,
                                overlapped ? lpCompletionRoutine : nullptr) != SOCKET_ERROR;
            // Not reported, but counted: the close report tells what the socket moved.
            if (received && !overlapped)
                AddToTotal(&context->bytesReceived, ReadableValue(lpdwNumberOfBytesRecvd));
            return received;
        },
        [&](SocketContext* context) {
            return IssueRecvMsg(context, s, lpMsg, lpdwNumberOfBytesRecvd, lpOverlapped,
                                lpCompletionRoutine);
        });
    return done ? 0 : SOCKET_ERROR;
}
