// UDP over 127.0.0.1: addressed datagrams (sendto, WSASendTo), a connected default address, and
// a datagram larger than the buffer the receiver offers.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>

namespace {

const char kFirst[] = "first datagram, addressed with sendto";
const char kSecond[] = "second datagram, over a connected socket";
constexpr int kLargeLength = 200;
constexpr int kSmallBuffer = 64;

void AddressedDatagram(SOCKET sender, SOCKET receiver) {
    sockaddr_storage to = LocalAddressOf(receiver);
    int sent = CheckSocketCall(sendto(sender, kFirst, sizeof kFirst - 1, 0,
                                      reinterpret_cast<sockaddr*>(&to), AddressLength(to)),
                               "sendto");
    Check(sent == int(sizeof kFirst - 1), "sendto sent %d of %d bytes", sent, int(sizeof kFirst - 1));
    Step("sendto sent %d bytes to %s", sent, AddressText(to).c_str());

    char buffer[128];
    sockaddr_storage from = {};
    int fromLength = sizeof from;
    int got = CheckSocketCall(recvfrom(receiver, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength),
                              "recvfrom");
    Check(got == sent && memcmp(buffer, kFirst, got) == 0, "recvfrom gave %d bytes, expected \"%s\"",
          got, kFirst);
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(SameAddress(from, senderAddress), "recvfrom says the datagram came from %s, sender is %s",
          AddressText(from).c_str(), AddressText(senderAddress).c_str());
    Step("recvfrom got the %d bytes from %s", got, AddressText(from).c_str());
}

void ConnectedDatagram(SOCKET sender, SOCKET receiver) {
    sockaddr_storage to = LocalAddressOf(receiver);
    CheckSocketCall(connect(sender, reinterpret_cast<sockaddr*>(&to), AddressLength(to)),
                    "connect on a UDP socket");
    sockaddr_storage peer = PeerAddressOf(sender);
    Check(SameAddress(peer, to), "getpeername gave %s after connect to %s",
          AddressText(peer).c_str(), AddressText(to).c_str());
    Step("connected the sender to its default address %s", AddressText(peer).c_str());

    int sent = CheckSocketCall(send(sender, kSecond, sizeof kSecond - 1, 0), "send");
    char buffer[128];
    int got = CheckSocketCall(recv(receiver, buffer, sizeof buffer, 0), "recv");
    Check(got == sent && memcmp(buffer, kSecond, got) == 0, "recv gave %d bytes, expected \"%s\"",
          got, kSecond);
    Step("send and recv carried %d bytes", got);
}

// One datagram gathered from two buffers by WSASendTo, read whole by a blocking WSARecvFrom.
void GatheredDatagram(SOCKET sender, SOCKET receiver) {
    sockaddr_storage to = LocalAddressOf(receiver);
    char head[] = "gathered ", tail[] = "by WSASendTo";
    WSABUF pieces[2] = {{sizeof head - 1, head}, {sizeof tail - 1, tail}};
    DWORD sent = 0xdeadbeef;
    CheckSocketCall(WSASendTo(sender, pieces, 2, &sent, 0, reinterpret_cast<sockaddr*>(&to),
                              AddressLength(to), nullptr, nullptr),
                    "WSASendTo");
    Check(sent == pieces[0].len + pieces[1].len, "WSASendTo sent %lu bytes", sent);

    char buffer[64] = {};
    WSABUF into = {sizeof buffer, buffer};
    DWORD received = 0xdeadbeef, flags = 0;
    sockaddr_storage from = {};
    int fromLength = sizeof from;
    CheckSocketCall(WSARecvFrom(receiver, &into, 1, &received, &flags,
                                reinterpret_cast<sockaddr*>(&from), &fromLength, nullptr, nullptr),
                    "WSARecvFrom");
    Check(received == sent && memcmp(buffer, "gathered by WSASendTo", received) == 0,
          "WSARecvFrom got %lu bytes: \"%.*s\"", received, int(received), buffer);
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(SameAddress(from, senderAddress), "WSARecvFrom names %s, sender is %s",
          AddressText(from).c_str(), AddressText(senderAddress).c_str());
    Step("WSASendTo gathered 2 buffers into one %lu-byte datagram; WSARecvFrom read it whole",
         received);
}

// Windows truncates a datagram that does not fit and reports it: WSAEMSGSIZE, or for WSARecv
// MSG_PARTIAL in the flags where the provider keeps the remainder. The rest is discarded either way.
void OversizedDatagrams(SOCKET sender, SOCKET receiver) {
    char large[kLargeLength];
    FillPattern(large, kLargeLength, 1);
    CheckSocketCall(send(sender, large, kLargeLength, 0), "send of the large datagram");
    CheckSocketCall(send(sender, kSecond, sizeof kSecond - 1, 0), "send of the marker datagram");

    char small[kSmallBuffer];
    memset(small, 0, sizeof small);
    WSABUF buffer = {kSmallBuffer, small};
    DWORD received = 0xdeadbeef;
    DWORD flags = 0;
    WSASetLastError(0xdeadbeef);
    int result = WSARecv(receiver, &buffer, 1, &received, &flags, nullptr, nullptr);
    int error = WSAGetLastError();
    if (result == SOCKET_ERROR) {
        Check(error == WSAEMSGSIZE, "WSARecv of a %d-byte datagram into %d bytes failed with %s",
              kLargeLength, kSmallBuffer, WinsockErrorText(error));
        Step("WSARecv into %d bytes of a %d-byte datagram: WSAEMSGSIZE", kSmallBuffer, kLargeLength);
    } else {
        Check((flags & MSG_PARTIAL) != 0 && received == kSmallBuffer,
              "WSARecv of a %d-byte datagram into %d bytes succeeded with %lu bytes, flags 0x%lx",
              kLargeLength, kSmallBuffer, received, flags);
        Step("WSARecv into %d bytes of a %d-byte datagram: MSG_PARTIAL", kSmallBuffer, kLargeLength);
    }
    Check(memcmp(small, large, kSmallBuffer) == 0, "WSARecv did not fill the buffer with the head");

    // The marker proves the tail of the large datagram did not linger as a datagram of its own.
    char marker[128];
    int got = CheckSocketCall(recv(receiver, marker, sizeof marker, 0), "recv of the marker");
    if (result != SOCKET_ERROR && got != int(sizeof kSecond - 1)) {
        Step("the provider kept the tail of the datagram (%d bytes)", got);
        got = CheckSocketCall(recv(receiver, marker, sizeof marker, 0), "recv of the marker");
    }
    Check(got == int(sizeof kSecond - 1) && memcmp(marker, kSecond, got) == 0,
          "the datagram after the large one arrived as %d bytes", got);

    CheckSocketCall(send(sender, large, kLargeLength, 0), "send of the large datagram");
    memset(small, 0, sizeof small);
    WSASetLastError(0xdeadbeef);
    result = recv(receiver, small, kSmallBuffer, 0);
    CheckSocketError(result, WSAEMSGSIZE, "recv of a datagram larger than its buffer");
    Check(memcmp(small, large, kSmallBuffer) == 0, "recv did not fill the buffer with the head");
    Step("recv into %d bytes of a %d-byte datagram: WSAEMSGSIZE, head delivered", kSmallBuffer,
         kLargeLength);
}

}  // namespace

int main() {
    SampleStart("udp");
    SOCKET sender = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SOCKET receiver = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SetBlockingTimeouts(receiver, kWaitMs);
    Step("two UDP sockets at %s and %s", AddressText(LocalAddressOf(sender)).c_str(),
         AddressText(LocalAddressOf(receiver)).c_str());
    AddressedDatagram(sender, receiver);
    GatheredDatagram(sender, receiver);
    ConnectedDatagram(sender, receiver);
    OversizedDatagrams(sender, receiver);
    CheckSocketCall(closesocket(sender), "closesocket");
    CheckSocketCall(closesocket(receiver), "closesocket");
    return SampleFinish();
}
