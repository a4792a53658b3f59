// Socket control calls: control codes, options, event selection and shutdown.
#include "ChainIdentity.h"
#include "ControlReports.h"
#include "Entries.h"
#include "Formatting.h"
#include "ExtensionFunctions.h"
#include "HiddenWindow.h"
#include "OverlappedManager.h"
#include "SocketContext.h"
#include <cstddef>
#include <cstring>

// The fields the narrow and wide protocol records share, all before the name.
const int ProtocolInfoNameOffset = offsetof(WSAPROTOCOL_INFOA, szProtocol);

// The handle of the socket below, which the layer gives itself: the provider below would name
// its own socket's target. An overlapped request is completed at once, the way the application
// asked.
static int AnswerTargetHandle(SocketContext* context, LPVOID output, DWORD outputLength,
                              LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped,
                              LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, LPWSATHREADID threadId,
                              LPINT lpErrno)
{
    BOOL countWritable = bytesReturned ? !IsBadWritePtr(bytesReturned, sizeof(DWORD))
                                       : overlapped != nullptr;
    if (outputLength < sizeof(SOCKET) || IsBadWritePtr(output, sizeof(SOCKET)) ||
        !countWritable || (overlapped && IsBadWritePtr(overlapped, sizeof(*overlapped)))) {
        *lpErrno = WSAEFAULT;
        return SOCKET_ERROR;
    }
    SOCKET lowerSocket = context->lowerSocket;
    memcpy(output, &lowerSocket, sizeof(lowerSocket));
    if (bytesReturned)
        *bytesReturned = sizeof(lowerSocket);
    if (overlapped)
        CompleteAnsweredRequest(context, overlapped, routine, threadId, sizeof(lowerSocket));
    return 0;
}

// The extension request is answered at once, by the layer or by the provider below without the
// application's overlapped; an overlapped request is then completed as the platform completes
// it, with no bytes, through the application's port, event or routine.
static int AnswerExtensionPointer(SocketContext* context, LPVOID input, DWORD inputLength,
                                  LPVOID output, DWORD outputLength, LPDWORD bytesReturned,
                                  LPWSAOVERLAPPED overlapped,
                                  LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                                  LPWSATHREADID threadId, LPINT lpErrno)
{
    if (overlapped && (IsBadWritePtr(bytesReturned, sizeof(DWORD)) ||
                       IsBadWritePtr(overlapped, sizeof(*overlapped)))) {
        *lpErrno = WSAEFAULT;
        return SOCKET_ERROR;
    }
    BOOL forward = TRUE;
    int result = AnswerExtensionRequest(context, input, inputLength, output, outputLength,
                                        bytesReturned, lpErrno, &forward);
    if (forward)
        result = CALL_LOWER(context, lpWSPIoctl, SIO_GET_EXTENSION_FUNCTION_POINTER, input,
                            inputLength, output, outputLength, bytesReturned, nullptr, nullptr,
                            nullptr, lpErrno);
    if (result == 0 && overlapped)
        CompleteAnsweredRequest(context, overlapped, routine, threadId, 0);
    return result;
}

// An overlapped control request handed to the manager, which reports it at completion. FALSE
// when it could not be handed over at all (no record, the event not reset): that is not
// reported. Otherwise result and lpErrno are the call's.
static BOOL StartIoctl(SocketContext* context, DWORD code, LPVOID input, DWORD inputLength,
                       LPVOID output, DWORD outputLength, LPDWORD bytesReturned,
                       LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                       LPWSATHREADID threadId, LPINT lpErrno, int* result)
{
    *result = SOCKET_ERROR;
    PendingOperation* operation =
        PrepareOperation(context, OpIoctl, overlapped, routine, threadId, lpErrno);
    if (!operation)
        return FALSE;
    IoctlArgs& args = operation->args.ioctl;
    args.code = code;
    args.input = input;
    args.inputLength = inputLength;
    args.output = output;
    args.outputLength = outputLength;
    args.bytesReturned = ReadableValue(bytesReturned);
    args.countWanted = bytesReturned != nullptr;
    int issued = IssueOperation(operation, context, {bytesReturned});
    if (issued == 0)
        *result = 0;
    else
        *lpErrno = issued;
    return TRUE;
}

