#include "Channel.h"
#include "ControlBlock.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>

HWND volatile viewerWindow;
DWORD tracedProcessId;
DWORD detailLevel;
HANDLE channelHeap;

const char* const OutOfMemoryText = "The application that Kestrix is spying is out of memory";
static const char* const ProcessAttachedText = "process attached, command line='%s'";
static const char* const ProcessDetachedText = "process detached";

static void HandleOutOfMemory()
{
    // Tracing stops here for good, so the box is shown at most once per process.
    if (InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&viewerWindow), nullptr))
        MessageBoxA(nullptr, OutOfMemoryText, nullptr, MB_OK);
}

static void Send(void* buffer, DWORD size)
{
    HWND window = viewerWindow;
    if (!window)
        return;
    COPYDATASTRUCT data = {tracedProcessId, size, buffer};
    if (SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) != 0)
        viewerWindow = nullptr;
}

// The size is an upper bound: format and arguments measured in full, "%s" places included.
static BYTE* AllocRecord(DWORD payloadLength, const char* format, va_list arguments, DWORD* size)
{
    DWORD total = RecordLengthSize + payloadLength + strlen(format) + 1;
    va_list walk;
    va_copy(walk, arguments);
    while (const char* argument = va_arg(walk, const char*))
        total += strlen(argument);
    va_end(walk);
    auto* record = static_cast<BYTE*>(HeapAlloc(channelHeap, 0, total));
    if (!record) {
        HandleOutOfMemory();
        return nullptr;
    }
    memcpy(record, &payloadLength, sizeof(payloadLength));
    *size = total;
    return record;
}

static void SendFormattedRecord(DWORD payloadLength, const void* payload, const char* format,
                                va_list arguments)
{
    DWORD size = 0;
    BYTE* record = AllocRecord(payloadLength, format, arguments, &size);
    if (!record)
        return;
    if (payloadLength)
        memcpy(record + RecordLengthSize, payload, payloadLength);
    DWORD textOffset = RecordLengthSize + payloadLength;
    vsnprintf(reinterpret_cast<char*>(record + textOffset), size - textOffset, format, arguments);
    Send(record, size);
    HeapFree(channelHeap, 0, record);
}

void SendTextRecord(const char* format, ...)
{
    if (!viewerWindow)
        return;
    va_list arguments;
    va_start(arguments, format);
    SendFormattedRecord(0, nullptr, format, arguments);
    va_end(arguments);
}

void SendKindRecord(DWORD payloadLength, const void* payload, const char* format, ...)
{
    if (!viewerWindow)
        return;
    va_list arguments;
    va_start(arguments, format);
    SendFormattedRecord(payloadLength, payload, format, arguments);
    va_end(arguments);
}

void SendDataRecord(DWORD payloadLength, const void* payload)
{
    if (!viewerWindow)
        return;
    auto* record = static_cast<BYTE*>(HeapAlloc(channelHeap, 0, RecordLengthSize + payloadLength));
    if (!record) {
        HandleOutOfMemory();
        return;
    }
    memcpy(record, &payloadLength, sizeof(payloadLength));
    memcpy(record + RecordLengthSize, payload, payloadLength);
    Send(record, RecordLengthSize + payloadLength);
    HeapFree(channelHeap, 0, record);
}

// How many of byteCount bytes the buffers hold, stopping at the first entry that cannot be read.
static DWORD GatheredLength(const WSABUF* buffers, DWORD bufferCount, DWORD byteCount)
{
    DWORD gathered = 0;
    for (DWORD i = 0; i < bufferCount && gathered < byteCount; i++) {
        if (IsBadReadPtr(&buffers[i], sizeof(WSABUF)))
            break;
        DWORD length = buffers[i].len < byteCount - gathered ? buffers[i].len : byteCount - gathered;
        if (length && IsBadReadPtr(buffers[i].buf, length))
            break;
        gathered += length;
    }
    return gathered;
}

DWORD CopyBufferData(const WSABUF* buffers, DWORD bufferCount, DWORD limit, BYTE* destination)
{
    DWORD copied = 0;
    for (DWORD i = 0; i < bufferCount && copied < limit; i++) {
        DWORD length = buffers[i].len < limit - copied ? buffers[i].len : limit - copied;
        memcpy(destination + copied, buffers[i].buf, length);
        copied += length;
    }
    return copied;
}

