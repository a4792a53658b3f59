// Overlapped I/O: WSASend and WSARecv completing through events (with scattered buffers),
// through completion routines in alertable waits, and an overlapped WSARecvFrom.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>

namespace {

const char kHead[] = "overlapped ";
const char kTail[] = "with events";

WSAEVENT MakeEvent() {
    WSAEVENT event = WSACreateEvent();
    Check(event != WSA_INVALID_EVENT, "WSACreateEvent failed: %s",
          WinsockErrorText(WSAGetLastError()));
    return event;
}

void WaitForEvent(WSAEVENT event, const char* what) {
    DWORD result = WSAWaitForMultipleEvents(1, &event, TRUE, kWaitMs, FALSE);
    Check(result == WSA_WAIT_EVENT_0, "%s did not complete within %lu ms (wait result %lu)", what,
          kWaitMs, result);
}

// An operation that can finish at once is as right as a pending one; both end the same way.
void CheckStarted(int result, const char* what) {
    if (result == SOCKET_ERROR && WSAGetLastError() != WSA_IO_PENDING)
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
}

DWORD FinishedLength(SOCKET s, WSAOVERLAPPED* overlapped, DWORD* flags, const char* what) {
    DWORD transferred = 0xdeadbeef;
    if (!WSAGetOverlappedResult(s, overlapped, &transferred, FALSE, flags))
        Fail("WSAGetOverlappedResult for %s failed: %s", what, WinsockErrorText(WSAGetLastError()));
    return transferred;
}

void WithEvents(TcpPair& pair) {
    char first[sizeof kHead - 1], second[sizeof kTail - 1];
    WSABUF into[2] = {{sizeof first, first}, {sizeof second, second}};
    WSAOVERLAPPED receiving = {};
    receiving.hEvent = MakeEvent();
    DWORD flags = 0;
    WSASetLastError(0xdeadbeef);
    int result = WSARecv(pair.server, into, 2, nullptr, &flags, &receiving, nullptr);
    CheckSocketError(result, WSA_IO_PENDING, "overlapped WSARecv with nothing sent yet");
    Step("WSARecv into 2 buffers is pending (WSA_IO_PENDING)");

    DWORD transferred = 0xdeadbeef;
    WSASetLastError(0xdeadbeef);
    BOOL done = WSAGetOverlappedResult(pair.server, &receiving, &transferred, FALSE, &flags);
    Check(!done && WSAGetLastError() == WSA_IO_INCOMPLETE,
          "WSAGetOverlappedResult on a pending receive gave %d with %s", done,
          WinsockErrorText(WSAGetLastError()));
    Step("WSAGetOverlappedResult without waiting: WSA_IO_INCOMPLETE");

    WSABUF from[2] = {{sizeof kHead - 1, const_cast<char*>(kHead)},
                      {sizeof kTail - 1, const_cast<char*>(kTail)}};
    WSAOVERLAPPED sending = {};
    sending.hEvent = MakeEvent();
    CheckStarted(WSASend(pair.client, from, 2, nullptr, 0, &sending, nullptr), "overlapped WSASend");
    WaitForEvent(sending.hEvent, "the overlapped WSASend");
    DWORD sent = FinishedLength(pair.client, &sending, &flags, "WSASend");
    Check(sent == sizeof first + sizeof second, "WSASend sent %lu bytes, expected %d", sent,
          int(sizeof first + sizeof second));
    Step("WSASend of 2 buffers completed: %lu bytes", sent);

    // A stream may deliver the bytes in two pieces; collect the rest with a blocking receive.
    WaitForEvent(receiving.hEvent, "the overlapped WSARecv");
    DWORD got = FinishedLength(pair.server, &receiving, &flags, "WSARecv");
    char all[sizeof first + sizeof second];
    memcpy(all, first, got < sizeof first ? got : sizeof first);
    if (got > sizeof first)
        memcpy(all + sizeof first, second, got - sizeof first);
    if (got < sizeof all)
        ReceiveExactly(pair.server, all + got, sizeof all - got);
    Check(memcmp(all, kHead, sizeof first) == 0 && memcmp(all + sizeof first, kTail, sizeof second) == 0,
          "the received bytes differ from \"%s%s\"", kHead, kTail);
    Step("WSARecv completed through its event with %lu bytes, gathered across both buffers", got);
    WSACloseEvent(receiving.hEvent);
    WSACloseEvent(sending.hEvent);
}

struct RoutineCall {
    WSAOVERLAPPED overlapped;  // first, so the routine finds the record from its argument
    bool called;
    DWORD error;
    DWORD transferred;
    DWORD thread;
};

void CALLBACK OnComplete(DWORD error, DWORD transferred, WSAOVERLAPPED* overlapped, DWORD) {
    RoutineCall* call = reinterpret_cast<RoutineCall*>(overlapped);
    call->called = true;
    call->error = error;
    call->transferred = transferred;
    call->thread = GetCurrentThreadId();
}

void WaitAlertable(RoutineCall& call, const char* what) {
    DWORD deadline = GetTickCount() + kWaitMs;
    while (!call.called && GetTickCount() < deadline)
        SleepEx(deadline - GetTickCount(), TRUE);
    Check(call.called, "the completion routine of %s never ran", what);
    Check(call.error == 0, "the completion routine of %s got error %lu", what, call.error);
    Check(call.thread == GetCurrentThreadId(),
          "the completion routine of %s ran on thread %lu, not the issuing thread", what,
          call.thread);
}

void WithCompletionRoutines(TcpPair& pair) {
    char buffer[32] = {};
    WSABUF into = {sizeof buffer, buffer};
    RoutineCall receiving = {};
    DWORD flags = 0;
    WSASetLastError(0xdeadbeef);
    CheckSocketError(WSARecv(pair.server, &into, 1, nullptr, &flags, &receiving.overlapped,
                             OnComplete),
                     WSA_IO_PENDING, "WSARecv with a completion routine");
    Step("WSARecv with a completion routine is pending");

    const char message[] = "routine";
    WSABUF from = {sizeof message - 1, const_cast<char*>(message)};
    RoutineCall sending = {};
    CheckStarted(WSASend(pair.client, &from, 1, nullptr, 0, &sending.overlapped, OnComplete),
                 "WSASend with a completion routine");
    WaitAlertable(sending, "WSASend");
    Check(sending.transferred == from.len, "the send routine reported %lu bytes", sending.transferred);
    WaitAlertable(receiving, "WSARecv");
    Check(receiving.transferred == from.len && memcmp(buffer, message, from.len) == 0,
          "the receive routine reported %lu bytes: \"%.*s\"", receiving.transferred,
          int(receiving.transferred), buffer);
    Step("both completion routines ran in this thread's alertable wait (%lu bytes each)",
         receiving.transferred);
}

void DatagramFrom() {
    SOCKET sender = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SOCKET receiver = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    char buffer[64] = {};
    WSABUF into = {sizeof buffer, buffer};
    sockaddr_storage from = {};
    int fromLength = sizeof from;
    DWORD flags = 0;
    WSAOVERLAPPED receiving = {};
    receiving.hEvent = MakeEvent();
    WSASetLastError(0xdeadbeef);
    CheckSocketError(WSARecvFrom(receiver, &into, 1, nullptr, &flags,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength, &receiving,
                                 nullptr),
                     WSA_IO_PENDING, "overlapped WSARecvFrom");
    Step("WSARecvFrom is pending");

    const char message[] = "datagram for WSARecvFrom";
    sockaddr_storage to = LocalAddressOf(receiver);
    CheckSocketCall(sendto(sender, message, sizeof message - 1, 0, reinterpret_cast<sockaddr*>(&to),
                           AddressLength(to)),
                    "sendto");
    WaitForEvent(receiving.hEvent, "the overlapped WSARecvFrom");
    DWORD got = FinishedLength(receiver, &receiving, &flags, "WSARecvFrom");
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(got == sizeof message - 1 && memcmp(buffer, message, got) == 0,
          "WSARecvFrom got %lu bytes", got);
    Check(SameAddress(from, senderAddress), "WSARecvFrom named %s, sender is %s",
          AddressText(from).c_str(), AddressText(senderAddress).c_str());
    Step("WSARecvFrom completed with %lu bytes from %s", got, AddressText(from).c_str());
    WSACloseEvent(receiving.hEvent);
    closesocket(sender);
    closesocket(receiver);
}

}  // namespace

int main() {
    SampleStart("overlapped");
    TcpPair pair = MakeTcpPair(AF_INET);
    WithEvents(pair);
    WithCompletionRoutines(pair);
    CloseTcpPair(pair);
    DatagramFrom();
    return SampleFinish();
}
