#include "TransmitPackets.h"

#include "BaseProvider.h"

namespace {

const DWORD fileChunkLength = 64 * 1024;
// An overlapped send with file elements gathers everything into one buffer first.
const ULONGLONG maxGatheredLength = 64 * 1024 * 1024;

struct ParkedBuffer {
    ParkedBuffer* next;
};

SRWLOCK parkedLock = SRWLOCK_INIT;
ParkedBuffer* parkedBuffers;

bool IsFile(const TRANSMIT_PACKETS_ELEMENT& element)
{
    return element.dwElFlags & TP_ELEMENT_FILE;
}

// Exactly one of memory and file, and a buffer or a file to take the bytes from.
bool IsValid(const TRANSMIT_PACKETS_ELEMENT& element)
{
    bool memory = element.dwElFlags & TP_ELEMENT_MEMORY;
    if (memory == IsFile(element))
        return false;
    if (memory)
        return element.pBuffer || element.cLength == 0;
    return element.hFile && element.hFile != INVALID_HANDLE_VALUE;
}

// Resolves a file element's start (-1: the file's current position) and length (0: to the
// end of the file).
int FileRange(const TRANSMIT_PACKETS_ELEMENT& element, LONGLONG* offset, ULONGLONG* length)
{
    LARGE_INTEGER start = element.nFileOffset;
    if (start.QuadPart == -1) {
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(element.hFile, zero, &start, FILE_CURRENT))
            return WSAEINVAL;
    }
    *offset = start.QuadPart;
    if (element.cLength != 0) {
        *length = element.cLength;
        return 0;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(element.hFile, &size) || size.QuadPart < start.QuadPart)
        return WSAEINVAL;
    *length = size.QuadPart - start.QuadPart;
    return 0;
}

// Reads exactly length bytes at offset; files opened for overlapped use are waited for.
int ReadFileRange(HANDLE file, LONGLONG offset, char* destination, DWORD length)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return WSAENOBUFS;
    int error = 0;
    while (length > 0 && error == 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        position.hEvent = event;
        DWORD read = 0;
        if (!ReadFile(file, destination, length, &read, &position) &&
            (GetLastError() != ERROR_IO_PENDING ||
             !GetOverlappedResult(file, &position, &read, TRUE)))
            error = WSAEINVAL;
        else if (read == 0)
            error = WSAEINVAL; // the file ends before the element does
        offset += read;
        destination += read;
        length -= read;
    }
    CloseHandle(event);
    return error;
}

int SendAll(SOCKET s, const char* data, ULONGLONG length)
{
    while (length > 0) {
        WSABUF buffer{static_cast<ULONG>(length > fileChunkLength ? fileChunkLength : length),
                      const_cast<char*>(data)};
        DWORD sent = 0;
        if (real.WSASend(s, &buffer, 1, &sent, 0, nullptr, nullptr) != 0) {
            int error = real.WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                return error;
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            if (real.select(0, nullptr, &writable, nullptr, nullptr) == SOCKET_ERROR)
                return real.WSAGetLastError();
            continue;
        }
        data += sent;
        length -= sent;
    }
    return 0;
}

int SendFileElement(SOCKET s, const TRANSMIT_PACKETS_ELEMENT& element, char* chunk)
{
    LONGLONG offset;
    ULONGLONG length;
    int error = FileRange(element, &offset, &length);
    while (error == 0 && length > 0) {
        DWORD part = length > fileChunkLength ? fileChunkLength : static_cast<DWORD>(length);
        error = ReadFileRange(element.hFile, offset, chunk, part);
        if (error == 0)
            error = SendAll(s, chunk, part);
        offset += part;
        length -= part;
    }
    return error;
}

int SendSynchronously(SOCKET s, const TRANSMIT_PACKETS_ELEMENT* elements, DWORD count)
{
    char* chunk = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, fileChunkLength));
    if (!chunk)
        return WSAENOBUFS;
    int error = 0;
    for (DWORD i = 0; i < count && error == 0; ++i) {
        if (IsFile(elements[i]))
            error = SendFileElement(s, elements[i], chunk);
        else
            error = SendAll(s, static_cast<const char*>(elements[i].pBuffer), elements[i].cLength);
    }
    HeapFree(GetProcessHeap(), 0, chunk);
    return error;
}

// One real overlapped send over the application's own memory: no copy, and the
// application keeps its buffers alive until the request completes, as it must anyway.
int SendMemoryOverlapped(SOCKET s, const TRANSMIT_PACKETS_ELEMENT* elements, DWORD count,
                         LPWSAOVERLAPPED overlapped)
{
    WSABUF* buffers = static_cast<WSABUF*>(
        HeapAlloc(GetProcessHeap(), 0, sizeof(WSABUF) * (count ? count : 1)));
    if (!buffers)
        return WSAENOBUFS;
    for (DWORD i = 0; i < count; ++i)
        buffers[i] = WSABUF{elements[i].cLength, static_cast<char*>(elements[i].pBuffer)};
    DWORD sent = 0;
    int error = real.WSASend(s, buffers, count, &sent, 0, overlapped, nullptr) == 0
                    ? 0
                    : real.WSAGetLastError();
    HeapFree(GetProcessHeap(), 0, buffers);
    return error;
}