BYTE* BuildDataPayload(DWORD* payloadLength, SOCKET socket, const WSABUF* buffers,
                       DWORD bufferCount, DWORD byteCount, DWORD kind)
{
    // The record holds the bytes really there: a lower provider that reports more than the
    // buffers hold costs neither memory nor the trace. It holds at most the first megabyte: a
    // message of two is never delivered under Wine, and its sender would wait for ever.
    DWORD gathered = detailLevel == High ? GatheredLength(buffers, bufferCount, byteCount) : 0;
    if (gathered > DataRecordByteLimit)
        gathered = DataRecordByteLimit;
    DWORD size = DataHeaderSize + gathered;
    BYTE* payload = size < gathered ? nullptr : static_cast<BYTE*>(HeapAlloc(channelHeap, 0, size));
    if (!payload) {
        HandleOutOfMemory();
        return nullptr;
    }
    CopyBufferData(buffers, bufferCount, gathered, payload + DataHeaderSize);
    DataPayloadHeader header = {kind, static_cast<DWORD>(socket), byteCount};
    memcpy(payload, &header, sizeof(header));
    *payloadLength = size;
    return payload;
}

// A data event the way the detail level asks: payload and text at Medium and High, the payload
// alone at Low.
static void SendEventRecord(DWORD payloadLength, const void* payload, const char* format,
                            va_list arguments)
{
    if (detailLevel == Low)
        SendDataRecord(payloadLength, payload);
    else
        SendFormattedRecord(payloadLength, payload, format, arguments);
}

void SendDataEvent(SOCKET socket, const WSABUF* buffers, DWORD bufferCount, DWORD byteCount,
                   DWORD kind, const char* format, ...)
{
    if (!viewerWindow)
        return;
    DWORD payloadLength = 0;
    BYTE* payload = BuildDataPayload(&payloadLength, socket, buffers, bufferCount, byteCount, kind);
    if (!payload)
        return;
    va_list arguments;
    va_start(arguments, format);
    SendEventRecord(payloadLength, payload, format, arguments);
    va_end(arguments);
    HeapFree(channelHeap, 0, payload);
}

void SendCountEvent(SOCKET socket, DWORD byteCount, DWORD kind, const char* format, ...)
{
    if (!viewerWindow)
        return;
    DataPayloadHeader header = {kind, static_cast<DWORD>(socket), byteCount};
    va_list arguments;
    va_start(arguments, format);
    SendEventRecord(sizeof(header), &header, format, arguments);
    va_end(arguments);
}

static BOOL CreatedAtOrAfter(const FILETIME& startTime)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return FALSE;
    return CompareFileTime(&startTime, &created) <= 0;
}

static void UndoClaim(HANDLE semaphore, ControlBlock* block)
{
    viewerWindow = nullptr;
    if (WaitForSingleObject(semaphore, INFINITE) == WAIT_OBJECT_0) {
        block->claimed = 0;
        FlushViewOfFile(block, sizeof(ControlBlock));
        ReleaseSemaphore(semaphore, 1, nullptr);
    }
    if (channelHeap) {
        HeapDestroy(channelHeap);
        channelHeap = nullptr;
    }
}

void AttachToViewer()
{
    HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, KESTRIX_SEMAPHORE_NAME);
    if (!semaphore)
        return;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KESTRIX_MAPPING_NAME);
    if (!mapping) {
        CloseHandle(semaphore);
        return;
    }
    auto* block = static_cast<ControlBlock*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock)));
    if (!block || WaitForSingleObject(semaphore, INFINITE) != WAIT_OBJECT_0) {
        if (block)
            UnmapViewOfFile(block);
        CloseHandle(mapping);
        CloseHandle(semaphore);
        return;
    }
    if (block->claimed != 0 || !CreatedAtOrAfter(block->startTime)) {
        ReleaseSemaphore(semaphore, 1, nullptr);
        UnmapViewOfFile(block);
        CloseHandle(mapping);
        CloseHandle(semaphore);
        return;
    }
    block->claimed = 1;
    viewerWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(block->viewerWindow));
    detailLevel = block->detailLevel;
    tracedProcessId = GetCurrentProcessId();
    block->processId = tracedProcessId;
    block->acknowledged = 0;
    FlushViewOfFile(block, sizeof(ControlBlock));
    ReleaseSemaphore(semaphore, 1, nullptr);

    channelHeap = HeapCreate(0, ChannelHeapInitialSize, 0);
    if (channelHeap) {
        DWORD kind = RecordProcessAttached;
        SendKindRecord(sizeof(kind), &kind, ProcessAttachedText, GetCommandLineA(), nullptr);
    }
    if (!channelHeap || !viewerWindow || block->acknowledged == 0)
        UndoClaim(semaphore, block);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    CloseHandle(semaphore);
}

void DetachFromViewer()
{
    if (viewerWindow) {
        DWORD kind = RecordProcessDetached;
        SendKindRecord(sizeof(kind), &kind, ProcessDetachedText, nullptr);
    }
    viewerWindow = nullptr;
    if (channelHeap) {
        HeapDestroy(channelHeap);
        channelHeap = nullptr;
    }
}
