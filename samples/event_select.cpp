// WSAEventSelect with WSAWaitForMultipleEvents and WSAEnumNetworkEvents: accept, connect,
// read, write and close as network events, and a refused connect reported with its error.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>

namespace {

const char kMessage[] = "event-driven hello";

struct Watched {
    SOCKET s;
    WSAEVENT event;
    long seen;  // network events reported so far
    int errors[FD_MAX_EVENTS];
};

Watched Watch(SOCKET s, long events, const char* what) {
    Watched watched = {s, WSACreateEvent(), 0, {}};
    Check(watched.event != WSA_INVALID_EVENT, "WSACreateEvent failed");
    CheckSocketCall(WSAEventSelect(s, watched.event, events), what);
    return watched;
}

// Waits on every event until watched has reported bit, recording what each socket reports.
void WaitFor(Watched* all, int count, Watched& watched, long bit, const char* what) {
    DWORD deadline = GetTickCount() + kWaitMs;
    WSAEVENT events[WSA_MAXIMUM_WAIT_EVENTS];
    for (int i = 0; i < count; ++i)
        events[i] = all[i].event;
    while (!(watched.seen & bit)) {
        DWORD now = GetTickCount();
        Check(now < deadline, "no %s within %lu ms", what, kWaitMs);
        DWORD result = WSAWaitForMultipleEvents(count, events, FALSE, deadline - now, FALSE);
        if (result == WSA_WAIT_TIMEOUT)
            continue;
        Check(result < WSA_WAIT_EVENT_0 + count, "WSAWaitForMultipleEvents gave %lu", result);
        for (int i = 0; i < count; ++i) {
            if (all[i].s == INVALID_SOCKET)
                continue;  // closed; its record keeps what it reported
            WSANETWORKEVENTS network = {};
            network.lNetworkEvents = 0xdeadbeef;
            CheckSocketCall(WSAEnumNetworkEvents(all[i].s, all[i].event, &network),
                            "WSAEnumNetworkEvents");
            all[i].seen |= network.lNetworkEvents;
            for (int b = 0; b < FD_MAX_EVENTS; ++b) {
                if (network.lNetworkEvents & (1 << b))
                    all[i].errors[b] = network.iErrorCode[b];
            }
        }
    }
}

void Exchange() {
    SOCKET listener = MakeListener(AF_INET);
    SOCKET client = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    Watched watched[3];
    watched[0] = Watch(listener, FD_ACCEPT, "WSAEventSelect(FD_ACCEPT)");
    watched[1] = Watch(client, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE,
                       "WSAEventSelect(FD_CONNECT|FD_WRITE|FD_READ|FD_CLOSE)");
    Watched& onListener = watched[0];
    Watched& onClient = watched[1];

    sockaddr_storage target = LocalAddressOf(listener);
    WSASetLastError(0xdeadbeef);
    CheckSocketError(connect(client, reinterpret_cast<sockaddr*>(&target), AddressLength(target)),
                     WSAEWOULDBLOCK, "connect on a socket in WSAEventSelect mode");
    Step("client connecting to %s: WSAEWOULDBLOCK", AddressText(target).c_str());

    WaitFor(watched, 2, onListener, FD_ACCEPT, "FD_ACCEPT");
    SOCKET server = CheckSocketHandle(accept(listener, nullptr, nullptr), "accept");
    watched[2] = Watch(server, FD_READ | FD_WRITE | FD_CLOSE, "WSAEventSelect on the accepted socket");
    Watched& onServer = watched[2];
    WaitFor(watched, 3, onClient, FD_CONNECT, "FD_CONNECT");
    Check(onClient.errors[FD_CONNECT_BIT] == 0, "FD_CONNECT carries %s",
          WinsockErrorText(onClient.errors[FD_CONNECT_BIT]));
    WaitFor(watched, 3, onClient, FD_WRITE, "FD_WRITE");
    Step("FD_ACCEPT on the listener, FD_CONNECT (no error) and FD_WRITE on the client");

    int sent = CheckSocketCall(send(client, kMessage, sizeof kMessage - 1, 0), "send");
    WaitFor(watched, 3, onServer, FD_READ, "FD_READ on the server");
    char buffer[64];
    int got = CheckSocketCall(recv(server, buffer, sizeof buffer, 0), "recv");
    Check(got == sent && memcmp(buffer, kMessage, got) == 0, "the server read %d bytes", got);
    Step("FD_READ on the server; recv got %d bytes", got);

    CheckSocketCall(closesocket(client), "closesocket on the client");
    onClient.s = INVALID_SOCKET;
    WaitFor(watched, 3, onServer, FD_CLOSE, "FD_CLOSE on the server");
    Check(onServer.errors[FD_CLOSE_BIT] == 0, "FD_CLOSE after a graceful close carries %s",
          WinsockErrorText(onServer.errors[FD_CLOSE_BIT]));
    Step("FD_CLOSE on the server after the client closed (no error)");

    Check(onListener.seen == FD_ACCEPT, "the listener reported events 0x%lx", onListener.seen);
    for (Watched& w : watched)
        WSACloseEvent(w.event);
    closesocket(server);
    closesocket(listener);
}

void RefusedConnect() {
    SOCKET holder = MakeRefusingSocket(AF_INET);
    SOCKET client = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    Watched watched = Watch(client, FD_CONNECT, "WSAEventSelect(FD_CONNECT)");
    sockaddr_storage target = LocalAddressOf(holder);
    WSASetLastError(0xdeadbeef);
    CheckSocketError(connect(client, reinterpret_cast<sockaddr*>(&target), AddressLength(target)),
                     WSAEWOULDBLOCK, "connect to a port with no listener");
    WaitFor(&watched, 1, watched, FD_CONNECT, "FD_CONNECT for the refused connect");
    Check(watched.errors[FD_CONNECT_BIT] == WSAECONNREFUSED,
          "FD_CONNECT for a port with no listener carries %s",
          WinsockErrorText(watched.errors[FD_CONNECT_BIT]));
    Step("FD_CONNECT for %s carries WSAECONNREFUSED", AddressText(target).c_str());
    WSACloseEvent(watched.event);
    closesocket(client);
    closesocket(holder);
}

}  // namespace

int main() {
    SampleStart("event_select");
    Exchange();
    RefusedConnect();
    return SampleFinish();
}
