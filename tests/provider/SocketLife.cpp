// A short, deterministic socket life over loopback for the end-to-end trace: a UDP pair that
// exchanges one datagram, a TCP client that connects to a listener and sends five bytes, every
// socket closed, Winsock cleaned up. Exits 0 when every call succeeded.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <cstdio>
#include <initializer_list>

static int Fail(const char* what)
{
    printf("socketlife: FAILED: %s (%d)\n", what, WSAGetLastError());
    return 1;
}

static sockaddr_in Loopback()
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

static bool BindLoopback(SOCKET s, sockaddr_in* bound)
{
    *bound = Loopback();
    int length = sizeof(*bound);
    return bind(s, reinterpret_cast<sockaddr*>(bound), sizeof(*bound)) == 0 &&
           getsockname(s, reinterpret_cast<sockaddr*>(bound), &length) == 0;
}

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return Fail("WSAStartup");
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in senderAddress, receiverAddress;
    if (sender == INVALID_SOCKET || receiver == INVALID_SOCKET)
        return Fail("UDP socket");
    if (!BindLoopback(sender, &senderAddress) || !BindLoopback(receiver, &receiverAddress))
        return Fail("UDP bind");
    if (sendto(sender, "hello", 5, 0, reinterpret_cast<sockaddr*>(&receiverAddress),
               sizeof(receiverAddress)) != 5)
        return Fail("sendto");
    char buffer[16];
    if (recv(receiver, buffer, sizeof(buffer), 0) != 5)
        return Fail("recv");

    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in listening;
    if (listener == INVALID_SOCKET || client == INVALID_SOCKET)
        return Fail("TCP socket");
    if (!BindLoopback(listener, &listening) || listen(listener, 1) != 0)
        return Fail("listen");
    // The connection completes in the listener's backlog; nobody needs to accept it.
    if (connect(client, reinterpret_cast<sockaddr*>(&listening), sizeof(listening)) != 0)
        return Fail("connect");
    if (send(client, "12345", 5, 0) != 5)
        return Fail("send");

    for (SOCKET s : {client, listener, receiver, sender}) {
        if (closesocket(s) != 0)
            return Fail("closesocket");
    }
    if (WSACleanup() != 0)
        return Fail("WSACleanup");
    printf("socketlife: done\n");
    return 0;
}
