// Non-blocking sockets driven by select: a connect that answers WSAEWOULDBLOCK, accept and
// recv with nothing waiting, an echo, and a refused connect reported through the except set.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>

namespace {

const char kMessage[] = "non-blocking hello";

void SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    CheckSocketCall(ioctlsocket(s, FIONBIO, &mode), "ioctlsocket(FIONBIO)");
}

timeval TimeoutOf(DWORD ms) {
    return {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
}

SOCKET ConnectPending(const sockaddr_storage& target) {
    SOCKET client = CheckSocketHandle(socket(target.ss_family, SOCK_STREAM, IPPROTO_TCP), "socket");
    SetNonBlocking(client, true);
    WSASetLastError(0xdeadbeef);
    int result = connect(client, reinterpret_cast<const sockaddr*>(&target), AddressLength(target));
    CheckSocketError(result, WSAEWOULDBLOCK, "non-blocking connect");
    return client;
}

void EchoWithoutBlocking() {
    SOCKET listener = MakeListener(AF_INET);
    SetNonBlocking(listener, true);
    Step("listener at %s switched to non-blocking", AddressText(LocalAddressOf(listener)).c_str());

    WSASetLastError(0xdeadbeef);
    CheckSocketError(static_cast<int>(accept(listener, nullptr, nullptr)), WSAEWOULDBLOCK,
                     "accept with no connection waiting");
    Step("accept with nobody waiting: WSAEWOULDBLOCK");

    SOCKET client = ConnectPending(LocalAddressOf(listener));
    Step("connect answered WSAEWOULDBLOCK");

    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(listener, &readable);
    FD_SET(client, &writable);
    timeval timeout = TimeoutOf(kWaitMs);
    // Both sides may not become ready in the same select; wait until each has been seen.
    bool accepted = false, connected = false;
    SOCKET server = INVALID_SOCKET;
    while (!accepted || !connected) {
        fd_set r = readable, w = writable;
        int ready = CheckSocketCall(select(0, accepted ? nullptr : &r, connected ? nullptr : &w,
                                           nullptr, &timeout),
                                    "select");
        Check(ready > 0, "select saw neither the connection nor the accept within %lu ms", kWaitMs);
        if (!accepted && FD_ISSET(listener, &r)) {
            server = CheckSocketHandle(accept(listener, nullptr, nullptr), "accept");
            accepted = true;
        }
        if (!connected && FD_ISSET(client, &w))
            connected = true;
    }
    Step("select reported the client writable and the listener readable; accepted");

    char buffer[64];
    WSASetLastError(0xdeadbeef);
    CheckSocketError(recv(server, buffer, sizeof buffer, 0), WSAEWOULDBLOCK,
                     "recv with no data waiting");
    Step("recv with no data waiting: WSAEWOULDBLOCK");

    int sent = CheckSocketCall(send(client, kMessage, sizeof kMessage - 1, 0), "send");
    Check(WaitReadable(server, kWaitMs), "the server never became readable");
    int got = CheckSocketCall(recv(server, buffer, sizeof buffer, 0), "recv");
    Check(got == sent && memcmp(buffer, kMessage, got) == 0, "the server read %d bytes, expected %d",
          got, sent);
    CheckSocketCall(send(server, buffer, got, 0), "send of the echo");
    Check(WaitReadable(client, kWaitMs), "the client never became readable");
    got = CheckSocketCall(recv(client, buffer, sizeof buffer, 0), "recv of the echo");
    Check(got == sent && memcmp(buffer, kMessage, got) == 0, "the echo came back as %d bytes", got);
    Step("echo of %d bytes after select said each side was ready", got);

    // Back to blocking mode: the call now waits for the data instead of failing.
    SetNonBlocking(server, false);
    SetBlockingTimeouts(server, kWaitMs);
    CheckSocketCall(send(client, kMessage, 4, 0), "send");
    got = CheckSocketCall(recv(server, buffer, 4, 0), "blocking recv");
    Check(got == 4, "blocking recv after FIONBIO 0 gave %d bytes", got);
    Step("FIONBIO 0 made the server blocking again; recv waited for 4 bytes");

    closesocket(client);
    closesocket(server);
    closesocket(listener);
}

void RefusedWithoutBlocking() {
    SOCKET holder = MakeRefusingSocket(AF_INET);
    SOCKET client = ConnectPending(LocalAddressOf(holder));
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(client, &failed);
    timeval timeout = TimeoutOf(kWaitMs);
    int ready = CheckSocketCall(select(0, nullptr, nullptr, &failed, &timeout), "select");
    Check(ready == 1 && FD_ISSET(client, &failed),
          "select did not report the refused connect in the except set (%d ready)", ready);
    int error = 0xdeadbeef;
    int length = sizeof error;
    CheckSocketCall(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &length),
                    "getsockopt(SO_ERROR)");
    Check(error == WSAECONNREFUSED, "SO_ERROR after the failed connect is %s",
          WinsockErrorText(error));
    Step("refused non-blocking connect: except set, SO_ERROR is WSAECONNREFUSED");
    closesocket(client);
    closesocket(holder);
}

}  // namespace

int main() {
    SampleStart("nonblocking");
    EchoWithoutBlocking();
    RefusedWithoutBlocking();
    return SampleFinish();
}
