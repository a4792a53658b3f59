// The WSA forms of the connection calls: WSASocket, WSAStringToAddress, WSAConnect, WSAAccept
// with a condition function that accepts one caller and rejects the next, WSASendDisconnect and
// WSARecvDisconnect, and WSADuplicateSocket into this same process.
#include "SampleSockets.h"
#include "SampleSupport.h"

#include <string.h>
#include <wchar.h>

namespace {

const char kRequest[] = "request, then WSASendDisconnect";
const char kReply[] = "reply after the half close";

struct ConditionCall {
    bool called;
    sockaddr_storage caller;
};

int CALLBACK AcceptCondition(WSABUF* callerId, WSABUF*, QOS*, QOS*, WSABUF*, WSABUF*, GROUP*,
                             DWORD_PTR context) {
    ConditionCall* call = reinterpret_cast<ConditionCall*>(context);
    call->called = true;
    memset(&call->caller, 0, sizeof call->caller);
    if (callerId && callerId->buf && callerId->len <= sizeof call->caller)
        memcpy(&call->caller, callerId->buf, callerId->len);
    return CF_ACCEPT;
}

int CALLBACK RejectCondition(WSABUF*, WSABUF*, QOS*, QOS*, WSABUF*, WSABUF*, GROUP*,
                             DWORD_PTR context) {
    reinterpret_cast<ConditionCall*>(context)->called = true;
    return CF_REJECT;
}

SOCKET MakeListenerFromText() {
    SOCKET listener = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    CheckSocketHandle(listener, "WSASocketW");
    sockaddr_storage address = {};
    int length = sizeof address;
    char text[] = "127.0.0.1";
    CheckSocketCall(WSAStringToAddressA(text, AF_INET, nullptr, reinterpret_cast<sockaddr*>(&address),
                                        &length),
                    "WSAStringToAddressA");
    Check(SameAddress(address, LoopbackAddress(AF_INET, 0)),
          "WSAStringToAddressA read \"%s\" as %s", text, AddressText(address).c_str());
    CheckSocketCall(bind(listener, reinterpret_cast<sockaddr*>(&address), length), "bind");
    CheckSocketCall(listen(listener, 5), "listen");

    sockaddr_storage bound = LocalAddressOf(listener);
    wchar_t wide[64];
    DWORD wideLength = 64;
    CheckSocketCall(WSAAddressToStringW(reinterpret_cast<sockaddr*>(&bound), AddressLength(bound),
                                        nullptr, wide, &wideLength),
                    "WSAAddressToStringW");
    wchar_t expected[64];
    swprintf(expected, 64, L"127.0.0.1:%u", AddressPort(bound));
    Check(wcscmp(wide, expected) == 0, "WSAAddressToStringW wrote %ls, expected %ls", wide, expected);
    Step("WSASocketW listener bound from the text \"%s\", listening on %ls", text, wide);
    return listener;
}

SOCKET ConnectWithWsaConnect(const sockaddr_storage& target) {
    SOCKET client = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    CheckSocketHandle(client, "WSASocketA");
    SetBlockingTimeouts(client, kWaitMs);
    CheckSocketCall(WSAConnect(client, reinterpret_cast<const sockaddr*>(&target),
                               AddressLength(target), nullptr, nullptr, nullptr, nullptr),
                    "WSAConnect");
    return client;
}

SOCKET AcceptWithCondition(SOCKET listener, const sockaddr_storage& expectedCaller) {
    Check(WaitReadable(listener, kWaitMs), "no connection to accept within %lu ms", kWaitMs);
    ConditionCall call = {};
    sockaddr_storage peer = {};
    int peerLength = sizeof peer;
    SOCKET server = WSAAccept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                              AcceptCondition, reinterpret_cast<DWORD_PTR>(&call));
    CheckSocketHandle(server, "WSAAccept");
    Check(call.called, "WSAAccept accepted without asking its condition function");
    Check(SameAddress(call.caller, expectedCaller), "the condition function saw caller %s, not %s",
          AddressText(call.caller).c_str(), AddressText(expectedCaller).c_str());
    Check(SameAddress(peer, expectedCaller), "WSAAccept gave peer %s, not %s",
          AddressText(peer).c_str(), AddressText(expectedCaller).c_str());
    Step("WSAAccept asked its condition function about %s and accepted",
         AddressText(peer).c_str());
    SetBlockingTimeouts(server, kWaitMs);
    return server;
}

