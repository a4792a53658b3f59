// An echo server built the way Windows servers are: one I/O completion port, worker threads on
// GetQueuedCompletionStatus, AcceptEx for the connections, overlapped WSARecv and WSASend for
// the data. Loopback clients on threads of their own send patterned bytes in chunks of varied
// sizes and check every byte that comes back; at the end the listener closes with accepts
// still pending, whose aborts come through the port too.
//   iocp_server [BYTES]     bytes each client sends, at most and by default 24576
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kClients = 6;
constexpr int kBytesPerClient = 24 * 1024;
int bytesPerClient = kBytesPerClient;
constexpr int kPendingAccepts = 3;
constexpr int kWorkers = 2;
constexpr DWORD kAddressLength = sizeof(sockaddr_in) + 16;  // room AcceptEx requires per address
constexpr ULONG_PTR kListenerKey = 1;
constexpr ULONG_PTR kConnectionKey = 2;
constexpr ULONG_PTR kStopKey = 3;

enum class Operation { Accept, Receive, Send };

// One overlapped operation; the overlapped comes first, so a packet's overlapped is its request.
struct Request {
    WSAOVERLAPPED overlapped;
    Operation operation;
    SOCKET socket;
    char buffer[4096];
    DWORD length;  // bytes of buffer in use: received, or still to send
    DWORD offset;  // bytes of buffer sent already
};

HANDLE port;
SOCKET listener;
LPFN_ACCEPTEX acceptEx;
LPFN_GETACCEPTEXSOCKADDRS getAcceptExSockaddrs;
LONG accepted, acceptsAborted, connectionsClosed, bytesEchoed;

Request* NewRequest(Operation operation, SOCKET s) {
    auto* request = new Request{};
    request->operation = operation;
    request->socket = s;
    return request;
}

// Starts an overlapped call; a call done at once still completes through the port.
void Started(int result, const char* what) {
    if (result == SOCKET_ERROR && WSAGetLastError() != WSA_IO_PENDING)
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
}

void PostAccept() {
    SOCKET s = CheckSocketHandle(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                            WSA_FLAG_OVERLAPPED),
                                 "WSASocketW");
    Request* request = NewRequest(Operation::Accept, s);
    DWORD immediate = 0;
    WSASetLastError(0);
    BOOL done = acceptEx(listener, s, request->buffer, 0, kAddressLength, kAddressLength,
                         &immediate, &request->overlapped);
    Started(done ? 0 : SOCKET_ERROR, "AcceptEx");
}

void PostReceive(Request* request) {
    request->operation = Operation::Receive;
    request->length = request->offset = 0;
    WSABUF buffer{sizeof request->buffer, request->buffer};
    DWORD flags = 0;
    Started(WSARecv(request->socket, &buffer, 1, nullptr, &flags, &request->overlapped, nullptr),
            "WSARecv");
}

// Sends what is left of the buffer; a short send continues from where it stopped.
void PostSend(Request* request) {
    request->operation = Operation::Send;
    WSABUF buffer{request->length - request->offset, request->buffer + request->offset};
    Started(WSASend(request->socket, &buffer, 1, nullptr, 0, &request->overlapped, nullptr),
            "WSASend");
}

void CloseConnection(Request* request) {
    closesocket(request->socket);
    delete request;
    InterlockedIncrement(&connectionsClosed);
}

void Accepted(Request* request) {
    SOCKET s = request->socket;
    CheckSocketCall(setsockopt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                               reinterpret_cast<const char*>(&listener), sizeof listener),
                    "setsockopt(SO_UPDATE_ACCEPT_CONTEXT)");
    sockaddr* local = nullptr;
    sockaddr* remote = nullptr;
    int localLength = 0, remoteLength = 0;
    getAcceptExSockaddrs(request->buffer, 0, kAddressLength, kAddressLength, &local,
                         &localLength, &remote, &remoteLength);
    Check(remote && remote->sa_family == AF_INET &&
              reinterpret_cast<sockaddr_in*>(remote)->sin_addr.s_addr == htonl(INADDR_LOOPBACK),
          "GetAcceptExSockaddrs gave no loopback peer");
    Check(CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), port, kConnectionKey, 0) == port,
          "CreateIoCompletionPort for an accepted socket failed (error %lu)", GetLastError());
    // One new accept for each one taken, so as many are pending at the end as at the start.
    InterlockedIncrement(&accepted);
    PostAccept();
    PostReceive(request);
}

// Handles one packet; false for the packet that stops the worker.
bool HandlePacket(BOOL ok, DWORD bytes, ULONG_PTR key, LPOVERLAPPED overlapped) {
    if (!overlapped) {
        Check(ok && key == kStopKey, "GetQueuedCompletionStatus failed without a request "
                                     "(error %lu)", GetLastError());
        return false;
    }
    auto* request = reinterpret_cast<Request*>(overlapped);
    DWORD error = ok ? 0 : GetLastError();
    switch (request->operation) {
    case Operation::Accept:
        Check(key == kListenerKey, "an accept came with key %lu", static_cast<unsigned long>(key));
        if (error == ERROR_OPERATION_ABORTED) {  // the listener closed at the end
            closesocket(request->socket);
            delete request;
            InterlockedIncrement(&acceptsAborted);
            return true;
        }
        Check(error == 0, "AcceptEx failed: %s", WinsockErrorText(error));
        Accepted(request);
        return true;
    case Operation::Receive:
        Check(key == kConnectionKey, "a receive came with key %lu",
              static_cast<unsigned long>(key));
        Check(error == 0, "WSARecv failed: %s", WinsockErrorText(error));
        if (bytes == 0) {
            CloseConnection(request);
            return true;
        }
        request->length = bytes;
        request->offset = 0;
        PostSend(request);
        return true;
    case Operation::Send:
        Check(error == 0, "WSASend failed: %s", WinsockErrorText(error));
        Check(bytes > 0, "WSASend completed with no bytes");
        InterlockedExchangeAdd(&bytesEchoed, bytes);
        request->offset += bytes;
        if (request->offset < request->length)
            PostSend(request);
        else
            PostReceive(request);
        return true;
    }
    return true;
}

