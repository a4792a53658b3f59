// A program that checks what Winsock gives it where a layered provider is most likely to change
// it: overlapped calls that complete at once, the status that reaches the overlapped structure
// and the completion port, completion routines, WSAGetOverlappedResult on statuses the program
// set itself, extension-function requests, and overlapped calls on a socket made without
// WSA_FLAG_OVERLAPPED. It exits 0 only when every check holds; run with and without the layer,
// traced or not, it must give the same answers.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <winternl.h>

#include <cstring>

namespace {

const ULONG_PTR PortKey = 123;
const ULONG StatusPending = 0x103;
const ULONG StatusNotSupported = 0xC00000BB;

struct RoutineCalls {
    int count;
    DWORD error;
    DWORD bytes;
    LPWSAOVERLAPPED overlapped;
} routineCalls;

void CALLBACK CountRoutine(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD)
{
    routineCalls = {routineCalls.count + 1, error, bytes, overlapped};
}

SOCKET OverlappedTcpSocket()
{
    return CheckSocketHandle(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                        WSA_FLAG_OVERLAPPED),
                             "WSASocket");
}

HANDLE BindToNewPort(SOCKET s)
{
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), nullptr, PortKey, 0);
    Check(port != nullptr, "CreateIoCompletionPort failed with %lu", GetLastError());
    return port;
}

// The next packet must be there already, for this overlapped, with this key, outcome and count.
void ExpectPacketNow(HANDLE port, const OVERLAPPED* expected, DWORD expectedError,
                     DWORD expectedBytes, const char* what)
{
    DWORD bytes = 0xdeadbeef;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    SetLastError(0xdeadbeef);
    BOOL done = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 0);
    DWORD error = done ? 0 : GetLastError();
    if (!overlapped) {
        // Say whether it comes late or not at all.
        DWORD start = GetTickCount();
        BOOL late = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, kWaitMs) ||
                    overlapped;
        Fail("%s: no packet at once (%s after %lu ms; status %#lx)", what,
             late ? "it came" : "none came", GetTickCount() - start,
             static_cast<unsigned long>(expected->Internal));
    }
    Check(overlapped == expected, "%s: packet for %p, expected %p (error %lu)", what,
          static_cast<void*>(overlapped), static_cast<const void*>(expected), error);
    Check(error == expectedError, "%s: port says error %lu, expected %lu", what, error,
          expectedError);
    Check(key == PortKey, "%s: key %llu", what, static_cast<unsigned long long>(key));
    Check(bytes == expectedBytes, "%s: %lu bytes in the packet, expected %lu", what, bytes,
          expectedBytes);
}

void ExpectNoPacket(HANDLE port, const char* what)
{
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    BOOL done = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 0);
    Check(!done && !overlapped, "%s: an unexpected packet came", what);
}