int WSPAPI WSPIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer,
                    LPVOID lpvOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbBytesReturned,
                    LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine,
                    LPWSATHREADID lpThreadId, LPINT lpErrno)
{
    SocketContext* context = FindContext(s, lpErrno);
    if (!context) {
        *lpErrno = WSAENOTSOCK;
        ReportIoctl(SOCKET_ERROR, s, nullptr, dwIoControlCode, lpvInBuffer, cbInBuffer,
                    lpvOutBuffer, cbOutBuffer, 0, lpErrno);
        return SOCKET_ERROR;
    }
    BOOL managed = ManagedOverlapped(context, lpOverlapped, lpCompletionRoutine != nullptr);
    int result;
    if (dwIoControlCode == SIO_GET_EXTENSION_FUNCTION_POINTER) {
        result = AnswerExtensionPointer(context, lpvInBuffer, cbInBuffer, lpvOutBuffer,
                                        cbOutBuffer, lpcbBytesReturned, lpOverlapped,
                                        lpCompletionRoutine, lpThreadId, lpErrno);
    } else if (dwIoControlCode == SIO_QUERY_TARGET_PNP_HANDLE) {
        result = AnswerTargetHandle(context, lpvOutBuffer, cbOutBuffer, lpcbBytesReturned,
                                    lpOverlapped, lpCompletionRoutine, lpThreadId, lpErrno);
    } else if (managed) {
        if (StartIoctl(context, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer,
                       cbOutBuffer, lpcbBytesReturned, lpOverlapped, lpCompletionRoutine,
                       lpThreadId, lpErrno, &result) &&
            result == SOCKET_ERROR && *lpErrno != WSA_IO_PENDING)
            ReportIoctl(result, s, context, dwIoControlCode, lpvInBuffer, cbInBuffer,
                        lpvOutBuffer, cbOutBuffer, 0, lpErrno);
    } else {
        result = CALL_LOWER(context, lpWSPIoctl, dwIoControlCode, lpvInBuffer, cbInBuffer,
                            lpvOutBuffer, cbOutBuffer, lpcbBytesReturned, lpOverlapped,
                            lpCompletionRoutine, lpThreadId, lpErrno);
        ReportIoctl(result, s, context, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer,
                    cbOutBuffer, ReadableValue(lpcbBytesReturned), lpErrno);
    }
    ReleaseAfterCall(context);
    return result;
}

// The provider below describes the socket, and its checks and sizes are the ones the application
// would meet without the layer; the record names the chain the socket was opened through, so that
// a socket made from it is traced too.
static int ForwardProtocolInfo(SocketContext* context, int level, int optname, char* optval,
                               LPINT optlen, LPINT lpErrno)
{
    int result = CALL_LOWER(context, lpWSPGetSockOpt, level, optname, optval, optlen, lpErrno);
    if (result == 0 && !IsBadWritePtr(optval, ProtocolInfoNameOffset))
        TakeEntryIdentity(optval, context->provider->chainProtocolInfo);
    return result;
}

int WSPAPI WSPGetSockOpt(SOCKET s, int level, int optname, char* optval, LPINT optlen,
                         LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            if (level == SOL_SOCKET &&
                (optname == SO_PROTOCOL_INFOW || optname == SO_PROTOCOL_INFOA))
                return ForwardProtocolInfo(context, level, optname, optval, optlen, lpErrno);
            return CALL_LOWER(context, lpWSPGetSockOpt, level, optname, optval, optlen, lpErrno);
        },
        [&](int result, SocketContext*) {
            ReportGetSockOpt(result, s, level, optname, optval, optlen, lpErrno);
        });
}

