#include "OperationKinds.h"
#include "ControlReports.h"
#include "DataReports.h"
#include "ExtensionReports.h"
#include <cstddef>

static int ErrorOf(int result, int error)
{
    return result == SOCKET_ERROR ? error : 0;
}

static int CallIoctl(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                     LPWSATHREADID thread)
{
    IoctlArgs& a = op->args.ioctl;
    int error = 0;
    int result = op->provider->procTable.lpWSPIoctl(op->lowerSocket, a.code, a.input,
                                                    a.inputLength, a.output, a.outputLength,
                                                    a.countWanted ? &a.bytesReturned : nullptr,
                                                    &op->overlapped, routine,
                                                    thread, &error);
    return ErrorOf(result, error);
}

static int CallRecv(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                    LPWSATHREADID thread)
{
    TransferArgs& a = op->args.transfer;
    int error = 0;
    int result = op->provider->procTable.lpWSPRecv(op->lowerSocket, a.buffers, a.bufferCount,
                                                   &a.bytes, &a.flags, &op->overlapped, routine,
                                                   thread, &error);
    return ErrorOf(result, error);
}

static int CallRecvFrom(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                        LPWSATHREADID thread)
{
    TransferArgs& a = op->args.transfer;
    int error = 0;
    int result = op->provider->procTable.lpWSPRecvFrom(
        op->lowerSocket, a.buffers, a.bufferCount, &a.bytes, &a.flags, a.from, a.fromLength,
        &op->overlapped, routine, thread, &error);
    return ErrorOf(result, error);
}

static int CallSend(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                    LPWSATHREADID thread)
{
    TransferArgs& a = op->args.transfer;
    int error = 0;
    int result = op->provider->procTable.lpWSPSend(op->lowerSocket, a.buffers, a.bufferCount,
                                                   &a.bytes, a.flags, &op->overlapped, routine,
                                                   thread, &error);
    return ErrorOf(result, error);
}

static int CallSendTo(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                      LPWSATHREADID thread)
{
    SendToArgs& a = op->args.sendTo;
    const sockaddr* to = a.addressGiven ? reinterpret_cast<const sockaddr*>(a.address) : nullptr;
    int error = 0;
    int result = op->provider->procTable.lpWSPSendTo(
        op->lowerSocket, a.buffers, a.bufferCount, &a.bytes, a.flags, to, a.addressLength,
        &op->overlapped, routine, thread, &error);
    return ErrorOf(result, error);
}

static DWORD* TransferBytes(PendingOperation* op)
{
    return &op->args.transfer.bytes;
}

static DWORD* TransferFlags(PendingOperation* op)
{
    return &op->args.transfer.flags;
}

static void ReportRecvCompletion(PendingOperation* op, SocketContext* context, DWORD error,
                                 DWORD bytes, DWORD flags)
{
    const TransferArgs& a = op->args.transfer;
    int errorCell = static_cast<int>(error);
    ReportRecvResult(error ? SOCKET_ERROR : 0, context, a.buffers, a.bufferCount, &bytes, &flags,
                     &errorCell);
}

static void ReportRecvFromCompletion(PendingOperation* op, SocketContext* context, DWORD error,
                                     DWORD bytes, DWORD flags)
{
    const TransferArgs& a = op->args.transfer;
    int errorCell = static_cast<int>(error);
    ReportRecvFromResult(error ? SOCKET_ERROR : 0, context, a.buffers, a.bufferCount, &bytes,
                         &flags, a.from, a.fromLength, &errorCell);
}

static void ReportSendCompletion(PendingOperation* op, SocketContext* context, DWORD error,
                                 DWORD bytes, DWORD)
{
    const TransferArgs& a = op->args.transfer;
    int errorCell = static_cast<int>(error);
    ReportSendResult(error ? SOCKET_ERROR : 0, context, a.buffers, a.bufferCount, &bytes,
                     &errorCell);
}

