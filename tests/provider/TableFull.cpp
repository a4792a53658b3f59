// Run with WS2LAYER_TABLE_FULL=1: the Winsock layer for Wine cannot record another socket, as
// when its memory runs out. A socket request must then fail with WSAENOBUFS, not crash in the
// provider that asked. Exit code 0 when it does.
#include <winsock2.h>
#include <cstdio>

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int error = WSAGetLastError();
    printf("tablefull: socket gave %s (error %d)\n", s == INVALID_SOCKET ? "no socket" : "a socket",
           error);
    WSACleanup();
    return s == INVALID_SOCKET && error == WSAENOBUFS ? 0 : 1;
}
