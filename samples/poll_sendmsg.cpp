// WSAPoll and WSASendMsg: readiness of a connected pair asked with WSAPoll (nothing yet, then
// readable and writable, and an unknown handle), a datagram and a stream message sent with
// WSASendMsg and checked where they arrive.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <string.h>

namespace {

const char kStreamMessage[] = "gathered into one stream send by WSASendMsg";
const char kDatagram[] = "a datagram from WSASendMsg";

// The revents of one socket after a WSAPoll that must find count ready.
void CheckPoll(WSAPOLLFD* fds, ULONG count, INT timeout, int ready, const char* what) {
    int got = WSAPoll(fds, count, timeout);
    Check(got != SOCKET_ERROR, "WSAPoll (%s) failed: %s", what, WinsockErrorText(WSAGetLastError()));
    Check(got == ready, "WSAPoll (%s) found %d ready, expected %d", what, got, ready);
}

void PollReadiness(TcpPair& pair) {
    WSAPOLLFD fds[2] = {};
    fds[0].fd = pair.server;
    fds[0].events = POLLRDNORM;
    fds[1].fd = pair.client;
    fds[1].events = POLLWRNORM;
    CheckPoll(fds, 1, 0, 0, "nothing sent yet");
    Check(fds[0].revents == 0, "the server shows events 0x%x before anything was sent",
          fds[0].revents);
    Step("WSAPoll: nothing to read before the client sends");

    SendAll(pair.client, "ping", 4);
    CheckPoll(fds, 2, kWaitMs, 2, "after a send");
    Check(fds[0].revents == POLLRDNORM, "the server shows events 0x%x, expected POLLRDNORM",
          fds[0].revents);
    Check(fds[1].revents == POLLWRNORM, "the client shows events 0x%x, expected POLLWRNORM",
          fds[1].revents);
    char buffer[4];
    ReceiveExactly(pair.server, buffer, sizeof buffer);
    Step("WSAPoll: the server readable and the client writable");

    // A handle that is no socket is reported as such at once. Whether the others are looked at
    // too, and counted, differs between implementations; what is shown for them must be true.
    SOCKET notSocket = static_cast<SOCKET>(0x7ff0);
    fds[0].fd = notSocket;
    int got = WSAPoll(fds, 2, kWaitMs);
    Check(got >= 1, "WSAPoll with a handle that is no socket answered %d (%s)", got,
          WinsockErrorText(WSAGetLastError()));
    Check(fds[0].revents == POLLNVAL, "the stray handle shows events 0x%x, expected POLLNVAL",
          fds[0].revents);
    Check(fds[1].revents == 0 || fds[1].revents == POLLWRNORM,
          "the client shows events 0x%x next to the stray handle", fds[1].revents);
    Step("WSAPoll: POLLNVAL for a handle that is no socket");
}

void StreamMessage(TcpPair& pair) {
    const int half = int(sizeof kStreamMessage - 1) / 2;
    WSABUF pieces[2] = {{ULONG(half), const_cast<char*>(kStreamMessage)},
                        {ULONG(sizeof kStreamMessage - 1 - half),
                         const_cast<char*>(kStreamMessage + half)}};
    WSAMSG message = {};
    message.lpBuffers = pieces;
    message.dwBufferCount = 2;
    DWORD sent = 0;
    CheckSocketCall(WSASendMsg(pair.client, &message, 0, &sent, nullptr, nullptr), "WSASendMsg");
    Check(sent == sizeof kStreamMessage - 1, "WSASendMsg sent %lu bytes", sent);
    char buffer[sizeof kStreamMessage - 1];
    ReceiveExactly(pair.server, buffer, sizeof buffer);
    Check(memcmp(buffer, kStreamMessage, sizeof buffer) == 0, "the stream message differs");
    Step("WSASendMsg: %lu bytes from two buffers over the stream", sent);
}

void DatagramMessage() {
    SOCKET receiver = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SOCKET sender = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SetBlockingTimeouts(receiver, kWaitMs);
    sockaddr_storage to = LocalAddressOf(receiver);
    WSABUF piece = {sizeof kDatagram - 1, const_cast<char*>(kDatagram)};
    WSAMSG message = {};
    message.name = reinterpret_cast<sockaddr*>(&to);
    message.namelen = AddressLength(to);
    message.lpBuffers = &piece;
    message.dwBufferCount = 1;
    DWORD sent = 0;
    CheckSocketCall(WSASendMsg(sender, &message, 0, &sent, nullptr, nullptr),
                    "WSASendMsg of a datagram");
    char buffer[64];
    sockaddr_storage from = {};
    int fromLength = sizeof from;
    int got = CheckSocketCall(recvfrom(receiver, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength),
                              "recvfrom");
    Check(got == int(sizeof kDatagram - 1) && memcmp(buffer, kDatagram, got) == 0,
          "recvfrom gave %d bytes, expected \"%s\"", got, kDatagram);
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(SameAddress(from, senderAddress), "the datagram came from %s, the sender is %s",
          AddressText(from).c_str(), AddressText(senderAddress).c_str());
    Step("WSASendMsg: a datagram of %lu bytes to %s", sent, AddressText(to).c_str());
    closesocket(sender);
    closesocket(receiver);
}

}  // namespace

int main() {
    SampleStart("poll_sendmsg");
    TcpPair pair = MakeTcpPair(AF_INET);
    SetBlockingTimeouts(pair.server, kWaitMs);
    PollReadiness(pair);
    StreamMessage(pair);
    CloseTcpPair(pair);
    DatagramMessage();
    return SampleFinish();
}
