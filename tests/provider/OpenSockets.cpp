// Creates a TCP and a UDP socket and ends without closing them or cleaning up, so that the
// layer's detach must close and report them.
#include <winsock2.h>
#include <cstdio>

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET tcp = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (tcp == INVALID_SOCKET || udp == INVALID_SOCKET)
        return 2;
    printf("%lu %lu\n", static_cast<unsigned long>(tcp), static_cast<unsigned long>(udp));
    fflush(stdout);
    return 0;
}