// The send-to arguments begin as the transfer arguments do, so the transfer cells serve both.
static_assert(offsetof(SendToArgs, bytes) == offsetof(TransferArgs, bytes) &&
                  offsetof(SendToArgs, flags) == offsetof(TransferArgs, flags) &&
                  offsetof(SendToArgs, buffers) == offsetof(TransferArgs, buffers) &&
                  offsetof(SendToArgs, bufferCount) == offsetof(TransferArgs, bufferCount),
              "send-to arguments start like the other transfers");

// The extension functions: the slot of the record's provider was filled before the record was
// issued. Each tells failure by its result, and the code by the last error.
static int ErrorOfResult(BOOL done)
{
    return done ? 0 : WSAGetLastError();
}

static int TransmitFileBelow(PendingOperation* op)
{
    TransmitFileArgs& a = op->args.transmitFile;
    return ErrorOfResult(op->provider->transmitFile(op->lowerSocket, a.file, a.bytesToWrite,
                                                    a.bytesPerSend, &op->overlapped,
                                                    a.transmitBuffers, a.flags));
}

static int AcceptExBelow(PendingOperation* op)
{
    AcceptExArgs& a = op->args.acceptEx;
    return ErrorOfResult(op->provider->acceptEx(op->lowerSocket, a.lowerAcceptSocket,
                                                a.outputBuffer, a.receiveDataLength,
                                                a.localAddressLength, a.remoteAddressLength,
                                                &a.bytesReceived, &op->overlapped));
}

static int ConnectExBelow(PendingOperation* op)
{
    ConnectExArgs& a = op->args.connectEx;
    return ErrorOfResult(op->provider->connectEx(
        op->lowerSocket, reinterpret_cast<const sockaddr*>(a.address), a.addressLength,
        a.sendBuffer, a.sendDataLength, &a.bytesSent, &op->overlapped));
}

static int DisconnectExBelow(PendingOperation* op)
{
    DisconnectExArgs& a = op->args.disconnectEx;
    return ErrorOfResult(
        op->provider->disconnectEx(op->lowerSocket, &op->overlapped, a.flags, a.reserved));
}

static int TransmitPacketsBelow(PendingOperation* op)
{
    TransmitPacketsArgs& a = op->args.transmitPackets;
    return ErrorOfResult(op->provider->transmitPackets(op->lowerSocket, a.packets, a.elementCount,
                                                       a.sendSize, &op->overlapped, a.flags));
}

// The application's routine, if any, is run by the delivery step, never by the provider below.
static int RecvMsgBelow(PendingOperation* op)
{
    RecvMsgArgs& a = op->args.recvMsg;
    int result = op->provider->recvMsg(op->lowerSocket, a.message, &a.bytesReceived,
                                       &op->overlapped, nullptr);
    return result == SOCKET_ERROR ? WSAGetLastError() : 0;
}

// A routine is given only on the queue worker.
template <int (*Below)(PendingOperation*)>
static int CallExtension(PendingOperation* op, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                         LPWSATHREADID)
{
    return CallWithoutRoutine(op, routine != nullptr, Below);
}

static DWORD* TransmitFileFlags(PendingOperation* op)
{
    return &op->args.transmitFile.flags;
}

static DWORD* AcceptExBytes(PendingOperation* op)
{
    return &op->args.acceptEx.bytesReceived;
}

static DWORD* ConnectExBytes(PendingOperation* op)
{
    return &op->args.connectEx.bytesSent;
}

static DWORD* DisconnectExFlags(PendingOperation* op)
{
    return &op->args.disconnectEx.flags;
}

static DWORD* TransmitPacketsFlags(PendingOperation* op)
{
    return &op->args.transmitPackets.flags;
}

static DWORD* RecvMsgBytes(PendingOperation* op)
{
    return &op->args.recvMsg.bytesReceived;
}

static void ReportTransmitFileCompletion(PendingOperation* op, SocketContext*, DWORD error,
                                         DWORD bytes, DWORD)
{
    ReportTransmitFileResult(error == 0, op->socket, static_cast<LONG>(bytes),
                             static_cast<int>(error));
}

