// Layout of the records a traced process sends the viewer as WM_COPYDATA messages.
//
// Buffer: a 32-bit payload length n, n payload bytes (the first word is the record kind when n is
// at least 4), then for text records the message in the ANSI code page with its NUL. A record
// carries text exactly when 4 + n is less than cbData.
#pragma once
#include <windows.h>

enum RecordKind : DWORD {
    RecordProcessAttached = 0,
    RecordSocketCreated = 1,
    RecordSocketClosed = 2,
    RecordDataSent = 3,
    RecordDataReceived = 4,
    RecordProcessDetached = 5,
};

const DWORD RecordLengthSize = 4;       // the payload length word before the payload
const DWORD KindPayloadSize = 4;        // kind
const DWORD SocketPayloadSize = 8;      // kind, socket
const DWORD DataHeaderSize = 12;        // kind, socket, count; at High the bytes follow

#pragma pack(push, 1)
struct DataPayloadHeader {
    DWORD kind;
    DWORD socket;
    DWORD count;   // bytes the operation moved; may exceed the bytes present after the header
};
#pragma pack(pop)
static_assert(sizeof(DataPayloadHeader) == DataHeaderSize, "record layout is shared");