// An overlapped control request that the provider carries out at once returns 0 with its byte
// count, leaves the outcome in the structure, and still reaches the port, event or routine.
void ControlRequestsDoneAtOnce()
{
    SOCKET s = OverlappedTcpSocket();
    HANDLE port = BindToNewPort(s);
    u_long one = 1;
    OVERLAPPED overlapped = {};
    overlapped.Internal = overlapped.InternalHigh = 0xdeadbeef;
    DWORD size = 0xdeadbeef;
    int result = WSAIoctl(s, FIONBIO, &one, sizeof one, nullptr, 0, &size, &overlapped, nullptr);
    Check(result == 0, "overlapped FIONBIO returned %d, error %d", result, WSAGetLastError());
    Check(size == 0, "overlapped FIONBIO: size %lu", size);
    Check(overlapped.Internal == 0 && overlapped.InternalHigh == 0,
          "overlapped FIONBIO: status %#lx, count %lu",
          static_cast<unsigned long>(overlapped.Internal),
          static_cast<unsigned long>(overlapped.InternalHigh));
    ExpectPacketNow(port, &overlapped, 0, 0, "overlapped FIONBIO");

    // One with output: its count in the call's cell, none in the packet.
    u_long waiting = 0xdeadbeef;
    size = 0xdeadbeef;
    overlapped.Internal = overlapped.InternalHigh = 0xdeadbeef;
    result = WSAIoctl(s, FIONREAD, nullptr, 0, &waiting, sizeof waiting, &size, &overlapped,
                      nullptr);
    Check(result == 0 && waiting == 0 && size == sizeof waiting,
          "overlapped FIONREAD: %d, error %d, value %lu, size %lu", result, WSAGetLastError(),
          waiting, size);
    ExpectPacketNow(port, &overlapped, 0, 0, "overlapped FIONREAD");

    // An event does not keep the packet from the port.
    overlapped = {};
    overlapped.hEvent = WSACreateEvent();
    result = WSAIoctl(s, FIONREAD, nullptr, 0, &waiting, sizeof waiting, &size, &overlapped,
                      nullptr);
    Check(result == 0, "FIONREAD with an event and a port: %d, error %d", result,
          WSAGetLastError());
    Check(WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0,
          "FIONREAD with an event and a port: the event is not set");
    ExpectPacketNow(port, &overlapped, 0, 0, "FIONREAD with an event and a port");
    WSACloseEvent(overlapped.hEvent);
    overlapped = {};

    // Without a cell for the byte count the request is refused, as without an overlapped.
    result = WSAIoctl(s, FIONBIO, &one, sizeof one, nullptr, 0, nullptr, &overlapped, nullptr);
    CheckSocketError(result, WSAEFAULT, "overlapped FIONBIO without a byte count");
    ExpectNoPacket(port, "overlapped FIONBIO without a byte count");

    // An unknown code is refused through the port, with the system's own status.
    overlapped.Internal = overlapped.InternalHigh = 0xdeadbeef;
    result = WSAIoctl(s, 0xdeadbeef, nullptr, 0, nullptr, 0, &size, &overlapped, nullptr);
    CheckSocketError(result, WSA_IO_PENDING, "unknown control code");
    ExpectPacketNow(port, &overlapped, ERROR_NOT_SUPPORTED, 0, "unknown control code");
    Check(overlapped.Internal == StatusNotSupported, "unknown control code: status %#lx",
          static_cast<unsigned long>(overlapped.Internal));
    CloseHandle(port);
    closesocket(s);

    // With an event: set before the call returns.
    s = OverlappedTcpSocket();
    overlapped = {};
    overlapped.hEvent = WSACreateEvent();
    result = WSAIoctl(s, FIONBIO, &one, sizeof one, nullptr, 0, &size, &overlapped, nullptr);
    Check(result == 0, "FIONBIO with an event returned %d, error %d", result, WSAGetLastError());
    Check(WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0,
          "FIONBIO with an event: the event is not set");
    DWORD flags = 0;
    Check(WSAGetOverlappedResult(s, &overlapped, &size, FALSE, &flags),
          "FIONBIO with an event: WSAGetOverlappedResult failed with %d", WSAGetLastError());
    WSACloseEvent(overlapped.hEvent);

    // With a routine: it runs once, in this thread's next alertable wait, with its own
    // arguments, even when the program has cleared the structure meanwhile.
    overlapped = {};
    routineCalls = {};
    result = WSAIoctl(s, FIONBIO, &one, sizeof one, nullptr, 0, &size, &overlapped, CountRoutine);
    Check(result == 0, "FIONBIO with a routine returned %d, error %d", result, WSAGetLastError());
    Check(routineCalls.count == 0, "the routine ran outside an alertable wait");
    std::memset(&overlapped, 0, sizeof overlapped);
    Check(SleepEx(0, TRUE) == WAIT_IO_COMPLETION, "FIONBIO with a routine: nothing ran");
    Check(routineCalls.count == 1 && routineCalls.error == 0 &&
              routineCalls.overlapped == &overlapped,
          "FIONBIO with a routine: %d calls, error %lu", routineCalls.count, routineCalls.error);
    closesocket(s);
    Step("control requests done at once: 0, the outcome in place, port, event and routine told");
}

