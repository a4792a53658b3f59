// An ordinary Winsock program, run under the drop-in layer: every call goes through the
// catalog to the base provider, and through the pass-through layer first when
// EXPECT_PASS_LAYER=1 says the test installed it. What the program sees must not differ.
#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "WinsockLayerIds.h"

namespace {

bool PassLayerExpected()
{
    const char* value = getenv("EXPECT_PASS_LAYER");
    return value && strcmp(value, "1") == 0;
}

class LayeredRun : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

sockaddr_storage Loopback(int family)
{
    sockaddr_storage address{};
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    return address;
}

int Length(int family)
{
    return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

SOCKET Bound(int family, int type, sockaddr_storage* address)
{
    SOCKET s = WSASocketW(family, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    DWORD timeout = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof timeout);
    *address = Loopback(family);
    int length = Length(family);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(address), length), 0) << WSAGetLastError();
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(address), &length), 0);
    return s;
}

void Pair(int family, SOCKET* client, SOCKET* server)
{
    sockaddr_storage address, any;
    SOCKET listener = Bound(family, SOCK_STREAM, &address);
    ASSERT_EQ(listen(listener, 2), 0) << WSAGetLastError();
    *client = Bound(family, SOCK_STREAM, &any);
    ASSERT_EQ(connect(*client, reinterpret_cast<sockaddr*>(&address), Length(family)), 0)
        << WSAGetLastError();
    *server = accept(listener, nullptr, nullptr);
    ASSERT_NE(*server, INVALID_SOCKET) << WSAGetLastError();
    closesocket(listener);
}

std::string Receive(SOCKET s, size_t length)
{
    std::string text(length, '\0');
    size_t received = 0;
    while (received < length) {
        int count = recv(s, text.data() + received, length - received, 0);
        if (count <= 0)
            break;
        received += count;
    }
    text.resize(received);
    return text;
}

// The entry a socket of this family and type is made for: the first visible one.
WSAPROTOCOL_INFOW FirstEntry(int family, int type)
{
    WSAPROTOCOL_INFOW infos[64];
    DWORD length = sizeof infos;
    int count = WSAEnumProtocolsW(nullptr, infos, &length);
    for (int i = 0; i < count; ++i)
        if (infos[i].iAddressFamily == family && infos[i].iSocketType == type)
            return infos[i];
    ADD_FAILURE() << "no entry for family " << family << " type " << type;
    return WSAPROTOCOL_INFOW{};
}

void CALLBACK NoteCompletion(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped, DWORD)
{
    // hEvent is free for the caller's use with a completion routine: it carries the thread.
    auto* seen = reinterpret_cast<DWORD*>(overlapped->hEvent);
    seen[0] = GetCurrentThreadId();
    seen[1] = bytes;
    seen[2] = error;
}

} // namespace

