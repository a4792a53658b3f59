// What each kind of overlapped operation calls below, which of its arguments hold the byte count
// and the flags, which total it adds to, and how its completion is reported.
#pragma once
#include "OverlappedManager.h"

// CountAccepted: received, on the accepting socket of an AcceptEx rather than the record's.
enum OperationCounter { CountNothing, CountReceived, CountSent, CountAccepted };

struct OperationKindRow {
    // Makes the call below with the record's overlapped: 0, WSA_IO_PENDING or the error.
    int (*call)(PendingOperation* operation, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine,
                LPWSATHREADID thread);
    DWORD* (*bytesCell)(PendingOperation* operation);   // null: none
    DWORD* (*flagsCell)(PendingOperation* operation);   // null: none
    OperationCounter counter;
    // The completion report, with the final error, byte count and flags.
    void (*report)(PendingOperation* operation, SocketContext* context, DWORD error, DWORD bytes,
                   DWORD flags);
    BOOL copiesBuffers;   // owns a copy of the caller's WSABUF array
    BOOL countsFailures = FALSE;  // a call refused at once still gives its byte count (the size a
                                  // control request needed)
};

// The row of a kind, or null for a kind no entry issues yet.
const OperationKindRow* FindOperationKind(DWORD kind);

// The value of a cell of the kind, or 0 where it has none.
DWORD BytesCellValue(PendingOperation* operation);
DWORD FlagsCellValue(PendingOperation* operation);

// Frees the copy of the caller's buffer array, for the kinds that keep one.
void FreeBufferCopy(PendingOperation* operation);
