// The connection extension functions, fetched with SIO_GET_EXTENSION_FUNCTION_POINTER:
// AcceptEx taking the first bytes with the connection, GetAcceptExSockaddrs reading its
// addresses, ConnectEx sending those bytes, and DisconnectEx ending the connection.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <mswsock.h>
#include <string.h>

namespace {

const char kFirstBytes[] = "first bytes, sent by ConnectEx";
constexpr DWORD kDataLength = sizeof kFirstBytes - 1;
constexpr DWORD kAddressLength = sizeof(sockaddr_in) + 16;  // room AcceptEx requires per address

struct Extensions {
    LPFN_ACCEPTEX acceptEx;
    LPFN_GETACCEPTEXSOCKADDRS getAcceptExSockaddrs;
    LPFN_CONNECTEX connectEx;
    LPFN_DISCONNECTEX disconnectEx;
};

Extensions LoadAll(SOCKET s) {
    Extensions found;
    found.acceptEx = reinterpret_cast<LPFN_ACCEPTEX>(LoadExtension(s, WSAID_ACCEPTEX));
    found.getAcceptExSockaddrs =
        reinterpret_cast<LPFN_GETACCEPTEXSOCKADDRS>(LoadExtension(s, WSAID_GETACCEPTEXSOCKADDRS));
    found.connectEx = reinterpret_cast<LPFN_CONNECTEX>(LoadExtension(s, WSAID_CONNECTEX));
    found.disconnectEx = reinterpret_cast<LPFN_DISCONNECTEX>(LoadExtension(s, WSAID_DISCONNECTEX));
    return found;
}

DWORD Finish(SOCKET s, WSAOVERLAPPED& overlapped, const char* what) {
    DWORD result = WSAWaitForMultipleEvents(1, &overlapped.hEvent, TRUE, kWaitMs, FALSE);
    Check(result == WSA_WAIT_EVENT_0, "%s did not complete within %lu ms", what, kWaitMs);
    DWORD transferred = 0xdeadbeef, flags = 0;
    if (!WSAGetOverlappedResult(s, &overlapped, &transferred, FALSE, &flags))
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
    return transferred;
}

void Started(BOOL result, const char* what) {
    if (!result && WSAGetLastError() != WSA_IO_PENDING)
        Fail("%s failed: %s", what, WinsockErrorText(WSAGetLastError()));
}

}  // namespace

