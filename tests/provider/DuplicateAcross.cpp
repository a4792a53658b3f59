// A socket duplicated into another process: this program connects a pair over loopback, starts
// a copy of itself, duplicates the accepted socket for it with WSADuplicateSocket, and closes its
// own; the copy makes the socket from the protocol information with WSASocket and sends through
// it. Exit 0 when the message arrives at the client.
//   duplicateacross            the parent
//   duplicateacross FILE       the child, reading the protocol information from FILE
#include <winsock2.h>
#include <cstdio>
#include <cstring>

static const char Message[] = "sent by the other process";

static int Fail(const char* what)
{
    printf("duplicateacross: %s failed (error %d)\n", what, WSAGetLastError());
    return 1;
}

static int Child(const char* path)
{
    WSAPROTOCOL_INFOW info;
    FILE* file = fopen(path, "rb");
    if (!file || fread(&info, sizeof(info), 1, file) != 1)
        return Fail("reading the protocol information");
    fclose(file);
    SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                             WSA_FLAG_OVERLAPPED);
    if (copy == INVALID_SOCKET)
        return Fail("WSASocketW from the protocol information");
    if (send(copy, Message, sizeof(Message) - 1, 0) != sizeof(Message) - 1)
        return Fail("send through the duplicate");
    closesocket(copy);
    return 0;
}

static int Parent(const char* self)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) ||
        listen(listener, 1) || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
        return Fail("the listener");
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)))
        return Fail("connect");
    SOCKET server = accept(listener, nullptr, nullptr);
    if (server == INVALID_SOCKET)
        return Fail("accept");

    char path[MAX_PATH];
    GetTempFileNameA(".", "dup", 0, path);
    char commandLine[2 * MAX_PATH];
    snprintf(commandLine, sizeof(commandLine), "\"%s\" %s", self, path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &child))
        return Fail("CreateProcess");
    WSAPROTOCOL_INFOW info;
    int result = WSADuplicateSocketW(server, child.dwProcessId, &info);
    FILE* file = fopen(path, "wb");
    if (result == 0 && file)
        fwrite(&info, sizeof(info), 1, file);
    if (file)
        fclose(file);
    ResumeThread(child.hThread);
    if (result != 0) {
        TerminateProcess(child.hProcess, 1);
        return Fail("WSADuplicateSocketW");
    }
    closesocket(server);   // the connection lives on in the other process

    char received[sizeof(Message)] = {};
    int got = 0;
    DWORD timeout = 20000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof(timeout));
    while (got < static_cast<int>(sizeof(Message)) - 1) {
        int part = recv(client, received + got, sizeof(Message) - 1 - got, 0);
        if (part <= 0)
            break;
        got += part;
    }
    DWORD childExit = 1;
    WaitForSingleObject(child.hProcess, 20000);
    GetExitCodeProcess(child.hProcess, &childExit);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    DeleteFileA(path);
    closesocket(client);
    closesocket(listener);
    if (childExit != 0)
        return Fail("the other process");
    if (got != static_cast<int>(sizeof(Message)) - 1 || memcmp(received, Message, got) != 0)
        return Fail("the message through the duplicate");
    printf("duplicateacross: the other process sent through the duplicated socket\n");
    return 0;
}

int main(int argc, char** argv)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data))
        return Fail("WSAStartup");
    int result = argc > 1 ? Child(argv[1]) : Parent(argv[0]);
    WSACleanup();
    return result;
}