// A receive with the data already there completes at once; one on a socket made without
// WSA_FLAG_OVERLAPPED is carried out in the call.
void ReceivesDoneAtOnce()
{
    for (DWORD socketFlags : {static_cast<DWORD>(WSA_FLAG_OVERLAPPED), 0ul}) {
        SOCKET listener = MakeListener(AF_INET);
        sockaddr_storage address = LocalAddressOf(listener);
        SOCKET client = CheckSocketHandle(
            WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, socketFlags), "WSASocket");
        CheckSocketCall(connect(client, reinterpret_cast<sockaddr*>(&address),
                                AddressLength(address)),
                        "connect");
        SOCKET server = AcceptWithin(listener, kWaitMs);
        CheckSocketCall(send(server, "data", 4, 0), "send");
        Check(WaitReadable(client, kWaitMs), "the data did not arrive");
        HANDLE port = socketFlags ? BindToNewPort(client) : nullptr;
        char buffer[8] = {};
        WSABUF wsabuf = {sizeof buffer, buffer};
        OVERLAPPED overlapped = {};
        overlapped.hEvent = port ? nullptr : WSACreateEvent();
        overlapped.Offset = 0x1234;   // the program's own (TransmitFile reads a position there)
        DWORD received = 0xdeadbeef, flags = 0;
        int result = WSARecv(client, &wsabuf, 1, &received, &flags, &overlapped, nullptr);
        Check(result == 0, "receive of waiting data (flags %lu) returned %d, error %d",
              socketFlags, result, WSAGetLastError());
        Check(received == 4 && std::memcmp(buffer, "data", 4) == 0 && flags == 0,
              "receive of waiting data: %lu bytes, flags %lu", received, flags);
        Check(overlapped.Internal == 0 && overlapped.InternalHigh == 4,
              "receive of waiting data: status %#lx, count %lu",
              static_cast<unsigned long>(overlapped.Internal),
              static_cast<unsigned long>(overlapped.InternalHigh));
        Check(overlapped.Offset == 0x1234, "receive of waiting data: Offset became %#lx",
              overlapped.Offset);
        if (port) {
            ExpectPacketNow(port, &overlapped, 0, 4, "receive of waiting data");
            CloseHandle(port);
        } else {
            Check(WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0,
                  "receive on a socket without the overlapped flag: the event is not set");
            WSACloseEvent(overlapped.hEvent);
        }
        closesocket(client);
        closesocket(server);
        closesocket(listener);
    }
    Step("receives done at once: 0, the count and the outcome in place, the port told");
}

// WSAGetOverlappedResult reads the status the program itself put in the structure as the
// platform reads any status.
void ResultsOfStatusesTheProgramSet()
{
    SOCKET s = OverlappedTcpSocket();
    // Put the socket's calls through the same path as a program that uses overlapped I/O.
    u_long one = 1;
    OVERLAPPED overlapped = {};
    DWORD size = 0, flags = 0;
    HANDLE port = BindToNewPort(s);
    WSAIoctl(s, FIONBIO, &one, sizeof one, nullptr, 0, &size, &overlapped, nullptr);
    ExpectPacketNow(port, &overlapped, 0, 0, "FIONBIO before the statuses");
    const struct {
        ULONG status;
        BOOL done;
        int error;
    } rows[] = {
        {0x00000000, TRUE, 0},                       // success
        {StatusPending, FALSE, WSA_IO_INCOMPLETE},   // still under way
        {0xC000020D, FALSE, WSAECONNRESET},          // connection reset
        {0xC0000120, FALSE, WSA_OPERATION_ABORTED},  // cancelled
        {0x80000005, FALSE, WSAEMSGSIZE},            // buffer overflow
        {0xC00000BB, FALSE, WSAEOPNOTSUPP},          // not supported
    };
    for (const auto& row : rows) {
        overlapped = {};
        overlapped.Internal = row.status;
        WSASetLastError(0xdead);
        BOOL done = WSAGetOverlappedResult(s, &overlapped, &size, FALSE, &flags);
        Check(done == row.done, "status %#lx: result %d", row.status, done);
        Check(done || WSAGetLastError() == row.error, "status %#lx: error %d, expected %d",
              row.status, WSAGetLastError(), row.error);
    }
    // The flags cell may be left out.
    overlapped = {};
    overlapped.InternalHigh = 7;
    size = 0;
    Check(WSAGetOverlappedResult(s, &overlapped, &size, FALSE, nullptr) && size == 7,
          "WSAGetOverlappedResult without a flags cell: error %d, size %lu", WSAGetLastError(),
          size);
    CloseHandle(port);
    closesocket(s);
    Step("WSAGetOverlappedResult on statuses the program set: as the platform reads them");
}