static void ReportAcceptExCompletion(PendingOperation* op, SocketContext*, DWORD error,
                                     DWORD bytes, DWORD)
{
    const AcceptExArgs& a = op->args.acceptEx;
    ReportAcceptExResult(error == 0, op->socket, a.acceptSocket, a.outputBuffer,
                         a.receiveDataLength, a.localAddressLength, a.remoteAddressLength, bytes,
                         static_cast<int>(error), op->provider->getAcceptExSockaddrs);
}

static void ReportConnectExCompletion(PendingOperation* op, SocketContext*, DWORD error, DWORD,
                                      DWORD)
{
    ReportConnectExResult(error == 0, op->args.connectEx.socket, static_cast<int>(error));
}

static DWORD* IoctlBytes(PendingOperation* op)
{
    return &op->args.ioctl.bytesReturned;
}

static void ReportIoctlCompletion(PendingOperation* op, SocketContext* context, DWORD error,
                                  DWORD bytes, DWORD)
{
    const IoctlArgs& a = op->args.ioctl;
    int errorCell = static_cast<int>(error);
    ReportIoctl(error ? SOCKET_ERROR : 0, context->layeredHandle, context, a.code, a.input,
                a.inputLength, a.output, a.outputLength, bytes, &errorCell);
}

// Indexed by OperationKind.
static const OperationKindRow KindTable[] = {
    {},                                                                               // 0
    {CallIoctl, IoctlBytes, nullptr, CountNothing, ReportIoctlCompletion, FALSE, TRUE},
    {CallRecv, TransferBytes, TransferFlags, CountReceived, ReportRecvCompletion, TRUE},
    {CallRecvFrom, TransferBytes, TransferFlags, CountReceived, ReportRecvFromCompletion, TRUE},
    {CallSend, TransferBytes, TransferFlags, CountSent, ReportSendCompletion, TRUE},
    {CallSendTo, TransferBytes, TransferFlags, CountSent, ReportSendCompletion, TRUE},
    {CallExtension<TransmitFileBelow>, nullptr, TransmitFileFlags, CountSent,
     ReportTransmitFileCompletion, FALSE},
    {CallExtension<AcceptExBelow>, AcceptExBytes, nullptr, CountAccepted,
     ReportAcceptExCompletion, FALSE},
    {CallExtension<ConnectExBelow>, ConnectExBytes, nullptr, CountSent,
     ReportConnectExCompletion, FALSE},
    {CallExtension<DisconnectExBelow>, nullptr, DisconnectExFlags, CountNothing, nullptr, FALSE},
    {CallExtension<TransmitPacketsBelow>, nullptr, TransmitPacketsFlags, CountNothing, nullptr,
     FALSE},
    {CallExtension<RecvMsgBelow>, RecvMsgBytes, nullptr, CountReceived, nullptr, FALSE},
};

const OperationKindRow* FindOperationKind(DWORD kind)
{
    if (kind >= sizeof(KindTable) / sizeof(KindTable[0]) || !KindTable[kind].call)
        return nullptr;
    return &KindTable[kind];
}

DWORD BytesCellValue(PendingOperation* operation)
{
    const OperationKindRow* row = FindOperationKind(operation->kind);
    return row && row->bytesCell ? *row->bytesCell(operation) : 0;
}

DWORD FlagsCellValue(PendingOperation* operation)
{
    const OperationKindRow* row = FindOperationKind(operation->kind);
    return row && row->flagsCell ? *row->flagsCell(operation) : 0;
}

void FreeBufferCopy(PendingOperation* operation)
{
    const OperationKindRow* row = FindOperationKind(operation->kind);
    if (!row || !row->copiesBuffers || !operation->args.transfer.buffers)
        return;
    HeapFree(privateHeap, 0, operation->args.transfer.buffers);
    operation->args.transfer.buffers = nullptr;
}