DWORD WINAPI Worker(void*) {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, kWaitMs);
        if (!ok && !overlapped && GetLastError() == WAIT_TIMEOUT)
            Fail("no completion within %lu ms", kWaitMs);
        if (!HandlePacket(ok, bytes, key, overlapped))
            return 0;
    }
}

// A client: chunks of 1 to 1500 bytes, each echoed back whole before the next goes out.
DWORD WINAPI Client(void* parameter) {
    int seed = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
    sockaddr_storage address = LocalAddressOf(listener);
    SOCKET s = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    SetBlockingTimeouts(s, kWaitMs);
    CheckSocketCall(connect(s, reinterpret_cast<sockaddr*>(&address), AddressLength(address)),
                    "connect");
    static char patterns[kClients][kBytesPerClient];
    char* sent = patterns[seed];
    FillPattern(sent, bytesPerClient, seed * 31 + 5);
    char echoed[1500];
    int done = 0;
    for (int chunk = 1; done < bytesPerClient; chunk = chunk * 3 % 1499 + 1) {
        int length = chunk < bytesPerClient - done ? chunk : bytesPerClient - done;
        SendAll(s, sent + done, length);
        ReceiveExactly(s, echoed, length);
        Check(memcmp(echoed, sent + done, length) == 0,
              "client %d: the echo of bytes %d..%d differs", seed, done, done + length - 1);
        done += length;
    }
    CheckSocketCall(shutdown(s, SD_SEND), "shutdown");
    char extra;
    Check(recv(s, &extra, 1, 0) == 0, "client %d: the server did not close after the echo", seed);
    closesocket(s);
    return 0;
}

void WaitAll(HANDLE* threads, int count, const char* what) {
    Check(WaitForMultipleObjects(count, threads, TRUE, 3 * kWaitMs) == WAIT_OBJECT_0,
          "the %s did not finish", what);
    for (int i = 0; i < count; ++i)
        CloseHandle(threads[i]);
}

}  // namespace

int main(int argc, char** argv) {
    SampleStart("iocp_server");
    if (argc > 1) {
        bytesPerClient = atoi(argv[1]);
        Check(bytesPerClient > 0 && bytesPerClient <= kBytesPerClient, "BYTES must be 1 to %d", kBytesPerClient);
    }
    listener = MakeListener(AF_INET);
    acceptEx = reinterpret_cast<LPFN_ACCEPTEX>(LoadExtension(listener, WSAID_ACCEPTEX));
    getAcceptExSockaddrs = reinterpret_cast<LPFN_GETACCEPTEXSOCKADDRS>(
        LoadExtension(listener, WSAID_GETACCEPTEXSOCKADDRS));
    Check(acceptEx && getAcceptExSockaddrs, "AcceptEx or GetAcceptExSockaddrs is missing");
    port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, kWorkers);
    Check(port != nullptr, "CreateIoCompletionPort failed (error %lu)", GetLastError());
    Check(CreateIoCompletionPort(reinterpret_cast<HANDLE>(listener), port, kListenerKey, 0) == port,
          "the listener cannot be bound to the port (error %lu)", GetLastError());
    Step("listening on %s, bound to a completion port", AddressText(LocalAddressOf(listener)).c_str());

    HANDLE workers[kWorkers];
    for (auto& worker : workers)
        Check((worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr)) != nullptr,
              "CreateThread failed");
    for (int i = 0; i < kPendingAccepts; ++i)
        PostAccept();
    Step("%d workers on GetQueuedCompletionStatus, %d AcceptEx pending", kWorkers,
         kPendingAccepts);

    HANDLE clients[kClients];
    for (int i = 0; i < kClients; ++i)
        Check((clients[i] = CreateThread(nullptr, 0, Client, reinterpret_cast<void*>(INT_PTR(i)),
                                         0, nullptr)) != nullptr,
              "CreateThread failed");
    WaitAll(clients, kClients, "clients");
    Step("%d clients each sent %d bytes and got every one back", kClients, bytesPerClient);

    DWORD start = GetTickCount();
    while (connectionsClosed < kClients && GetTickCount() - start < kWaitMs)
        Sleep(10);
    Check(accepted == kClients && connectionsClosed == kClients,
          "the server accepted %ld and closed %ld connections, not %d", accepted,
          connectionsClosed, kClients);
    Check(bytesEchoed == kClients * bytesPerClient, "the server echoed %ld bytes, not %d",
          bytesEchoed, kClients * bytesPerClient);
    Step("the server accepted %ld connections and echoed %ld bytes", accepted, bytesEchoed);

    closesocket(listener);
    start = GetTickCount();
    while (acceptsAborted < kPendingAccepts && GetTickCount() - start < kWaitMs)
        Sleep(10);
    Check(acceptsAborted == kPendingAccepts,
          "%ld of the %d accepts pending at the listener's close came back aborted",
          acceptsAborted, kPendingAccepts);
    Step("the listener closed; its %d pending AcceptEx came back aborted", kPendingAccepts);

    for (int i = 0; i < kWorkers; ++i)
        PostQueuedCompletionStatus(port, 0, kStopKey, nullptr);
    WaitAll(workers, kWorkers, "workers");
    CloseHandle(port);
    return SampleFinish();
}
