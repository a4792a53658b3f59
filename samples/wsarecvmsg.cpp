// WSARecvMsg, fetched with SIO_GET_EXTENSION_FUNCTION_POINTER, receives a UDP datagram with its
// sender and, through IP_PKTINFO, the local address it was sent to.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <string.h>

namespace {

const char kMessage[] = "datagram with control data";

}  // namespace

int main() {
    SampleStart("wsarecvmsg");
    SOCKET sender = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SOCKET receiver = MakeBoundSocket(AF_INET, SOCK_DGRAM);
    SetBlockingTimeouts(receiver, kWaitMs);
    auto recvMsg = reinterpret_cast<LPFN_WSARECVMSG>(LoadExtension(receiver, WSAID_WSARECVMSG));
    if (!recvMsg) {
        Skip("Wine lacks WSARecvMsg");
        return SampleFinish();
    }
    Step("fetched WSARecvMsg");

    DWORD on = 1;
    CheckSocketCall(setsockopt(receiver, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<char*>(&on),
                               sizeof on),
                    "setsockopt(IP_PKTINFO)");
    sockaddr_storage to = LocalAddressOf(receiver);
    CheckSocketCall(sendto(sender, kMessage, sizeof kMessage - 1, 0,
                           reinterpret_cast<sockaddr*>(&to), AddressLength(to)),
                    "sendto");

    char data[64] = {};
    WSABUF buffer = {sizeof data, data};
    sockaddr_storage from = {};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message = {};
    message.name = reinterpret_cast<sockaddr*>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;
    DWORD received = 0xdeadbeef;
    CheckSocketCall(recvMsg(receiver, &message, &received, nullptr, nullptr), "WSARecvMsg");
    Check(received == sizeof kMessage - 1 && memcmp(data, kMessage, received) == 0,
          "WSARecvMsg received %lu bytes", received);
    sockaddr_storage senderAddress = LocalAddressOf(sender);
    Check(SameAddress(from, senderAddress), "WSARecvMsg names the sender %s, it is %s",
          AddressText(from).c_str(), AddressText(senderAddress).c_str());
    Step("WSARecvMsg received %lu bytes from %s", received, AddressText(from).c_str());

    WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
    Check(header && header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO,
          "WSARecvMsg returned no IP_PKTINFO control data (%lu control bytes)", message.Control.len);
    IN_PKTINFO info;
    memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
    Check(info.ipi_addr.s_addr == htonl(INADDR_LOOPBACK), "IP_PKTINFO names destination 0x%08lx",
          static_cast<unsigned long>(ntohl(info.ipi_addr.s_addr)));
    Step("IP_PKTINFO says the datagram was sent to 127.0.0.1");

    closesocket(sender);
    closesocket(receiver);
    return SampleFinish();
}
