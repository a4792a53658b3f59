// IPv6 loopback: a TCP echo and a UDP datagram over ::1, with the address found through
// getaddrinfo and written back with WSAAddressToString and inet_ntop.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>
#include <thread>

namespace {

const char kMessage[] = "hello over ::1";

sockaddr_storage ResolveLoopback() {
    addrinfo hints = {};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    int error = getaddrinfo("::1", "0", &hints, &found);
    Check(error == 0 && found, "getaddrinfo(\"::1\") failed: %s", WinsockErrorText(error));
    sockaddr_storage address = {};
    memcpy(&address, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);

    char text[INET6_ADDRSTRLEN] = {};
    const in6_addr& raw = reinterpret_cast<sockaddr_in6&>(address).sin6_addr;
    Check(inet_ntop(AF_INET6, &raw, text, sizeof text) != nullptr, "inet_ntop failed: %s",
          WinsockErrorText(WSAGetLastError()));
    Check(strcmp(text, "::1") == 0, "inet_ntop wrote \"%s\" for the loopback address", text);
    Step("getaddrinfo resolved \"::1\", inet_ntop writes it back as \"%s\"", text);
    return address;
}

void TcpEcho(const sockaddr_storage& loopback) {
    SOCKET listener = CheckSocketHandle(socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP), "socket");
    CheckSocketCall(bind(listener, reinterpret_cast<const sockaddr*>(&loopback),
                         AddressLength(loopback)),
                    "bind to [::1]");
    CheckSocketCall(listen(listener, 5), "listen");
    sockaddr_storage listening = LocalAddressOf(listener);
    std::string listeningText = AddressText(listening);
    Check(listeningText == "[::1]:" + std::to_string(AddressPort(listening)),
          "WSAAddressToStringA wrote \"%s\"", listeningText.c_str());
    Step("TCP server listening on %s", listeningText.c_str());

    std::thread server([listener] {
        SOCKET peer = AcceptWithin(listener, kWaitMs);
        SetBlockingTimeouts(peer, kWaitMs);
        char buffer[64];
        int got = ReceiveUntilClosed(peer, buffer, sizeof buffer);
        SendAll(peer, buffer, got);
        closesocket(peer);
    });

    SOCKET client = CheckSocketHandle(socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP), "socket");
    SetBlockingTimeouts(client, kWaitMs);
    CheckSocketCall(connect(client, reinterpret_cast<sockaddr*>(&listening),
                            AddressLength(listening)),
                    "connect to [::1]");
    sockaddr_storage local = LocalAddressOf(client);
    Check(local.ss_family == AF_INET6, "the client socket has family %d", local.ss_family);
    Step("client %s connected", AddressText(local).c_str());
    SendAll(client, kMessage, sizeof kMessage - 1);
    CheckSocketCall(shutdown(client, SD_SEND), "shutdown");
    char reply[64];
    int got = ReceiveUntilClosed(client, reply, sizeof reply);
    server.join();
    Check(got == int(sizeof kMessage - 1) && memcmp(reply, kMessage, got) == 0,
          "echo over ::1 gave %d bytes, expected \"%s\"", got, kMessage);
    Step("echo of %d bytes over ::1 matches", got);
    closesocket(client);
    closesocket(listener);
}

void UdpDatagram() {
    SOCKET sender = MakeBoundSocket(AF_INET6, SOCK_DGRAM);
    SOCKET receiver = MakeBoundSocket(AF_INET6, SOCK_DGRAM);
    SetBlockingTimeouts(receiver, kWaitMs);
    sockaddr_storage to = LocalAddressOf(receiver);
    CheckSocketCall(sendto(sender, kMessage, sizeof kMessage - 1, 0,
                           reinterpret_cast<sockaddr*>(&to), AddressLength(to)),
                    "sendto [::1]");
    char buffer[64];
    sockaddr_storage from = {};
    int fromLength = sizeof from;
    int got = CheckSocketCall(recvfrom(receiver, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength),
                              "recvfrom");
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(got == int(sizeof kMessage - 1) && memcmp(buffer, kMessage, got) == 0,
          "UDP over ::1 gave %d bytes", got);
    Check(fromLength == sizeof(sockaddr_in6) && SameAddress(from, senderAddress),
          "recvfrom named %s (length %d), sender is %s", AddressText(from).c_str(), fromLength,
          AddressText(senderAddress).c_str());
    Step("UDP datagram of %d bytes from %s to %s", got, AddressText(from).c_str(),
         AddressText(to).c_str());
    closesocket(sender);
    closesocket(receiver);
}

}  // namespace

int main() {
    SampleStart("ipv6");
    sockaddr_storage loopback = ResolveLoopback();
    TcpEcho(loopback);
    UdpDatagram();
    return SampleFinish();
}