int GatherElements(const TRANSMIT_PACKETS_ELEMENT* elements, DWORD count, ParkedBuffer** gathered,
                   ULONGLONG* total)
{
    LONGLONG offsets[64];
    ULONGLONG lengths[64];
    if (count > 64)
        return WSAENOBUFS;
    *total = 0;
    for (DWORD i = 0; i < count; ++i) {
        offsets[i] = 0;
        lengths[i] = elements[i].cLength;
        if (IsFile(elements[i])) {
            int error = FileRange(elements[i], &offsets[i], &lengths[i]);
            if (error != 0)
                return error;
        }
        *total += lengths[i];
    }
    if (*total > maxGatheredLength)
        return WSAENOBUFS;
    auto* buffer = static_cast<ParkedBuffer*>(
        HeapAlloc(GetProcessHeap(), 0, sizeof(ParkedBuffer) + static_cast<SIZE_T>(*total)));
    if (!buffer)
        return WSAENOBUFS;
    char* cursor = reinterpret_cast<char*>(buffer + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = static_cast<DWORD>(lengths[i]);
        if (IsFile(elements[i])) {
            int error = ReadFileRange(elements[i].hFile, offsets[i], cursor, length);
            if (error != 0) {
                HeapFree(GetProcessHeap(), 0, buffer);
                return error;
            }
        } else if (length) {
            memcpy(cursor, elements[i].pBuffer, length);
        }
        cursor += length;
    }
    *gathered = buffer;
    return 0;
}

// File contents must be read into memory that outlives the call; when the send is still
// under way on return, the buffer is kept until the provider's last cleanup.
int SendGatheredOverlapped(SOCKET s, const TRANSMIT_PACKETS_ELEMENT* elements, DWORD count,
                           LPWSAOVERLAPPED overlapped)
{
    ParkedBuffer* gathered;
    ULONGLONG total;
    int error = GatherElements(elements, count, &gathered, &total);
    if (error != 0)
        return error;
    WSABUF buffer{static_cast<ULONG>(total), reinterpret_cast<char*>(gathered + 1)};
    DWORD sent = 0;
    error = real.WSASend(s, &buffer, 1, &sent, 0, overlapped, nullptr) == 0
                ? 0
                : real.WSAGetLastError();
    if (error == WSA_IO_PENDING) {
        AcquireSRWLockExclusive(&parkedLock);
        gathered->next = parkedBuffers;
        parkedBuffers = gathered;
        ReleaseSRWLockExclusive(&parkedLock);
    } else {
        HeapFree(GetProcessHeap(), 0, gathered);
    }
    return error;
}

} // namespace

BOOL PASCAL BaseTransmitPackets(SOCKET hSocket, LPTRANSMIT_PACKETS_ELEMENT lpPacketArray,
                                DWORD nElementCount, DWORD, LPOVERLAPPED lpOverlapped,
                                DWORD dwFlags)
{
    int error = 0;
    bool anyFile = false;
    if (nElementCount && !lpPacketArray)
        error = WSAEINVAL;
    for (DWORD i = 0; i < nElementCount && error == 0; ++i) {
        if (!IsValid(lpPacketArray[i]))
            error = WSAEINVAL;
        anyFile = anyFile || IsFile(lpPacketArray[i]);
    }
    auto* overlapped = reinterpret_cast<LPWSAOVERLAPPED>(lpOverlapped);
    if (error == 0 && !overlapped)
        error = SendSynchronously(hSocket, lpPacketArray, nElementCount);
    else if (error == 0 && anyFile)
        error = SendGatheredOverlapped(hSocket, lpPacketArray, nElementCount, overlapped);
    else if (error == 0)
        error = SendMemoryOverlapped(hSocket, lpPacketArray, nElementCount, overlapped);

    // The disconnect of an overlapped send would have to wait for its completion; only a
    // finished synchronous send is followed by it.
    if (error == 0 && !overlapped && (dwFlags & (TF_DISCONNECT | TF_REUSE_SOCKET)))
        error = real.shutdown(hSocket, SD_SEND) == 0 ? 0 : real.WSAGetLastError();
    if (error == 0)
        return TRUE;
    SetLastError(error);
    return FALSE;
}

void FreeParkedTransmitBuffers()
{
    AcquireSRWLockExclusive(&parkedLock);
    ParkedBuffer* buffer = parkedBuffers;
    parkedBuffers = nullptr;
    ReleaseSRWLockExclusive(&parkedLock);
    while (buffer) {
        ParkedBuffer* next = buffer->next;
        HeapFree(GetProcessHeap(), 0, buffer);
        buffer = next;
    }
}