// Extension functions: an overlapped request is completed like any other request done at once,
// without bytes; an unknown identifier is refused and leaves the structure alone.
void ExtensionRequests()
{
    SOCKET s = OverlappedTcpSocket();
    HANDLE port = BindToNewPort(s);
    GUID acceptEx = WSAID_ACCEPTEX, unknown = {0xdeadbeef, 0, 0, {}};
    void* function = nullptr;
    DWORD size = 0xdeadbeef;
    OVERLAPPED overlapped = {};
    int result = WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &acceptEx, sizeof acceptEx,
                          &function, sizeof function, nullptr, &overlapped, nullptr);
    CheckSocketError(result, WSAEFAULT, "AcceptEx request without a byte count");
    result = WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &acceptEx, sizeof acceptEx,
                      &function, sizeof function, &size, &overlapped, nullptr);
    Check(result == 0 && function && size == sizeof function,
          "overlapped AcceptEx request: %d, error %d, size %lu", result, WSAGetLastError(), size);
    ExpectPacketNow(port, &overlapped, 0, 0, "overlapped AcceptEx request");
    overlapped.Internal = overlapped.InternalHigh = 0xdeadbeef;
    size = 0xdeadbeef;
    result = WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &unknown, sizeof unknown, &function,
                      sizeof function, &size, &overlapped, nullptr);
    CheckSocketError(result, WSAEINVAL, "unknown extension");
    Check(size == 0xdeadbeef && overlapped.Internal == 0xdeadbeef &&
              overlapped.InternalHigh == 0xdeadbeef,
          "unknown extension: the structure or the count was written");
    ExpectNoPacket(port, "unknown extension");
    CloseHandle(port);
    closesocket(s);

    s = OverlappedTcpSocket();
    routineCalls = {};
    result = WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &acceptEx, sizeof acceptEx,
                      &function, sizeof function, &size, &overlapped, CountRoutine);
    Check(result == 0, "AcceptEx request with a routine: %d, error %d", result,
          WSAGetLastError());
    Check(SleepEx(0, TRUE) == WAIT_IO_COMPLETION && routineCalls.count == 1 &&
              routineCalls.error == 0 && routineCalls.bytes == 0,
          "AcceptEx request with a routine: %d calls", routineCalls.count);

    // AcceptEx marks the request under way before it looks at its sockets.
    auto acceptExCall = reinterpret_cast<LPFN_ACCEPTEX>(function);
    char addresses[2 * (sizeof(sockaddr_in6) + 16)];
    overlapped = {};
    overlapped.Internal = 0xdeadbeef;
    BOOL accepted = acceptExCall(INVALID_SOCKET, s, addresses, 0, sizeof(sockaddr_in6) + 16,
                                 sizeof(sockaddr_in6) + 16, &size, &overlapped);
    Check(!accepted && WSAGetLastError() == WSAENOTSOCK,
          "AcceptEx on no listening socket: %d, error %d", accepted, WSAGetLastError());
    Check(overlapped.Internal == StatusPending, "AcceptEx refused at once: status %#lx",
          static_cast<unsigned long>(overlapped.Internal));

    // ConnectEx refused at once leaves the structure in progress, as the call set it.
    auto connectEx = static_cast<LPFN_CONNECTEX>(nullptr);
    GUID connectExId = WSAID_CONNECTEX;
    CheckSocketCall(WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &connectExId,
                             sizeof connectExId, &connectEx, sizeof connectEx, &size, nullptr,
                             nullptr),
                    "ConnectEx request");
    sockaddr_storage address = LoopbackAddress(AF_INET, 9);
    overlapped = {};
    overlapped.Internal = overlapped.InternalHigh = 0xdeadbeef;
    BOOL connected = connectEx(s, reinterpret_cast<sockaddr*>(&address), AddressLength(address),
                               nullptr, 0, &size, &overlapped);
    Check(!connected && WSAGetLastError() == WSAEINVAL,
          "ConnectEx on an unbound socket: %d, error %d", connected, WSAGetLastError());
    Check(overlapped.Internal == StatusPending, "ConnectEx refused at once: status %#lx",
          static_cast<unsigned long>(overlapped.Internal));
    closesocket(s);
    Step("extension requests: completed without bytes, unknown ones refused untouched");
}

// Socket creation: what the catalog fills in, and the errors of requests it cannot meet.
void SocketCreation()
{
    const struct {
        int family, type, protocol;
        int error;          // 0: made
        int madeType;
    } rows[] = {
        {AF_INET, 0, IPPROTO_TCP, 0, SOCK_STREAM},
        {AF_INET, 0, IPPROTO_UDP, 0, SOCK_DGRAM},
        {AF_INET, SOCK_STREAM, 0, 0, SOCK_STREAM},
        {0xdead, SOCK_STREAM, 0, WSAEAFNOSUPPORT, 0},
        {AF_INET, 0xdead, 0, WSAESOCKTNOSUPPORT, 0},
        {AF_INET, SOCK_STREAM, 0xdead, WSAEPROTONOSUPPORT, 0},
        {AF_INET, SOCK_STREAM, IPPROTO_UDP, WSAEPROTONOSUPPORT, 0},
    };
    for (const auto& row : rows) {
        WSASetLastError(0);
        SOCKET s = WSASocketW(row.family, row.type, row.protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED);
        int error = s == INVALID_SOCKET ? WSAGetLastError() : 0;
        Check(error == row.error, "WSASocket(%d, %d, %d): error %d, expected %d", row.family,
              row.type, row.protocol, error, row.error);
        if (s == INVALID_SOCKET)
            continue;
        int type = 0, length = sizeof type;
        CheckSocketCall(getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                                   &length),
                        "getsockopt(SO_TYPE)");
        Check(type == row.madeType, "WSASocket(%d, %d, %d): type %d, expected %d", row.family,
              row.type, row.protocol, type, row.madeType);
        closesocket(s);
    }
    Step("socket creation: the catalog's values and the errors of requests it cannot meet");
}