void RejectOne(SOCKET listener, const sockaddr_storage& target) {
    SOCKET client = ConnectWithWsaConnect(target);  // completes in the backlog
    Check(WaitReadable(listener, kWaitMs), "no second connection to reject within %lu ms", kWaitMs);
    ConditionCall call = {};
    WSASetLastError(0xdeadbeef);
    SOCKET rejected = WSAAccept(listener, nullptr, nullptr, RejectCondition,
                                reinterpret_cast<DWORD_PTR>(&call));
    Check(call.called, "WSAAccept did not ask its condition function about the second caller");
    CheckSocketError(rejected == INVALID_SOCKET ? SOCKET_ERROR : 0, WSAECONNREFUSED,
                     "WSAAccept whose condition function rejects");
    char byte;
    int got = recv(client, &byte, 1, 0);
    Check(got == 0 || (got == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET),
          "the rejected client read %d (%s) instead of a closed connection", got,
          WinsockErrorText(WSAGetLastError()));
    Step("WSAAccept with CF_REJECT: WSAECONNREFUSED; the caller saw its connection %s",
         got == 0 ? "closed" : "reset");
    closesocket(client);
}

void HalfClose(SOCKET client, SOCKET server) {
    SendAll(client, kRequest, sizeof kRequest - 1);
    CheckSocketCall(WSASendDisconnect(client, nullptr), "WSASendDisconnect");
    char buffer[64];
    int got = ReceiveUntilClosed(server, buffer, sizeof buffer);
    Check(got == int(sizeof kRequest - 1) && memcmp(buffer, kRequest, got) == 0,
          "the server read %d bytes before the end", got);
    Step("WSASendDisconnect: the server read %d bytes, then the end of the stream", got);

    SendAll(server, kReply, sizeof kReply - 1);
    ReceiveExactly(client, buffer, sizeof kReply - 1);
    Check(memcmp(buffer, kReply, sizeof kReply - 1) == 0, "the reply after the half close differs");
    Step("the client still received the %d-byte reply", int(sizeof kReply - 1));

    CheckSocketCall(WSARecvDisconnect(server, nullptr), "WSARecvDisconnect");
    Step("WSARecvDisconnect on the server");
}

void Duplicate(SOCKET client, SOCKET server) {
    WSAPROTOCOL_INFOW info;
    memset(&info, 0xcd, sizeof info);
    CheckSocketCall(WSADuplicateSocketW(server, GetCurrentProcessId(), &info), "WSADuplicateSocketW");
    Check(info.iAddressFamily == AF_INET && info.iSocketType == SOCK_STREAM,
          "WSADuplicateSocketW described family %d, type %d", info.iAddressFamily, info.iSocketType);
    SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                             WSA_FLAG_OVERLAPPED);
    CheckSocketHandle(copy, "WSASocketW(FROM_PROTOCOL_INFO)");
    Check(copy != server, "the duplicate has the original's handle");
    CheckSocketCall(closesocket(server), "closesocket of the original");

    const char message[] = "sent through the duplicate";
    SendAll(copy, message, sizeof message - 1);
    char buffer[64];
    ReceiveExactly(client, buffer, sizeof message - 1);
    Check(memcmp(buffer, message, sizeof message - 1) == 0, "the data through the duplicate differs");
    Step("WSADuplicateSocketW into this process: the duplicate sends after the original closed");
    CheckSocketCall(closesocket(copy), "closesocket of the duplicate");
}

}  // namespace

int main() {
    SampleStart("wsa_variants");
    SOCKET listener = MakeListenerFromText();
    sockaddr_storage target = LocalAddressOf(listener);
    SOCKET client = ConnectWithWsaConnect(target);
    Step("WSASocketA client connected with WSAConnect");
    SOCKET server = AcceptWithCondition(listener, LocalAddressOf(client));
    RejectOne(listener, target);
    HalfClose(client, server);
    Duplicate(client, server);
    closesocket(client);
    closesocket(listener);
    return SampleFinish();
}
