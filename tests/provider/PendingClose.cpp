// Closes a socket while two overlapped receives are pending on it, as a program that gives up on
// a connection does, and checks that both requests still complete. Exit code 0 when they do.
#include <winsock2.h>
#include <cstdio>

static int Fail(const char* what)
{
    printf("pendingclose: %s failed (%d)\n", what, WSAGetLastError());
    return 1;
}

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return Fail("WSAStartup");
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return Fail("listen");
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return Fail("connect");
    SOCKET server = accept(listener, nullptr, nullptr);
    if (server == INVALID_SOCKET)
        return Fail("accept");
    char space[2][16];
    WSABUF buffers[2] = {{16, space[0]}, {16, space[1]}};
    WSAOVERLAPPED overlapped[2] = {};
    for (int i = 0; i < 2; i++) {
        DWORD flags = 0;
        overlapped[i].hEvent = WSACreateEvent();
        if (WSARecv(server, &buffers[i], 1, nullptr, &flags, &overlapped[i], nullptr) == 0 ||
            WSAGetLastError() != WSA_IO_PENDING)
            return Fail("WSARecv pending");
    }
    if (closesocket(server) != 0)
        return Fail("closesocket");
    for (int i = 0; i < 2; i++) {
        if (WSAWaitForMultipleEvents(1, &overlapped[i].hEvent, TRUE, 5000, FALSE) != WSA_WAIT_EVENT_0)
            return Fail("completion of a receive on a closed socket");
    }
    closesocket(client);
    closesocket(listener);
    WSACleanup();
    printf("pendingclose: both receives completed after the close\n");
    return 0;
}