DWORD WINAPI SelectOnListener(void* parameter)
{
    SOCKET listener = *static_cast<SOCKET*>(parameter);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval limit = {5, 0};
    int result = select(0, &readable, nullptr, nullptr, &limit);
    return result == 1 && FD_ISSET(listener, &readable) ? 0 : 1;
}

// select with one set passed as two of the three gets both answers in it, counted once per
// handle; a socket closed while another thread selects on it wakes that select, named ready.
void SelectAnswers()
{
    TcpPair pair = MakeTcpPair(AF_INET);
    CheckSocketCall(send(pair.client, "x", 1, 0), "send");
    Check(WaitReadable(pair.server, kWaitMs), "the byte did not arrive");
    fd_set both;
    FD_ZERO(&both);
    FD_SET(pair.client, &both);
    FD_SET(pair.server, &both);
    timeval limit = {5, 0};
    int result = select(0, &both, &both, nullptr, &limit);
    Check(result == 2 && FD_ISSET(pair.client, &both) && FD_ISSET(pair.server, &both),
          "select with one set as read and write: %d, %u handles", result, both.fd_count);
    CloseTcpPair(pair);

    SOCKET listener = MakeListener(AF_INET);
    HANDLE thread = CreateThread(nullptr, 0, SelectOnListener, &listener, 0, nullptr);
    Sleep(300);
    closesocket(listener);
    DWORD code = 2;
    Check(WaitForSingleObject(thread, kWaitMs) == WAIT_OBJECT_0 &&
              GetExitCodeThread(thread, &code) && code == 0,
          "a select on a socket closed meanwhile did not name it ready (%lu)", code);
    CloseHandle(thread);
    Step("select: a set passed twice gets both answers; a close wakes a select on the socket");
}

// A receive under way on a socket bound to a port, its overlapped on this frame's stack, and
// the socket's handle closed with CloseHandle rather than closesocket.
__attribute__((noinline)) void LeaveReceiveOfClosedHandle(SOCKET s, HANDLE port)
{
    OVERLAPPED overlapped = {};
    char buffer[16];
    WSABUF wsabuf = {sizeof buffer, buffer};
    DWORD flags = 0;
    int result = WSARecv(s, &wsabuf, 1, nullptr, &flags, &overlapped, nullptr);
    CheckSocketError(result, WSA_IO_PENDING, "receive before CloseHandle");
    CloseHandle(reinterpret_cast<HANDLE>(s));
    CloseHandle(port);
}

// The stack where that overlapped was, filled and left for the receive to end below.
__attribute__((noinline)) bool StackStaysAsFilled(SOCKET peer)
{
    volatile unsigned char area[4096];
    for (auto& byte : area)
        byte = 0x5a;
    closesocket(peer);
    Sleep(500);
    for (auto& byte : area)
        if (byte != 0x5a)
            return false;
    return true;
}

// Closing a socket handle with CloseHandle is the program's own mistake, but nothing may then
// write into the memory its overlapped structures were in.
void HandleClosedWithCloseHandle()
{
    TcpPair pair = MakeTcpPair(AF_INET);
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(pair.client), nullptr, 0, 0);
    Check(port != nullptr, "CreateIoCompletionPort failed with %lu", GetLastError());
    LeaveReceiveOfClosedHandle(pair.client, port);
    Check(StackStaysAsFilled(pair.server),
          "a receive of a handle closed with CloseHandle wrote into the stack after it ended");
    Step("a handle closed with CloseHandle: nothing written where its overlapped was");
}

const struct {
    const char* name;
    void (*run)();
} Checks[] = {
    {"creation", SocketCreation},
    {"control", ControlRequestsDoneAtOnce},
    {"receive", ReceivesDoneAtOnce},
    {"statuses", ResultsOfStatusesTheProgramSet},
    {"extensions", ExtensionRequests},
    {"select", SelectAnswers},
    {"closehandle", HandleClosedWithCloseHandle},
};

} // namespace

// layer_conformance [CHECK]: every check, or the one named.
int main(int argc, char** argv)
{
    SampleStart("layer_conformance");
    for (const auto& check : Checks)
        if (argc < 2 || std::strcmp(argv[1], check.name) == 0)
            check.run();
    return SampleFinish();
}