// The option's value names the listening socket by its layered handle; the provider below
// knows only its own.
static int UpdateAcceptContext(SocketContext* context, int level, const char* optval, int optlen,
                               LPINT lpErrno)
{
    SOCKET listening;
    if (IsBadReadPtr(optval, sizeof(SOCKET)) || optlen < static_cast<int>(sizeof(SOCKET))) {
        *lpErrno = WSAEFAULT;
        return SOCKET_ERROR;
    }
    memcpy(&listening, optval, sizeof(listening));
    SocketContext* listener = FindContext(listening, lpErrno);
    if (!listener) {
        *lpErrno = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    SOCKET lowerListening = listener->lowerSocket;
    // The value below holds one handle, whatever length the application gave with its own.
    int result = CALL_LOWER(context, lpWSPSetSockOpt, level, SO_UPDATE_ACCEPT_CONTEXT,
                            reinterpret_cast<const char*>(&lowerListening),
                            static_cast<int>(sizeof(lowerListening)), lpErrno);
    if (result == 0) {
        context->eventMask = listener->eventMask;
        context->blocking = listener->blocking;
        context->flags = listener->flags;
    }
    int releaseError = 0;
    ReleaseContext(listener, &releaseError);
    return result;
}

int WSPAPI WSPSetSockOpt(SOCKET s, int level, int optname, const char* optval, int optlen,
                         LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            if (optname == SO_UPDATE_ACCEPT_CONTEXT)
                return UpdateAcceptContext(context, level, optval, optlen, lpErrno);
            return CALL_LOWER(context, lpWSPSetSockOpt, level, optname, optval, optlen, lpErrno);
        },
        [&](int result, SocketContext*) {
            ReportSetSockOpt(result, s, level, optname, optval, optlen, lpErrno);
        });
}

// Every network event a window can ask for, FD_READ through FD_ADDRESS_LIST_CHANGE.
const LONG AsyncSelectEventLimit = 0x3FF;

int WSPAPI WSPAsyncSelect(SOCKET s, HWND hWnd, unsigned int wMsg, LONG lEvent, LPINT lpErrno)
{
    if (!IsWindow(hWnd) || (lEvent & ~AsyncSelectEventLimit)) {
        *lpErrno = WSAEINVAL;
        ReportAsyncSelect(SOCKET_ERROR, nullptr, s, hWnd, wMsg, lEvent, lpErrno);
        return SOCKET_ERROR;
    }
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            // The hidden window forwards to these; they are in place before the first
            // notification can come.
            LockContext(context);
            context->asyncWindow = hWnd;
            context->asyncMessage = wMsg;
            UnlockContext(context);
            EnterCriticalSection(&mainLock);
            HWND hidden = EnsureHiddenWindow();
            LeaveCriticalSection(&mainLock);
            if (!hidden) {
                *lpErrno = WSAEINVAL;
                return SOCKET_ERROR;
            }
            return CALL_LOWER(context, lpWSPAsyncSelect, hidden, HiddenNotifyMessage, lEvent,
                              lpErrno);
        },
        [&](int result, SocketContext* context) {
            ReportAsyncSelect(result, context, s, hWnd, wMsg, lEvent, lpErrno);
        });
}

int WSPAPI WSPEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) {
            return CALL_LOWER(context, lpWSPEventSelect, hEventObject, lNetworkEvents, lpErrno);
        },
        [&](int result, SocketContext* context) {
            ReportEventSelect(result, context, s, hEventObject, lNetworkEvents, lpErrno);
        });
}

int WSPAPI WSPEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject,
                                LPWSANETWORKEVENTS lpNetworkEvents, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, SOCKET_ERROR, [&](SocketContext* context) {
        return CALL_LOWER(context, lpWSPEnumNetworkEvents, hEventObject, lpNetworkEvents, lpErrno);
    });
}

BOOL WSPAPI WSPGetQOSByName(SOCKET s, LPWSABUF lpQOSName, LPQOS lpQOS, LPINT lpErrno)
{
    return ForwardOnSocket(s, lpErrno, FALSE, [&](SocketContext* context) {
        return CALL_LOWER(context, lpWSPGetQOSByName, lpQOSName, lpQOS, lpErrno);
    });
}

int WSPAPI WSPShutdown(SOCKET s, int how, LPINT lpErrno)
{
    return TraceOnSocket(
        s, lpErrno, SOCKET_ERROR,
        [&](SocketContext* context) { return CALL_LOWER(context, lpWSPShutdown, how, lpErrno); },
        [&](int result, SocketContext*) { ReportShutdown(result, s, how, lpErrno); });
}