TEST_F(LayeredRun, CatalogAndLoadedProvidersMatchTheInstallation)
{
    WSAPROTOCOL_INFOW tcp = FirstEntry(AF_INET, SOCK_STREAM);
    EXPECT_EQ(tcp.ProtocolChain.ChainLen, PassLayerExpected() ? 2 : BASE_PROTOCOL);

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    EXPECT_NE(GetModuleHandleW(L"basewsp.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"passlayer.dll") != nullptr, PassLayerExpected());
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(LayeredRun, StreamsAndDatagramsCarryDataOverBothFamilies)
{
    for (int family : {AF_INET, AF_INET6}) {
        SCOPED_TRACE(testing::Message() << "family " << family);
        SOCKET client, server;
        Pair(family, &client, &server);
        EXPECT_EQ(send(client, "hello", 5, 0), 5) << WSAGetLastError();
        EXPECT_EQ(Receive(server, 5), "hello");
        EXPECT_EQ(shutdown(client, SD_SEND), 0);
        EXPECT_EQ(Receive(server, 1), "");
        closesocket(client);
        closesocket(server);

        sockaddr_storage to, from;
        SOCKET receiver = Bound(family, SOCK_DGRAM, &to);
        SOCKET sender = Bound(family, SOCK_DGRAM, &from);
        EXPECT_EQ(sendto(sender, "dgram", 5, 0, reinterpret_cast<sockaddr*>(&to), Length(family)),
                  5) << WSAGetLastError();
        char buffer[8];
        int fromLength = sizeof from;
        EXPECT_EQ(recvfrom(receiver, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength), 5) << WSAGetLastError();
        EXPECT_EQ(fromLength, Length(family));
        closesocket(sender);
        closesocket(receiver);
    }
}

TEST_F(LayeredRun, ConnectToAClosedPortIsRefused)
{
    sockaddr_storage address;
    SOCKET gone = Bound(AF_INET, SOCK_STREAM, &address);
    closesocket(gone);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    WSASetLastError(0xdeadbeef);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(sockaddr_in)),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    closesocket(s);
}

TEST_F(LayeredRun, OverlappedRequestsCompleteByEventApcAndPort)
{
    SOCKET client, server;
    Pair(AF_INET, &client, &server);
    char buffer[16];
    WSABUF in{sizeof buffer, buffer};
    DWORD count = 0, flags = 0;

    WSAOVERLAPPED byEvent{};
    byEvent.hEvent = WSACreateEvent();
    ASSERT_EQ(WSARecv(server, &in, 1, &count, &flags, &byEvent, nullptr), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSA_IO_PENDING);
    send(client, "event", 5, 0);
    ASSERT_EQ(WaitForSingleObject(byEvent.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(WSAGetOverlappedResult(server, &byEvent, &count, FALSE, &flags));
    EXPECT_EQ(std::string(buffer, count), "event");
    WSACloseEvent(byEvent.hEvent);

    DWORD seen[3] = {0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
    WSAOVERLAPPED byRoutine{};
    byRoutine.hEvent = reinterpret_cast<HANDLE>(seen);
    int result = WSARecv(server, &in, 1, &count, &flags, &byRoutine, NoteCompletion);
    ASSERT_TRUE(result == 0 || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
    send(client, "apc", 3, 0);
    for (int i = 0; i < 50 && seen[0] == 0xdeadbeef; ++i)
        SleepEx(100, TRUE);
    EXPECT_EQ(seen[0], GetCurrentThreadId());
    EXPECT_EQ(seen[1], 3u);
    EXPECT_EQ(seen[2], 0u);

    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(server), nullptr, 77, 1);
    ASSERT_NE(port, nullptr) << GetLastError();
    WSAOVERLAPPED byPort{};
    result = WSARecv(server, &in, 1, &count, &flags, &byPort, nullptr);
    ASSERT_TRUE(result == 0 || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
    send(client, "port", 4, 0);
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED done = nullptr;
    ASSERT_TRUE(GetQueuedCompletionStatus(port, &bytes, &key, &done, 5000)) << GetLastError();
    EXPECT_EQ(key, 77u);
    EXPECT_EQ(done, reinterpret_cast<LPOVERLAPPED>(&byPort));
    EXPECT_EQ(std::string(buffer, bytes), "port");
    CloseHandle(port);
    closesocket(client);
    closesocket(server);
}

TEST_F(LayeredRun, NotificationsCarryTheApplicationsHandle)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LayeredRunWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"LayeredRunWindow", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    sockaddr_storage address, any;
    SOCKET listener = Bound(AF_INET, SOCK_STREAM, &address);
    listen(listener, 2);
    ASSERT_EQ(WSAAsyncSelect(listener, window, WM_APP, FD_ACCEPT), 0) << WSAGetLastError();
    SOCKET client = Bound(AF_INET, SOCK_STREAM, &any);
    WSAEVENT event = WSACreateEvent();
    ASSERT_EQ(WSAEventSelect(client, event, FD_CONNECT), 0) << WSAGetLastError();
    int result = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(sockaddr_in));
    ASSERT_TRUE(result == 0 || WSAGetLastError() == WSAEWOULDBLOCK) << WSAGetLastError();

    MSG message{};
    bool posted = false;
    for (int i = 0; i < 50 && !posted; ++i) {
        posted = PeekMessageW(&message, window, WM_APP, WM_APP, PM_REMOVE);
        if (!posted)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    ASSERT_TRUE(posted);
    EXPECT_EQ(message.wParam, listener);
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_ACCEPT);

    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    WSANETWORKEVENTS events{};
    ASSERT_EQ(WSAEnumNetworkEvents(client, event, &events), 0);
    EXPECT_EQ(events.lNetworkEvents, FD_CONNECT);

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval timeout{5, 0};
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &timeout), 1);
    EXPECT_TRUE(FD_ISSET(listener, &readable));
    WSACloseEvent(event);
    closesocket(client);
    closesocket(listener);
    DestroyWindow(window);
}

TEST_F(LayeredRun, ExtensionFunctionsWorkOnTheApplicationsHandles)
{
    sockaddr_storage address, any;
    SOCKET listener = Bound(AF_INET, SOCK_STREAM, &address);
    listen(listener, 2);
    SOCKET accepted = socket(AF_INET, SOCK_STREAM, 0);
    SOCKET client = Bound(AF_INET, SOCK_STREAM, &any);

    GUID ids[] = {WSAID_ACCEPTEX, WSAID_CONNECTEX, WSAID_TRANSMITPACKETS};
    void* functions[3] = {};
    for (int i = 0; i < 3; ++i) {
        DWORD returned = 0;
        ASSERT_EQ(WSAIoctl(i == 0 ? listener : client, SIO_GET_EXTENSION_FUNCTION_POINTER, &ids[i],
                           sizeof ids[i], &functions[i], sizeof functions[i], &returned, nullptr,
                           nullptr), 0) << "extension " << i << " error " << WSAGetLastError();
    }
    auto acceptEx = reinterpret_cast<LPFN_ACCEPTEX>(functions[0]);
    auto connectEx = reinterpret_cast<LPFN_CONNECTEX>(functions[1]);
    auto transmitPackets = reinterpret_cast<LPFN_TRANSMITPACKETS>(functions[2]);

    char addresses[2 * (sizeof(sockaddr_in) + 16)];
    DWORD count = 0;
    WSAOVERLAPPED accepting{}, connecting{};
    accepting.hEvent = WSACreateEvent();
    connecting.hEvent = WSACreateEvent();
    ASSERT_FALSE(acceptEx(listener, accepted, addresses, 0, sizeof(sockaddr_in) + 16,
                          sizeof(sockaddr_in) + 16, &count, &accepting));
    ASSERT_EQ(WSAGetLastError(), WSA_IO_PENDING);
    BOOL connected = connectEx(client, reinterpret_cast<sockaddr*>(&address), sizeof(sockaddr_in),
                               nullptr, 0, nullptr, &connecting);
    ASSERT_TRUE(connected || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
    DWORD flags = 0;
    ASSERT_TRUE(WSAGetOverlappedResult(client, &connecting, &count, TRUE, &flags))
        << WSAGetLastError();
    ASSERT_EQ(WaitForSingleObject(accepting.hEvent, 5000), WAIT_OBJECT_0);
    setsockopt(accepted, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
               reinterpret_cast<char*>(&listener), sizeof listener);

    char text[] = "packets";
    TRANSMIT_PACKETS_ELEMENT element{};
    element.dwElFlags = TP_ELEMENT_MEMORY;
    element.cLength = 7;
    element.pBuffer = text;
    EXPECT_TRUE(transmitPackets(client, &element, 1, 0, nullptr, 0)) << WSAGetLastError();
    EXPECT_EQ(Receive(accepted, 7), "packets");
    WSACloseEvent(accepting.hEvent);
    WSACloseEvent(connecting.hEvent);
    closesocket(client);
    closesocket(accepted);
    closesocket(listener);
}

TEST_F(LayeredRun, DuplicatedSocketSharesTheConnection)
{
    SOCKET client, server;
    Pair(AF_INET, &client, &server);
    WSAPROTOCOL_INFOW info;
    memset(&info, 0xde, sizeof info);
    ASSERT_EQ(WSADuplicateSocketW(client, GetCurrentProcessId(), &info), 0) << WSAGetLastError();
    // The copy is made through the same catalog entry: the chain when the layer is installed.
    WSAPROTOCOL_INFOW first = FirstEntry(AF_INET, SOCK_STREAM);
    EXPECT_EQ(info.dwCatalogEntryId, first.dwCatalogEntryId);
    EXPECT_EQ(info.ProtocolChain.ChainLen, first.ProtocolChain.ChainLen);
    SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                             WSA_FLAG_OVERLAPPED);
    ASSERT_NE(copy, INVALID_SOCKET) << WSAGetLastError();
    closesocket(client);
    EXPECT_EQ(send(copy, "copy", 4, 0), 4) << WSAGetLastError();
    EXPECT_EQ(Receive(server, 4), "copy");
    closesocket(copy);
    closesocket(server);
}

TEST_F(LayeredRun, SocketDuplicatedIntoAnotherProcessSendsThere)
{
    SOCKET client, server;
    Pair(AF_INET, &client, &server);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput, toChild;
    ASSERT_TRUE(CreatePipe(&childInput, &toChild, &inherit, 0));
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child{};
    wchar_t commandLine[] = L"duplicate_child.exe";
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child)) << GetLastError();
    CloseHandle(childInput);

    WSAPROTOCOL_INFOW info;
    ASSERT_EQ(WSADuplicateSocketW(client, child.dwProcessId, &info), 0) << WSAGetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(toChild, &info, sizeof info, &written, nullptr));
    CloseHandle(toChild);
    closesocket(client);

    EXPECT_EQ(Receive(server, 5), "child");
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0xdeadbeef;
    GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    closesocket(server);
}
