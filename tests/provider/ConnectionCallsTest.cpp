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
