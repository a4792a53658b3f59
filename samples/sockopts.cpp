// Socket options and control codes: SO_LINGER, SO_RCVBUF, SO_REUSEADDR, SO_TYPE,
// SO_PROTOCOL_INFO, FIONREAD and SIOCATMARK, and an option call that must fail.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <string.h>

namespace {

template <typename T>
T GetOption(SOCKET s, int level, int name, const char* what) {
    T value;
    memset(&value, 0xcd, sizeof value);
    int length = sizeof value;
    CheckSocketCall(getsockopt(s, level, name, reinterpret_cast<char*>(&value), &length), what);
    Check(length == sizeof value, "%s returned length %d, expected %d", what, length,
          int(sizeof value));
    return value;
}

template <typename T>
void SetOption(SOCKET s, int level, int name, const T& value, const char* what) {
    CheckSocketCall(setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value),
                    what);
}

void LingerAndBuffers(SOCKET s) {
    linger wanted = {1, 7};
    SetOption(s, SOL_SOCKET, SO_LINGER, wanted, "setsockopt(SO_LINGER)");
    linger got = GetOption<linger>(s, SOL_SOCKET, SO_LINGER, "getsockopt(SO_LINGER)");
    Check(got.l_onoff != 0 && got.l_linger == 7, "SO_LINGER reads back as {%u, %u}", got.l_onoff,
          got.l_linger);
    Step("SO_LINGER set to {on, 7 s} and read back");

    int buffer = 32768;
    SetOption(s, SOL_SOCKET, SO_RCVBUF, buffer, "setsockopt(SO_RCVBUF)");
    int size = GetOption<int>(s, SOL_SOCKET, SO_RCVBUF, "getsockopt(SO_RCVBUF)");
    // Some stacks round the size up (Linux doubles it); never below what was asked.
    Check(size >= buffer, "SO_RCVBUF reads back as %d after setting %d", size, buffer);
    Step("SO_RCVBUF set to %d, reads back as %d", buffer, size);

    BOOL reuse = TRUE;
    SetOption(s, SOL_SOCKET, SO_REUSEADDR, reuse, "setsockopt(SO_REUSEADDR)");
    BOOL reused = GetOption<BOOL>(s, SOL_SOCKET, SO_REUSEADDR, "getsockopt(SO_REUSEADDR)");
    Check(reused != FALSE, "SO_REUSEADDR reads back as %d", reused);
    Step("SO_REUSEADDR set and read back");

    int tooShort = 0;
    int length = 1;
    WSASetLastError(0xdeadbeef);
    CheckSocketError(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&tooShort),
                                &length),
                     WSAEFAULT, "getsockopt(SO_RCVBUF) with a 1-byte buffer");
    Step("getsockopt with a 1-byte buffer: WSAEFAULT");
}

struct ProtocolRow {
    int type;
    int protocol;
    const char* name;
};

const ProtocolRow protocolRows[] = {
    {SOCK_STREAM, IPPROTO_TCP, "TCP"},
    {SOCK_DGRAM, IPPROTO_UDP, "UDP"},
};

void ProtocolInfo() {
    for (const ProtocolRow& row : protocolRows) {
        SOCKET s = CheckSocketHandle(socket(AF_INET, row.type, row.protocol), "socket");
        int type = GetOption<int>(s, SOL_SOCKET, SO_TYPE, "getsockopt(SO_TYPE)");
        Check(type == row.type, "SO_TYPE of a %s socket is %d", row.name, type);
        WSAPROTOCOL_INFOA info = GetOption<WSAPROTOCOL_INFOA>(s, SOL_SOCKET, SO_PROTOCOL_INFOA,
                                                              "getsockopt(SO_PROTOCOL_INFOA)");
        Check(info.iAddressFamily == AF_INET && info.iSocketType == row.type &&
                  info.iProtocol == row.protocol,
              "SO_PROTOCOL_INFOA of a %s socket: family %d, type %d, protocol %d", row.name,
              info.iAddressFamily, info.iSocketType, info.iProtocol);
        Step("%s socket: SO_TYPE %d, SO_PROTOCOL_INFOA names \"%s\"", row.name, type,
             info.szProtocol);
        closesocket(s);
    }
}

