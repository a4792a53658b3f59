// A traced program that stays alive: makes one socket, holds it for the given milliseconds,
// closes it and exits. Lets a test run a second process, or kill this one, mid-trace.
#include <winsock2.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    DWORD holdMs = argc > 1 ? DWORD(strtoul(argv[1], nullptr, 10)) : 0;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        printf("socketpause: FAILED: socket (%d)\n", WSAGetLastError());
        return 1;
    }
    Sleep(holdMs);
    closesocket(s);
    WSACleanup();
    return 0;
}
