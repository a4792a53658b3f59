// What the layer answers for the application itself instead of the provider below: its own
// protocol information, the listening socket named in SO_UPDATE_ACCEPT_CONTEXT, duplication and
// calls that name no socket.
#include "LayerHarness.h"
#include "Entries.h"
#include "SocketContext.h"
#include <mswsock.h>

class LayerAnsweredTest : public LayerTest {
protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        s = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
        ASSERT_NE(INVALID_SOCKET, s);
    }
    SOCKET LowerOf(SOCKET handle)
    {
        SocketContext* context = FindContext(handle, &error);
        SOCKET lower = context->lowerSocket;
        ReleaseContext(context, &error);
        return lower;
    }
    SOCKET s = INVALID_SOCKET;
};

TEST_F(LayerAnsweredTest, ProtocolInformationIsTheChainsOwn)
{
    WSAPROTOCOL_INFOW wide;
    int length = sizeof(wide);
    ASSERT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOW,
                                       reinterpret_cast<char*>(&wide), &length, &error));
    EXPECT_EQ(LayerTcpChainId, wide.dwCatalogEntryId);
    EXPECT_STREQ(L"Kestrix over [fake]", wide.szProtocol);

    WSAPROTOCOL_INFOA narrow;
    memset(&narrow, 0xcc, sizeof(narrow));
    length = sizeof(narrow);
    ASSERT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOA,
                                       reinterpret_cast<char*>(&narrow), &length, &error));
    EXPECT_EQ(LayerTcpChainId, narrow.dwCatalogEntryId);
    EXPECT_STREQ("Kestrix over [fake]", narrow.szProtocol);

    const struct {
        int option;
        int length;
    } tooShort[] = {{SO_PROTOCOL_INFOW, 627}, {SO_PROTOCOL_INFOA, 371}};
    for (const auto& row : tooShort) {
        error = static_cast<int>(0xdeadbeef);
        length = row.length;
        EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(s, SOL_SOCKET, row.option,
                                                      reinterpret_cast<char*>(&wide), &length,
                                                      &error))
            << "option " << row.option;
        EXPECT_EQ(WSAEFAULT, error) << "option " << row.option;
    }

    // A value pointer that cannot be written is the application's fault, answered as such; a
    // longer buffer is told the size written.
    for (int option : {SO_PROTOCOL_INFOW, SO_PROTOCOL_INFOA}) {
        error = static_cast<int>(0xdeadbeef);
        length = sizeof(wide);
        EXPECT_EQ(SOCKET_ERROR,
                  table.lpWSPGetSockOpt(s, SOL_SOCKET, option, nullptr, &length, &error));
        EXPECT_EQ(WSAEFAULT, error) << "option " << option;
        EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(s, SOL_SOCKET, option,
                                                      reinterpret_cast<char*>(&wide), nullptr,
                                                      &error));
        EXPECT_EQ(WSAEFAULT, error) << "option " << option;
    }
    char roomy[1024];
    length = sizeof(roomy);
    ASSERT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOA, roomy, &length, &error));
    EXPECT_EQ(static_cast<int>(sizeof(WSAPROTOCOL_INFOA)), length);
}

TEST_F(LayerAnsweredTest, AcceptContextNamesTheListeningSocketBelow)
{
    SOCKET listening = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
    SocketContext* listener = FindContext(listening, &error);
    listener->eventMask = FD_ACCEPT;
    listener->blocking = 0;
    listener->flags = WSA_FLAG_OVERLAPPED;
    ReleaseContext(listener, &error);
    ASSERT_EQ(0, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                       reinterpret_cast<const char*>(&listening),
                                       sizeof(listening), &error));
    EXPECT_EQ(SO_UPDATE_ACCEPT_CONTEXT, base->lastOptionName);
    EXPECT_EQ(LowerOf(listening), base->lastOptionValue);
    EXPECT_EQ(LowerOf(s), base->lastSocket);
    SocketContext* accepted = FindContext(s, &error);
    EXPECT_EQ(FD_ACCEPT, accepted->eventMask);
    EXPECT_EQ(0, accepted->blocking);
    EXPECT_EQ(static_cast<DWORD>(WSA_FLAG_OVERLAPPED), accepted->flags);
    ReleaseContext(accepted, &error);

    SOCKET unknown = UnknownHandle;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSetSockOpt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                                                  reinterpret_cast<const char*>(&unknown),
                                                  sizeof(unknown), &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    // Both references were released: the sockets still close at once.
    EXPECT_EQ(0, table.lpWSPCloseSocket(listening, &error));
    EXPECT_FALSE(IsHandleOpen(listening));
}

TEST_F(LayerAnsweredTest, CallsWithoutASocketFindTheirChainOrAnswerInvalid)
{
    EXPECT_EQ(0, table.lpWSPCancelBlockingCall(&error)) << "no call of this thread is blocked";
    WSAPROTOCOL_INFOW unknownKind = fakeCatalog.entries[0];
    unknownKind.iSocketType = SOCK_RAW;
    sockaddr_in address = {};
    WCHAR text[64];
    DWORD textLength = 64;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPAddressToString(reinterpret_cast<sockaddr*>(&address), sizeof(address),
                                         &unknownKind, text, &textLength, &error));
    EXPECT_EQ(WSAEINVAL, error);
    WSAPROTOCOL_INFOW tcp = fakeCatalog.entries[0];
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR,
              table.lpWSPAddressToString(reinterpret_cast<sockaddr*>(&address), sizeof(address),
                                         &tcp, text, &textLength, &error));
    EXPECT_EQ(WSAEOPNOTSUPP, error) << "a matching chain forwards to the provider below";
}
