// Child of the layered run test: reads a duplicated socket's protocol information from its
// standard input, makes the socket again and sends "child" on it. Exit code 0 on success.
#include <winsock2.h>

#include <cstdio>

int main()
{
    WSAPROTOCOL_INFOW info;
    DWORD read = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!ReadFile(input, &info, sizeof info, &read, nullptr) || read != sizeof info) {
        fprintf(stderr, "duplicate child: no protocol information on standard input\n");
        return 1;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    SOCKET s = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                          WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        fprintf(stderr, "duplicate child: WSASocketW failed with %d\n", WSAGetLastError());
        return 3;
    }
    if (send(s, "child", 5, 0) != 5) {
        fprintf(stderr, "duplicate child: send failed with %d\n", WSAGetLastError());
        return 4;
    }
    closesocket(s);
    WSACleanup();
    return 0;
}