void PendingData() {
    TcpPair pair = MakeTcpPair(AF_INET);
    u_long pending = 0xdeadbeef;
    CheckSocketCall(ioctlsocket(pair.server, FIONREAD, &pending), "ioctlsocket(FIONREAD)");
    Check(pending == 0, "FIONREAD is %lu before anything was sent", pending);

    char data[100];
    FillPattern(data, sizeof data, 3);
    SendAll(pair.client, data, sizeof data);
    Check(WaitReadable(pair.server, kWaitMs), "no data arrived");
    // Loopback may hand the bytes over in pieces; wait until all are counted.
    DWORD deadline = GetTickCount() + kWaitMs;
    for (;;) {
        CheckSocketCall(ioctlsocket(pair.server, FIONREAD, &pending), "ioctlsocket(FIONREAD)");
        if (pending >= sizeof data || GetTickCount() >= deadline)
            break;
        Sleep(10);
    }
    Check(pending == sizeof data, "FIONREAD is %lu after %d bytes were sent", pending,
          int(sizeof data));

    u_long viaIoctl = 0xdeadbeef;
    DWORD returned = 0;
    CheckSocketCall(WSAIoctl(pair.server, FIONREAD, nullptr, 0, &viaIoctl, sizeof viaIoctl,
                             &returned, nullptr, nullptr),
                    "WSAIoctl(FIONREAD)");
    Check(viaIoctl == pending && returned == sizeof viaIoctl,
          "WSAIoctl(FIONREAD) gave %lu (%lu bytes returned)", viaIoctl, returned);
    Step("FIONREAD counts %lu pending bytes through ioctlsocket and WSAIoctl", pending);

    u_long atMark = 0xdeadbeef;
    CheckSocketCall(ioctlsocket(pair.server, SIOCATMARK, &atMark), "ioctlsocket(SIOCATMARK)");
    Check(atMark != 0, "SIOCATMARK says urgent data is waiting when none was sent");
    Step("SIOCATMARK: no urgent data waiting");

    char received[100];
    ReceiveExactly(pair.server, received, sizeof received);
    Check(memcmp(received, data, sizeof data) == 0, "the pending bytes differ from those sent");
    CloseTcpPair(pair);
}

int ThreadOpenType() {
    int value = -1;
    int length = sizeof value;
    CheckSocketCall(getsockopt(INVALID_SOCKET, SOL_SOCKET, SO_OPENTYPE,
                               reinterpret_cast<char*>(&value), &length),
                    "getsockopt(SO_OPENTYPE)");
    return value;
}

DWORD WINAPI OtherThreadOpenType(void* value) {
    *static_cast<int*>(value) = ThreadOpenType();
    return 0;
}

// SO_OPENTYPE belongs to the thread that sets it: its later sockets are synchronous ones, and
// they work as sockets; another thread keeps the default.
void OpenType() {
    Check(ThreadOpenType() == 0, "SO_OPENTYPE starts at %d", ThreadOpenType());
    int synchronous = SO_SYNCHRONOUS_NONALERT;
    CheckSocketCall(setsockopt(INVALID_SOCKET, SOL_SOCKET, SO_OPENTYPE,
                               reinterpret_cast<char*>(&synchronous), sizeof synchronous),
                    "setsockopt(SO_OPENTYPE)");
    Check(ThreadOpenType() == SO_SYNCHRONOUS_NONALERT, "SO_OPENTYPE reads back as %d",
          ThreadOpenType());
    int other = -1;
    HANDLE thread = CreateThread(nullptr, 0, OtherThreadOpenType, &other, 0, nullptr);
    Check(thread && WaitForSingleObject(thread, kWaitMs) == WAIT_OBJECT_0, "the other thread");
    CloseHandle(thread);
    Check(other == 0, "another thread sees SO_OPENTYPE %d", other);

    TcpPair pair = MakeTcpPair(AF_INET);
    SendAll(pair.client, "sync", 4);
    char buffer[4];
    ReceiveExactly(pair.server, buffer, sizeof buffer);
    CloseTcpPair(pair);
    int overlapped = 0;
    setsockopt(INVALID_SOCKET, SOL_SOCKET, SO_OPENTYPE, reinterpret_cast<char*>(&overlapped),
               sizeof overlapped);
    Step("SO_OPENTYPE: synchronous sockets for this thread only, and they carry data");
}

}  // namespace

int main() {
    SampleStart("sockopts");
    SOCKET s = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    LingerAndBuffers(s);
    closesocket(s);
    ProtocolInfo();
    PendingData();
    OpenType();
    return SampleFinish();
}
