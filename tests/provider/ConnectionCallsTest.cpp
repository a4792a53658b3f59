// The connection calls' reports: accept, which also makes the new socket's created record.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "Formatting.h"
#include "SocketContext.h"

class ConnectionCallsTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        listener = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED,
                             &error);
        ASSERT_NE(INVALID_SOCKET, listener);
        TraceTo(viewer, Low);   // the connection texts appear at every level
        viewer.ClearRecords();
    }

    SOCKET listener = INVALID_SOCKET;
};

TEST_F(ConnectionCallsTest, AcceptReportsAndWrapsTheNewSocket)
{
    base->source.sin_family = AF_INET;
    base->source.sin_port = htons(5000);
    base->source.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in peer = {};
    int peerLength = sizeof(peer);
    SOCKET accepted = table.lpWSPAccept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                                        nullptr, 0, &error);
    ASSERT_NE(INVALID_SOCKET, accepted);
    SocketContext* context = FindContext(accepted, &error);
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(SOCK_STREAM, context->socketType) << "the listener's kind of socket";
    EXPECT_EQ(static_cast<DWORD>(WSA_FLAG_OVERLAPPED), context->flags);
    ReleaseContext(context, &error);

    context = FindContext(listener, &error);
    context->blocking = 0;
    ReleaseContext(context, &error);
    SOCKET second = table.lpWSPAccept(listener, nullptr, nullptr, nullptr, 0, &error);
    ASSERT_NE(INVALID_SOCKET, second);

    base->transferError = WSAEWOULDBLOCK;
    EXPECT_EQ(INVALID_SOCKET, table.lpWSPAccept(listener, nullptr, nullptr, nullptr, 0, &error));
    EXPECT_EQ(WSAEWOULDBLOCK, error);
    EXPECT_EQ(INVALID_SOCKET, table.lpWSPAccept(UnknownHandle, nullptr, nullptr, nullptr, 0, &error));
    EXPECT_EQ(WSAENOTSOCK, error);

    char scratch[2][32];
    std::string l = N(listener);
    std::vector<std::string> expected = {
        "socket (" + l + ") accepting a connection synchronously",
        "socket (" + l + ") accepted a connection on new socket (" + N(accepted) +
            ") [addr=127.0.0.1:5000]",
        "socket (" + l + ") accepting a connection synchronously without blocking",
        "socket (" + l + ") accepted a connection on new socket (" + N(second) + ")",
        "socket (" + l + ") accepting a connection synchronously without blocking",
        "socket (" + l + ") could not accept a connection - " +
            ErrorText(WSAEWOULDBLOCK, scratch[0]),
        "socket (" + N(UnknownHandle) + ") could not accept a connection - " +
            ErrorText(WSAENOTSOCK, scratch[1]),
    };
    auto records = viewer.Records();
    EXPECT_EQ(expected, TextsOf(records));
    ASSERT_EQ(expected.size(), records.size());
    EXPECT_EQ(RecordSocketCreated, records[1].Kind());
    EXPECT_EQ(static_cast<DWORD>(accepted), records[1].Word(1));
    EXPECT_EQ(RecordSocketCreated, records[3].Kind());
    EXPECT_EQ(0u, records[5].PayloadLength());
}

static std::string E(int code)
{
    char scratch[32];
    return ErrorText(code, scratch);
}

