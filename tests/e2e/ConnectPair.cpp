// A blocking connection over loopback: a listener, a client that connects to it, the accept
// that takes the client's address, both names of the client; then all three are closed.
#include <winsock2.h>
#include <cstdio>

static int Fail(const char* what)
{
    printf("connectpair: %s failed (error %d)\n", what, WSAGetLastError());
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
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return Fail("bind");
    if (listen(listener, 4) != 0)
        return Fail("listen");
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return Fail("getsockname");

    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return Fail("connect");
    sockaddr_in peer = {};
    length = sizeof(peer);
    SOCKET server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    if (server == INVALID_SOCKET)
        return Fail("accept");
    sockaddr_in name = {};
    length = sizeof(name);
    if (getsockname(client, reinterpret_cast<sockaddr*>(&name), &length) != 0)
        return Fail("getsockname of the client");
    length = sizeof(name);
    if (getpeername(client, reinterpret_cast<sockaddr*>(&name), &length) != 0)
        return Fail("getpeername");
    if (peer.sin_port == 0)
        return Fail("the accepted address");
    closesocket(server);
    closesocket(client);
    closesocket(listener);
    WSACleanup();
    printf("connectpair: connected and accepted\n");
    return 0;
}