int main() {
    SampleStart("acceptex");
    SOCKET listener = MakeListener(AF_INET);
    Extensions ex = LoadAll(listener);
    if (!ex.acceptEx || !ex.getAcceptExSockaddrs || !ex.connectEx || !ex.disconnectEx) {
        Check(ex.acceptEx || ex.getAcceptExSockaddrs || ex.connectEx || ex.disconnectEx,
              "SIO_GET_EXTENSION_FUNCTION_POINTER gave none of the connection extensions");
        if (!ex.acceptEx) Skip("Wine lacks AcceptEx");
        if (!ex.getAcceptExSockaddrs) Skip("Wine lacks GetAcceptExSockaddrs");
        if (!ex.connectEx) Skip("Wine lacks ConnectEx");
        if (!ex.disconnectEx) Skip("Wine lacks DisconnectEx");
        return SampleFinish();
    }
    Step("fetched AcceptEx, GetAcceptExSockaddrs, ConnectEx and DisconnectEx");

    SOCKET accepted = CheckSocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "socket");
    char acceptBuffer[kDataLength + 2 * kAddressLength];
    WSAOVERLAPPED accepting = {};
    accepting.hEvent = WSACreateEvent();
    DWORD immediate = 0;
    WSASetLastError(0xdeadbeef);
    BOOL done = ex.acceptEx(listener, accepted, acceptBuffer, kDataLength, kAddressLength,
                            kAddressLength, &immediate, &accepting);
    Check(!done && WSAGetLastError() == WSA_IO_PENDING,
          "AcceptEx with nobody connecting gave %d with %s", done,
          WinsockErrorText(WSAGetLastError()));
    Step("AcceptEx waiting for a connection and its first %lu bytes", kDataLength);

    // ConnectEx needs a bound socket.
    SOCKET client = MakeBoundSocket(AF_INET, SOCK_STREAM);
    sockaddr_storage target = LocalAddressOf(listener);
    WSAOVERLAPPED connecting = {};
    connecting.hEvent = WSACreateEvent();
    DWORD sentAtOnce = 0;
    Started(ex.connectEx(client, reinterpret_cast<sockaddr*>(&target), AddressLength(target),
                         const_cast<char*>(kFirstBytes), kDataLength, &sentAtOnce, &connecting),
            "ConnectEx");
    DWORD sent = Finish(client, connecting, "ConnectEx");
    Check(sent == kDataLength, "ConnectEx sent %lu bytes, expected %lu", sent, kDataLength);
    CheckSocketCall(setsockopt(client, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0),
                    "setsockopt(SO_UPDATE_CONNECT_CONTEXT)");
    Step("ConnectEx connected to %s and sent %lu bytes", AddressText(target).c_str(), sent);

    DWORD received = Finish(accepted, accepting, "AcceptEx");
    Check(received == kDataLength && memcmp(acceptBuffer, kFirstBytes, kDataLength) == 0,
          "AcceptEx received %lu bytes: \"%.*s\"", received, int(received), acceptBuffer);
    CheckSocketCall(setsockopt(accepted, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                               reinterpret_cast<char*>(&listener), sizeof listener),
                    "setsockopt(SO_UPDATE_ACCEPT_CONTEXT)");
    Step("AcceptEx completed with the first %lu bytes: \"%s\"", received, kFirstBytes);

    sockaddr* local = nullptr;
    sockaddr* remote = nullptr;
    int localLength = 0, remoteLength = 0;
    ex.getAcceptExSockaddrs(acceptBuffer, kDataLength, kAddressLength, kAddressLength, &local,
                            &localLength, &remote, &remoteLength);
    Check(local && remote, "GetAcceptExSockaddrs gave no addresses");
    sockaddr_storage localAddress = {}, remoteAddress = {};
    memcpy(&localAddress, local, localLength);
    memcpy(&remoteAddress, remote, remoteLength);
    sockaddr_storage clientAddress = LocalAddressOf(client);
    Check(SameAddress(localAddress, target), "GetAcceptExSockaddrs: local %s, listener is %s",
          AddressText(localAddress).c_str(), AddressText(target).c_str());
    Check(SameAddress(remoteAddress, clientAddress), "GetAcceptExSockaddrs: remote %s, client is %s",
          AddressText(remoteAddress).c_str(), AddressText(clientAddress).c_str());
    Check(SameAddress(PeerAddressOf(accepted), clientAddress),
          "getpeername on the accepted socket disagrees with GetAcceptExSockaddrs");
    Step("GetAcceptExSockaddrs: local %s, remote %s", AddressText(localAddress).c_str(),
         AddressText(remoteAddress).c_str());

    WSAOVERLAPPED disconnecting = {};
    disconnecting.hEvent = WSACreateEvent();
    Started(ex.disconnectEx(client, &disconnecting, 0, 0), "DisconnectEx");
    Finish(client, disconnecting, "DisconnectEx");
    SetBlockingTimeouts(accepted, kWaitMs);
    char rest[16];
    int got = CheckSocketCall(recv(accepted, rest, sizeof rest, 0), "recv after DisconnectEx");
    Check(got == 0, "recv after the peer's DisconnectEx gave %d bytes, expected the end", got);
    Step("DisconnectEx completed; the accepted side read the end of the stream");

    WSACloseEvent(accepting.hEvent);
    WSACloseEvent(connecting.hEvent);
    WSACloseEvent(disconnecting.hEvent);
    closesocket(client);
    closesocket(accepted);
    closesocket(listener);
    return SampleFinish();
}