static sockaddr_in Loopback(u_short port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

TEST_F(ConnectionCallsTest, BindListenAndTheNamesReportTheirAddresses)
{
    sockaddr_in local = Loopback(5000);
    auto* name = reinterpret_cast<sockaddr*>(&local);
    EXPECT_EQ(0, table.lpWSPBind(listener, name, sizeof(local), &error));
    EXPECT_EQ(0, table.lpWSPBind(listener, name, 0, &error)) << "the fake takes any length";
    base->connectionError = WSAEADDRINUSE;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPBind(listener, name, sizeof(local), &error));
    EXPECT_EQ(WSAEADDRINUSE, error);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPListen(listener, 7, &error));
    EXPECT_EQ(-1, ContextOf(listener)->backlog) << "a failed listen keeps the socket's counts";
    base->connectionError = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPBind(UnknownHandle, name, sizeof(local), &error));
    EXPECT_EQ(WSAENOTSOCK, error);

    EXPECT_EQ(0, table.lpWSPListen(listener, 5, &error));
    EXPECT_EQ(5, ContextOf(listener)->backlog);
    EXPECT_EQ(0, table.lpWSPListen(listener, 9, &error));
    EXPECT_EQ(5, ContextOf(listener)->backlog) << "the first backlog stays";

    base->source = Loopback(6000);
    sockaddr_in got = {};
    int length = sizeof(got);
    EXPECT_EQ(0, table.lpWSPGetSockName(listener, reinterpret_cast<sockaddr*>(&got), &length, &error));
    length = sizeof(got);
    EXPECT_EQ(0, table.lpWSPGetPeerName(listener, reinterpret_cast<sockaddr*>(&got), &length, &error));
    base->connectionError = WSAENOTCONN;
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPGetPeerName(listener, reinterpret_cast<sockaddr*>(&got), &length, &error));
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPGetSockName(listener, reinterpret_cast<sockaddr*>(&got), &length, &error));
    base->connectionError = 0;
    EXPECT_EQ(0, table.lpWSPCloseSocket(listener, &error));

    std::string l = N(listener);
    std::vector<std::string> expected = {
        "socket (" + l + ") bound [name=127.0.0.1:5000]",
        "socket (" + l + ") bound [name='invalid socket address']",
        "socket (" + l + ") could not be bound [name=127.0.0.1:5000] - " + E(WSAEADDRINUSE),
        "socket (" + l + ") could not be established for listening [backlog=7] - " +
            E(WSAEADDRINUSE),
        "socket (" + N(UnknownHandle) + ") could not be bound [name=127.0.0.1:5000] - " +
            E(WSAENOTSOCK),
        "socket (" + l + ") established for listening [backlog=5]",
        "socket (" + l + ") established for listening [backlog=9]",
        "socket (" + l + ") determined its local name [name=127.0.0.1:6000]",
        "socket (" + l + ") determined its peer's name [name=127.0.0.1:6000]",
        "socket (" + l + ") could not determine its peer's name - " + E(WSAENOTCONN),
        "socket (" + l + ") could not determine its local name - " + E(WSAENOTCONN),
        "socket (" + l + ") closed",
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
}

