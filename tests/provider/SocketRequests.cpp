// Sockets asked for with their values left to the catalog entry or to protocol information, as
// Windows programs may: each must come out as it does without a layered provider. Exit 0 when
// every answer is the expected one; each wrong answer is printed with what came instead.
#include <winsock2.h>
#include <cstdio>

static int failures;

static void Check(bool holds, const char* what, long got)
{
    if (!holds) {
        printf("socketrequests: %s (got %ld, error %d)\n", what, got, WSAGetLastError());
        failures++;
    }
}

static int TypeOf(SOCKET s)
{
    int type = -1, length = sizeof(type);
    getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length);
    return type;
}

static void ExpectType(SOCKET s, int expected, const char* request)
{
    char what[128];
    snprintf(what, sizeof(what), "%s makes a socket of type %d", request, expected);
    Check(s != INVALID_SOCKET && TypeOf(s) == expected, what, s == INVALID_SOCKET ? -1 : TypeOf(s));
    closesocket(s);
}

static void ValuesLeftToTheEntry()
{
    ExpectType(WSASocketW(AF_INET, 0, IPPROTO_TCP, nullptr, 0, 0), SOCK_STREAM,
               "AF_INET, no type, TCP");
    ExpectType(WSASocketW(AF_UNSPEC, 0, IPPROTO_UDP, nullptr, 0, 0), SOCK_DGRAM,
               "no family, no type, UDP");
    ExpectType(WSASocketW(AF_INET, 0, 0, nullptr, 0, 0), SOCK_STREAM, "AF_INET alone");
}

static void ProtocolRecord()
{
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
    WSAPROTOCOL_INFOW info[2] = {};
    int length = sizeof(info);
    int result = getsockopt(s, SOL_SOCKET, SO_PROTOCOL_INFOW, reinterpret_cast<char*>(info),
                            &length);
    Check(result == 0, "SO_PROTOCOL_INFOW succeeds", result);
    Check(length == static_cast<int>(sizeof(info)), "a longer buffer keeps its length", length);
    Check(info[0].iSocketType == SOCK_DGRAM, "the record's type", info[0].iSocketType);
    Check(info[0].iProtocol == IPPROTO_UDP, "the record's protocol", info[0].iProtocol);
    Check((info[0].dwServiceFlags1 & XP1_IFS_HANDLES) != 0,
          "the record has the flags of the provider that makes the handle",
          static_cast<long>(info[0].dwServiceFlags1));
    closesocket(s);
}

static void DuplicatesInThisProcess()
{
    SOCKET source = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(source, reinterpret_cast<sockaddr*>(&address), sizeof(address)) ||
        getsockname(source, reinterpret_cast<sockaddr*>(&address), &length)) {
        Check(false, "binding a UDP socket to loopback", -1);
        return;
    }
    WSAPROTOCOL_INFOW wide;
    int result = WSADuplicateSocketW(source, GetCurrentProcessId(), &wide);
    Check(result == 0, "WSADuplicateSocketW", result);
    Check(wide.iSocketType == SOCK_DGRAM, "the duplicate's type", wide.iSocketType);
    SOCKET copy = WSASocketW(0, 0, 0, &wide, 0, 0);
    Check(copy != INVALID_SOCKET && TypeOf(copy) == SOCK_DGRAM,
          "the duplicate made with every value left to its record", static_cast<long>(copy));
    DWORD timeout = 5000;
    setsockopt(copy, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof(timeout));
    sendto(source, "TEST", 4, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    char buffer[8] = {};
    int got = recv(copy, buffer, sizeof(buffer), 0);
    Check(got == 4, "the duplicate receives what reaches the original", got);
    closesocket(copy);

    WSAPROTOCOL_INFOA narrow;
    result = WSADuplicateSocketA(source, GetCurrentProcessId(), &narrow);
    Check(result == 0, "WSADuplicateSocketA", result);
    copy = WSASocketA(0, 0, 0, &narrow, 0, 0);
    Check(copy != INVALID_SOCKET, "the narrow duplicate made from its record",
          static_cast<long>(copy));
    closesocket(copy);
    closesocket(source);
}

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    ValuesLeftToTheEntry();
    ProtocolRecord();
    DuplicatesInThisProcess();
    WSACleanup();
    return failures == 0 ? 0 : 1;
}
