// Several threads at once, each making connections over 127.0.0.1, moving data synchronously
// and overlapped and closing, while another thread starts and cleans up Winsock again and
// again. Prints the bytes it moved as "sent=N received=N"; exit code 0 when every byte arrived.
//   stresstraffic [rounds per thread]
#include <winsock2.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const int Threads = 4;
const int MessageBytes = 1000;
const DWORD WaitMilliseconds = 10000;

static volatile LONG sentTotal, receivedTotal, failures, finishedThreads;
static volatile LONG failureShown;

// Says what went wrong the first time, for the test's log.
static bool Failed(const char* step)
{
    if (InterlockedExchange(&failureShown, 1) == 0)
        printf("stresstraffic: first failure: %s (%d)\n", step, WSAGetLastError());
    return false;
}

static bool ReceiveAll(SOCKET s, char* buffer, int length)
{
    for (int got = 0; got < length;) {
        int result = recv(s, buffer + got, length - got, 0);
        if (result <= 0)
            return false;
        got += result;
        InterlockedExchangeAdd(&receivedTotal, result);
    }
    return true;
}

// One connection: a synchronous message one way, an overlapped one the other way.
static bool Exchange(SOCKET listener, const sockaddr_in& address)
{
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == INVALID_SOCKET)
        return Failed("socket");
    if (connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        closesocket(client);
        return Failed("connect");
    }
    SOCKET server = accept(listener, nullptr, nullptr);
    if (server == INVALID_SOCKET)
        Failed("accept");
    char out[MessageBytes], in[MessageBytes];
    memset(out, 'k', sizeof(out));
    bool ok = server != INVALID_SOCKET;
    if (ok && send(client, out, sizeof(out), 0) != sizeof(out))
        ok = Failed("send");
    if (ok)
        InterlockedExchangeAdd(&sentTotal, sizeof(out));
    if (ok && !ReceiveAll(server, in, sizeof(in)))
        ok = Failed("recv");
    WSABUF buffer = {sizeof(out), out};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = WSACreateEvent();
    DWORD sent = 0, flags = 0;
    if (ok) {
        int result = WSASend(server, &buffer, 1, nullptr, 0, &overlapped, nullptr);
        if (result != 0 && WSAGetLastError() != WSA_IO_PENDING)
            ok = Failed("WSASend");
        else if (WSAWaitForMultipleEvents(1, &overlapped.hEvent, TRUE, WaitMilliseconds, FALSE) !=
                 WSA_WAIT_EVENT_0)
            ok = Failed("the completion of WSASend");
        else if (!WSAGetOverlappedResult(server, &overlapped, &sent, FALSE, &flags) ||
                 sent != sizeof(out))
            ok = Failed("WSAGetOverlappedResult");
        if (ok)
            InterlockedExchangeAdd(&sentTotal, sent);
    }
    if (ok && !ReceiveAll(client, in, sizeof(in)))
        ok = Failed("recv of the overlapped send");
    WSACloseEvent(overlapped.hEvent);
    closesocket(server);
    closesocket(client);
    return ok;
}

static DWORD WINAPI Traffic(void* parameter)
{
    int rounds = *static_cast<int*>(parameter);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        InterlockedIncrement(&failures);
        return 0;
    }
    for (int i = 0; i < rounds; i++) {
        if (!Exchange(listener, address))
            InterlockedIncrement(&failures);
    }
    closesocket(listener);
    InterlockedIncrement(&finishedThreads);
    return 0;
}

// Starts and cleans up over the main thread's own start, so the count never reaches zero.
static DWORD WINAPI StartAndCleanUp(void*)
{
    while (finishedThreads < Threads) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) == 0)
            WSACleanup();
        Sleep(1);
    }
    return 0;
}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 50;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    HANDLE threads[Threads + 1];
    for (int i = 0; i < Threads; i++)
        threads[i] = CreateThread(nullptr, 0, Traffic, &rounds, 0, nullptr);
    threads[Threads] = CreateThread(nullptr, 0, StartAndCleanUp, nullptr, 0, nullptr);
    if (WaitForMultipleObjects(Threads + 1, threads, TRUE, 120000) != WAIT_OBJECT_0) {
        printf("stresstraffic: FAILED: threads still running after two minutes\n");
        return 1;
    }
    printf("sent=%ld received=%ld\n", sentTotal, receivedTotal);
    WSACleanup();
    if (failures) {
        printf("stresstraffic: FAILED: %ld exchanges went wrong\n", failures);
        return 1;
    }
    return sentTotal == receivedTotal ? 0 : 1;
}
