// Blocking TCP over 127.0.0.1: a server thread echoes what one client sends, then the client
// tries a port where nobody listens.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>
#include <thread>

namespace {

const char kRequest[] = "the quick brown fox jumps over the lazy dog";

struct ServerView {
    sockaddr_storage local;
    sockaddr_storage peer;
    int echoed;
};

void EchoOnce(SOCKET listener, ServerView& view) {
    SOCKET peer = AcceptWithin(listener, kWaitMs);
    SetBlockingTimeouts(peer, kWaitMs);
    view.local = LocalAddressOf(peer);
    view.peer = PeerAddressOf(peer);
    char buffer[256];
    view.echoed = ReceiveUntilClosed(peer, buffer, sizeof buffer);
    SendAll(peer, buffer, view.echoed);
    CheckSocketCall(shutdown(peer, SD_SEND), "shutdown(SD_SEND) on the server");
    CheckSocketCall(closesocket(peer), "closesocket on the server");
}

void EchoExchange() {
    SOCKET listener = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    sockaddr_storage address = LoopbackAddress(AF_INET, 0);
    CheckSocketCall(bind(listener, reinterpret_cast<sockaddr*>(&address), AddressLength(address)),
                    "bind");
    CheckSocketCall(listen(listener, 5), "listen");
    sockaddr_storage listening = LocalAddressOf(listener);
    Check(AddressPort(listening) != 0, "getsockname gave port 0 after bind to port 0");
    Step("server listening on %s", AddressText(listening).c_str());

    ServerView view = {};
    std::thread server(EchoOnce, listener, std::ref(view));

    SOCKET client = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    SetBlockingTimeouts(client, kWaitMs);
    CheckSocketCall(connect(client, reinterpret_cast<sockaddr*>(&listening),
                            AddressLength(listening)),
                    "connect");
    sockaddr_storage clientLocal = LocalAddressOf(client);
    sockaddr_storage clientPeer = PeerAddressOf(client);
    Step("client %s connected to %s", AddressText(clientLocal).c_str(),
         AddressText(clientPeer).c_str());
    Check(SameAddress(clientPeer, listening), "getpeername gave %s, expected %s",
          AddressText(clientPeer).c_str(), AddressText(listening).c_str());

    SendAll(client, kRequest, sizeof kRequest - 1);
    CheckSocketCall(shutdown(client, SD_SEND), "shutdown(SD_SEND) on the client");
    Step("client sent %d bytes and shut down its sending side", int(sizeof kRequest - 1));

    char reply[256];
    int replied = ReceiveUntilClosed(client, reply, sizeof reply);
    server.join();
    Check(view.echoed == int(sizeof kRequest - 1), "server received %d bytes, expected %d",
          view.echoed, int(sizeof kRequest - 1));
    Check(replied == view.echoed && memcmp(reply, kRequest, replied) == 0,
          "echo differs: %d bytes back, expected \"%s\"", replied, kRequest);
    Step("client received the %d bytes back unchanged, then the end of the stream", replied);

    Check(SameAddress(view.peer, clientLocal), "server saw peer %s, client is %s",
          AddressText(view.peer).c_str(), AddressText(clientLocal).c_str());
    Check(SameAddress(view.local, listening), "accepted socket is at %s, listener at %s",
          AddressText(view.local).c_str(), AddressText(listening).c_str());
    Step("server saw the client at %s", AddressText(view.peer).c_str());

    CheckSocketCall(closesocket(client), "closesocket on the client");
    CheckSocketCall(closesocket(listener), "closesocket on the listener");
    Step("closed all sockets");
}

void RefusedConnect() {
    SOCKET holder = MakeRefusingSocket(AF_INET);
    sockaddr_storage target = LocalAddressOf(holder);
    SOCKET client = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    WSASetLastError(0xdeadbeef);
    int result = connect(client, reinterpret_cast<sockaddr*>(&target), AddressLength(target));
    CheckSocketError(result, WSAECONNREFUSED, "connect to a port with no listener");
    Step("connect to %s was refused as expected (WSAECONNREFUSED)", AddressText(target).c_str());
    closesocket(client);
    closesocket(holder);
}

}  // namespace

int main() {
    SampleStart("tcp_blocking");
    EchoExchange();
    RefusedConnect();
    return SampleFinish();
}
