// The channel to the viewer: the claim of the shared control block and the records sent to the
// viewer's window as synchronous WM_COPYDATA messages.
#pragma once
#include <winsock2.h>
#include "LogRecord.h"

// Destination of records; 0 when this process is not traced. Once 0 again, it stays 0.
extern HWND volatile viewerWindow;
extern DWORD tracedProcessId;
extern DWORD detailLevel;
extern HANDLE channelHeap;

const DWORD ChannelHeapInitialSize = 4096;
// The most bytes of a transfer one data record carries; its count still says how many moved.
const DWORD DataRecordByteLimit = 1024 * 1024;

extern const char* const OutOfMemoryText;

void AttachToViewer();
void DetachFromViewer();

// Every argument after the format is a NUL-terminated string; the list ends with nullptr.
void SendTextRecord(const char* format, ...);
void SendKindRecord(DWORD payloadLength, const void* payload, const char* format, ...);
void SendDataRecord(DWORD payloadLength, const void* payload);

// A data payload (kind, socket, count, and at High the bytes) in channelHeap, or null. The caller
// frees it with HeapFree on channelHeap.
BYTE* BuildDataPayload(DWORD* payloadLength, SOCKET socket, const WSABUF* buffers,
                       DWORD bufferCount, DWORD byteCount, DWORD kind);
// Gathers at most limit bytes from the buffers into destination; returns the bytes copied.
DWORD CopyBufferData(const WSABUF* buffers, DWORD bufferCount, DWORD limit, BYTE* destination);

// Sends a data event the way the detail level asks: payload and text at Medium and High, the
// payload alone at Low. The format's arguments follow as for SendTextRecord.
void SendDataEvent(SOCKET socket, const WSABUF* buffers, DWORD bufferCount, DWORD byteCount,
                   DWORD kind, const char* format, ...);
// As SendDataEvent, with the 12-byte header alone whatever the level: the count without bytes.
void SendCountEvent(SOCKET socket, DWORD byteCount, DWORD kind, const char* format, ...);
