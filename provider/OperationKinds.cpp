#include "OperationKinds.h"
#include "DataReports.h"
#include <cstddef>

static int ErrorOf(int result, int error)
{
    return result == SOCKET_ERROR ? error : 0;
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

// Indexed by OperationKind. The kinds of the extension functions and of the control codes
// join when their entries issue them.
static const OperationKindRow KindTable[] = {
    {},                                                                               // 0
    {},                                                                               // OpIoctl
    {CallRecv, TransferBytes, TransferFlags, CountReceived, ReportRecvCompletion, TRUE},
    {CallRecvFrom, TransferBytes, TransferFlags, CountReceived, ReportRecvFromCompletion, TRUE},
    {CallSend, TransferBytes, TransferFlags, CountSent, ReportSendCompletion, TRUE},
    {CallSendTo, TransferBytes, TransferFlags, CountSent, ReportSendCompletion, TRUE},
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
