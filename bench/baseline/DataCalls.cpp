#include "DataCalls.h"

#include <stdio.h>

void Fail(const char* what) {
    printf("bench_sockets: FAILED: %s (error %d)\n", what, WSAGetLastError());
    fflush(stdout);
    ExitProcess(1);
}

void OpenChannel(Channel& channel, SOCKET socket) {
    channel.socket = socket;
    channel.overlapped = {};
    channel.overlapped.hEvent = WSACreateEvent();
    if (channel.overlapped.hEvent == WSA_INVALID_EVENT)
        Fail("WSACreateEvent");
    channel.calls = 0;
    channel.bytes = 0;
}

void CloseChannel(Channel& channel) {
    closesocket(channel.socket);
    WSACloseEvent(channel.overlapped.hEvent);
    channel.socket = INVALID_SOCKET;
}

namespace {

int SynchronousSend(Channel& channel, char* data, int length) {
    int sent = send(channel.socket, data, length, 0);
    if (sent == SOCKET_ERROR)
        Fail("send");
    return sent;
}

int SynchronousReceive(Channel& channel, char* data, int length) {
    int got = recv(channel.socket, data, length, 0);
    if (got == SOCKET_ERROR)
        Fail("recv");
    return got;
}

// The call may finish at once (result 0, count already set) or later (WSA_IO_PENDING); either
// way the count is what the operation moved.
int FinishOverlapped(Channel& channel, int result, DWORD count, const char* what) {
    if (result == 0)
        return int(count);
    if (WSAGetLastError() != WSA_IO_PENDING)
        Fail(what);
    if (WSAWaitForMultipleEvents(1, &channel.overlapped.hEvent, TRUE, kStallMs, FALSE) !=
        WSA_WAIT_EVENT_0)
        Fail("overlapped operation did not complete in time");
    DWORD flags = 0;
    if (!WSAGetOverlappedResult(channel.socket, &channel.overlapped, &count, FALSE, &flags))
        Fail(what);
    return int(count);
}

// A fresh operation each time: only the event is kept.
void ClearOverlapped(WSAOVERLAPPED& overlapped) {
    WSAEVENT event = overlapped.hEvent;
    overlapped = {};
    overlapped.hEvent = event;
}

int OverlappedSend(Channel& channel, char* data, int length) {
    ClearOverlapped(channel.overlapped);
    WSABUF buffer = {ULONG(length), data};
    DWORD count = 0;
    int result = WSASend(channel.socket, &buffer, 1, &count, 0, &channel.overlapped, nullptr);
    return FinishOverlapped(channel, result, count, "WSASend");
}

int OverlappedReceive(Channel& channel, char* data, int length) {
    ClearOverlapped(channel.overlapped);
    WSABUF buffer = {ULONG(length), data};
    DWORD count = 0, flags = 0;
    int result =
        WSARecv(channel.socket, &buffer, 1, &count, &flags, &channel.overlapped, nullptr);
    return FinishOverlapped(channel, result, count, "WSARecv");
}

}  // namespace

const CallStyle SynchronousCalls = {"", SynchronousSend, SynchronousReceive};
const CallStyle OverlappedCalls = {"overlapped_", OverlappedSend, OverlappedReceive};

void SendAll(Channel& channel, const CallStyle& style, const char* data, long length) {
    while (length > 0) {
        int sent = style.send(channel, const_cast<char*>(data),
                              length < kBulkChunk ? int(length) : kBulkChunk);
        if (sent <= 0)
            Fail("a send moved nothing");
        channel.calls++;
        channel.bytes += sent;
        data += sent;
        length -= sent;
    }
}

bool ReceiveExactly(Channel& channel, const CallStyle& style, char* data, long length) {
    long total = 0;
    while (total < length) {
        int wanted = length - total < kBulkChunk ? int(length - total) : kBulkChunk;
        int got = style.receive(channel, data + total, wanted);
        if (got == 0) {
            if (total == 0)
                return false;
            Fail("stream ended inside a message");
        }
        channel.calls++;
        channel.bytes += got;
        total += got;
    }
    return true;
}