// The connecting text follows how the socket waits for the outcome; a connect that goes on in
// the background makes no second text.
TEST_F(ConnectionCallsTest, ConnectTextsFollowTheSocketsNotificationState)
{
    sockaddr_in peer = Loopback(7000);
    auto* name = reinterpret_cast<sockaddr*>(&peer);
    auto connect = [&](SOCKET s) {
        return table.lpWSPConnect(s, name, sizeof(peer), nullptr, nullptr, nullptr, nullptr,
                                  &error);
    };
    auto newSocket = [&](int type, int protocol) {
        return WSPSocket(AF_INET, type, protocol, nullptr, 0, 0, &error);
    };
    SOCKET blocking = newSocket(SOCK_STREAM, IPPROTO_TCP);
    SOCKET nonBlocking = newSocket(SOCK_STREAM, IPPROTO_TCP);
    SOCKET byMessage = newSocket(SOCK_STREAM, IPPROTO_TCP);
    SOCKET byEvent = newSocket(SOCK_STREAM, IPPROTO_TCP);
    SOCKET datagram = newSocket(SOCK_DGRAM, IPPROTO_UDP);
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0, table.lpWSPAsyncSelect(byMessage, window, WM_APP, FD_CONNECT | FD_READ, &error));
    WSAEVENT event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(0, table.lpWSPEventSelect(byEvent, event, FD_CONNECT, &error));
    ContextOf(nonBlocking)->blocking = 0;
    viewer.ClearRecords();

    EXPECT_EQ(0, connect(blocking));
    base->connectionError = WSAEWOULDBLOCK;
    EXPECT_EQ(SOCKET_ERROR, connect(nonBlocking));
    EXPECT_EQ(SOCKET_ERROR, connect(byMessage));
    EXPECT_EQ(SOCKET_ERROR, connect(byEvent));
    EXPECT_EQ(WSAEWOULDBLOCK, error);
    base->connectionError = WSAECONNREFUSED;
    EXPECT_EQ(SOCKET_ERROR, connect(byMessage)) << "a real failure is shown on any socket";
    EXPECT_EQ(SOCKET_ERROR, connect(datagram));
    base->connectionError = 0;
    EXPECT_EQ(0, connect(datagram));
    EXPECT_EQ(SOCKET_ERROR, connect(UnknownHandle));
    EXPECT_EQ(WSAENOTSOCK, error);

    std::string to = "[name=127.0.0.1:7000]";
    std::vector<std::string> expected = {
        "socket (" + N(blocking) + ") connecting synchronously " + to,
        "socket (" + N(blocking) + ") connected",
        "socket (" + N(nonBlocking) + ") connecting synchronously without blocking " + to,
        "socket (" + N(nonBlocking) + ") could not connect - " + E(WSAEWOULDBLOCK),
        "socket (" + N(byMessage) + ") connecting asynchronously " + to,
        "socket (" + N(byEvent) + ") connecting asynchronously " + to +
            ", result will not be displayed",
        "socket (" + N(byMessage) + ") connecting asynchronously " + to,
        "socket (" + N(byMessage) + ") could not connect - " + E(WSAECONNREFUSED),
        "socket (" + N(datagram) + ") could not set its default address for sending and "
            "receiving " + to + " - " + E(WSAECONNREFUSED),
        "socket (" + N(datagram) + ") set its default address for sending and receiving " + to,
        "socket (" + N(UnknownHandle) + ") could not either connect or set a default address for "
            "sending and receiving " + to + " - " + E(WSAENOTSOCK),
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
    DestroyWindow(window);
    CloseHandle(event);
}

TEST_F(ConnectionCallsTest, JoinLeafReportsOnlyANewSocket)
{
    sockaddr_in group = Loopback(8000);
    auto* name = reinterpret_cast<sockaddr*>(&group);
    auto join = [&](SOCKET s) {
        return table.lpWSPJoinLeaf(s, name, sizeof(group), nullptr, nullptr, nullptr, nullptr,
                                   JL_BOTH, &error);
    };
    EXPECT_EQ(listener, join(listener)) << "the joining socket is the application's own handle";
    EXPECT_TRUE(viewer.Records().empty());
    EXPECT_EQ(INVALID_SOCKET, join(UnknownHandle));
    EXPECT_EQ(WSAENOTSOCK, error);
    base->connectionError = WSAEINVAL;
    EXPECT_EQ(INVALID_SOCKET, join(listener));
    base->connectionError = 0;
    EXPECT_TRUE(viewer.Records().empty()) << "neither a failed join nor an unknown socket";

    base->joinMakesSocket = TRUE;
    SOCKET leaf = join(listener);
    ASSERT_NE(INVALID_SOCKET, leaf);
    ASSERT_NE(listener, leaf);
    auto records = viewer.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(RecordSocketCreated, records[0].Kind());
    EXPECT_EQ(static_cast<DWORD>(leaf), records[0].Word(1));
    EXPECT_EQ("socket (" + N(leaf) + ") created [family=AF_INET, type=SOCK_STREAM, "
              "protocol=IPPROTO_TCP]", TextOf(records[0]));

    // A leaf that cannot get a handle of the layer is closed below, not left open.
    fakeUpcalls.createError = WSAENOBUFS;
    SOCKET lowerLeaf = base->nextSocket;
    EXPECT_EQ(INVALID_SOCKET, join(listener));
    EXPECT_EQ(WSAENOBUFS, error);
    ASSERT_GT(base->closeCalls, 0);
    EXPECT_EQ(lowerLeaf, base->closed[base->closeCalls - 1]);
}
