// Makes the last WSACleanup while one thread is blocked in recv and another in accept, as a
// program that shuts down without waiting for its network threads does. Exit code 0 when both
// calls return and the program ends normally.
#include <winsock2.h>
#include <cstdio>

static SOCKET receiving, listening;

static DWORD WINAPI Receive(void*)
{
    char buffer[16];
    int result = recv(receiving, buffer, sizeof(buffer), 0);
    printf("cleanupinflight: recv returned %d (error %d)\n", result, WSAGetLastError());
    return 0;
}

static DWORD WINAPI Accept(void*)
{
    SOCKET accepted = accept(listening, nullptr, nullptr);
    printf("cleanupinflight: accept returned %s (error %d)\n",
           accepted == INVALID_SOCKET ? "no socket" : "a socket", WSAGetLastError());
    return 0;
}

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return 1;
    receiving = accept(listener, nullptr, nullptr);
    address.sin_port = 0;
    if (receiving == INVALID_SOCKET ||
        bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listening, 1) != 0)
        return 1;
    HANDLE threads[2] = {CreateThread(nullptr, 0, Receive, nullptr, 0, nullptr),
                         CreateThread(nullptr, 0, Accept, nullptr, 0, nullptr)};
    Sleep(300);   // both calls are blocked by now
    printf("cleanupinflight: WSACleanup returned %d\n", WSACleanup());
    if (WaitForMultipleObjects(2, threads, TRUE, 10000) != WAIT_OBJECT_0) {
        printf("cleanupinflight: FAILED: a blocked call never returned\n");
        return 1;
    }
    printf("cleanupinflight: both blocked calls returned\n");
    return 0;
}
