// Sockets, connections, names, options and the entries Wine only partly has, on real
// loopback sockets.
#include "BaseProviderHarness.h"

#include <cstring>
#include <string>

TEST_F(BaseProviderTest, StreamSocketsConnectAcceptAndCarryDataOverBothFamilies)
{
    for (const WSAPROTOCOL_INFOW* entry : {&tcp4, &tcp6}) {
        SCOPED_TRACE(testing::Message() << "family " << entry->iAddressFamily);
        upcallLog.registered.clear();
        SOCKET client, server;
        ConnectedPair(*entry, &client, &server);

        // The listener, the client and the accepted socket, each under the entry's id.
        ASSERT_EQ(upcallLog.registered.size(), 3u);
        EXPECT_EQ(upcallLog.registered[1].handle, client);
        EXPECT_EQ(upcallLog.registered[2].handle, server);
        for (const RegisteredHandle& r : upcallLog.registered)
            EXPECT_EQ(r.catalogId, entry->dwCatalogEntryId) << "handle " << r.handle;

        SendText(client, "hello");
        EXPECT_EQ(ReceiveText(server, 5), "hello");
        SendText(server, "back");
        EXPECT_EQ(ReceiveText(client, 4), "back");

        sockaddr_storage local{}, peer{};
        int localLength = sizeof local, peerLength = sizeof peer, error = 0xdeadbeef;
        ASSERT_EQ(table.lpWSPGetSockName(client, reinterpret_cast<sockaddr*>(&local),
                                         &localLength, &error), 0) << "error " << error;
        ASSERT_EQ(table.lpWSPGetPeerName(server, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                                         &error), 0) << "error " << error;
        EXPECT_EQ(localLength, peerLength);
        EXPECT_EQ(memcmp(&local, &peer, localLength), 0);

        // After the client's shutdown the server reads the end of the stream.
        ASSERT_EQ(table.lpWSPShutdown(client, SD_SEND, &error), 0) << "error " << error;
        EXPECT_EQ(ReceiveText(server, 1), "");
        Close(client);
        Close(server);
    }
}

TEST_F(BaseProviderTest, DatagramsTravelOverBothFamilies)
{
    for (const WSAPROTOCOL_INFOW* entry : {&udp4, &udp6}) {
        SCOPED_TRACE(testing::Message() << "family " << entry->iAddressFamily);
        sockaddr_storage address;
        SOCKET receiver = Listener(*entry, &address);
        SOCKET sender = Socket(*entry);
        char text[] = "datagram";
        WSABUF buffer{8, text};
        DWORD count = 0xdeadbeef;
        int error = 0xdeadbeef;
        ASSERT_EQ(table.lpWSPSendTo(sender, &buffer, 1, &count, 0,
                                    reinterpret_cast<sockaddr*>(&address),
                                    AddressLength(entry->iAddressFamily), nullptr, nullptr,
                                    nullptr, &error), 0) << "error " << error;
        EXPECT_EQ(count, 8u);

        char received[16] = {};
        WSABUF in{sizeof received, received};
        sockaddr_storage from{};
        int fromLength = sizeof from;
        DWORD flags = 0;
        count = 0xdeadbeef;
        ASSERT_EQ(table.lpWSPRecvFrom(receiver, &in, 1, &count, &flags,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength, nullptr,
                                      nullptr, nullptr, &error), 0) << "error " << error;
        EXPECT_EQ(std::string(received, count), "datagram");
        EXPECT_EQ(from.ss_family, entry->iAddressFamily);
        Close(sender);
        Close(receiver);
    }
}

TEST_F(BaseProviderTest, FailuresCarryTheRealErrorCode)
{
    sockaddr_storage address;
    SOCKET listener = Listener(tcp4, &address);
    Close(listener); // nothing listens at address any more
    SOCKET s = Socket(tcp4, 0);

    struct Row {
        const char* name;
        int (*call)(BaseProviderTest&, SOCKET, sockaddr_storage&, int*);
        int expected;
    } rows[] = {
        {"connect refused",
         [](BaseProviderTest& t, SOCKET s, sockaddr_storage& a, int* e) {
             return t.table.lpWSPConnect(s, reinterpret_cast<sockaddr*>(&a), sizeof(sockaddr_in),
                                         nullptr, nullptr, nullptr, nullptr, e);
         },
         WSAECONNREFUSED},
        {"bind with a short address",
         [](BaseProviderTest& t, SOCKET s, sockaddr_storage& a, int* e) {
             return t.table.lpWSPBind(s, reinterpret_cast<sockaddr*>(&a), 3, e);
         },
         WSAEFAULT},
        {"getpeername unconnected",
         [](BaseProviderTest& t, SOCKET s, sockaddr_storage& a, int* e) {
             int length = sizeof a;
             return t.table.lpWSPGetPeerName(s, reinterpret_cast<sockaddr*>(&a), &length, e);
         },
         WSAENOTCONN},
        {"unknown option",
         [](BaseProviderTest& t, SOCKET s, sockaddr_storage& a, int* e) {
             int length = sizeof a;
             return t.table.lpWSPGetSockOpt(s, SOL_SOCKET, 0x7abc, reinterpret_cast<char*>(&a),
                                            &length, e);
         },
         WSAENOPROTOOPT},
        {"listen on a closed handle",
         [](BaseProviderTest& t, SOCKET, sockaddr_storage&, int* e) {
             return t.table.lpWSPListen(INVALID_SOCKET - 2, 1, e);
         },
         WSAENOTSOCK},
    };
    for (Row& row : rows) {
        int error = 0xdeadbeef;
        EXPECT_EQ(row.call(*this, s, address, &error), SOCKET_ERROR) << row.name;
        EXPECT_EQ(error, row.expected) << row.name;
    }
    Close(s);
}

TEST_F(BaseProviderTest, RefusedRegistrationFailsTheSocketWithTheLayersError)
{
    upcallLog.refuseRegistrationWith = WSAEMFILE;
    WSAPROTOCOL_INFOW info = tcp4;
    int error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, &info, 0, 0, &error),
              INVALID_SOCKET);
    EXPECT_EQ(error, WSAEMFILE);
}

TEST_F(BaseProviderTest, SocketTakesUnspecifiedValuesFromItsEntry)
{
    WSAPROTOCOL_INFOW info = udp6;
    int error = 0xdeadbeef;
    SOCKET s = table.lpWSPSocket(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                 &info, 0, 0, &error);
    ASSERT_NE(s, INVALID_SOCKET) << "error " << error;
    WSAPROTOCOL_INFOW actual{};
    int length = sizeof actual;
    ASSERT_EQ(table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOW,
                                    reinterpret_cast<char*>(&actual), &length, &error), 0);
    EXPECT_EQ(actual.iAddressFamily, AF_INET6);
    EXPECT_EQ(actual.iSocketType, SOCK_DGRAM);
    ASSERT_EQ(upcallLog.registered.size(), 1u);
    EXPECT_EQ(upcallLog.registered[0].catalogId, udp6.dwCatalogEntryId);
    Close(s);

    // A layer above that hands down its chain's entry still gets the socket registered under
    // the base entry at the chain's end.
    WSAPROTOCOL_INFOW chain = tcp6;
    chain.dwCatalogEntryId = 2002;
    chain.ProtocolChain.ChainLen = 2;
    chain.ProtocolChain.ChainEntries[0] = 2001;
    chain.ProtocolChain.ChainEntries[1] = tcp6.dwCatalogEntryId;
    s = table.lpWSPSocket(AF_INET6, SOCK_STREAM, IPPROTO_TCP, &chain, 0, 0, &error);
    ASSERT_NE(s, INVALID_SOCKET) << "error " << error;
    ASSERT_EQ(upcallLog.registered.size(), 2u);
    EXPECT_EQ(upcallLog.registered[1].catalogId, tcp6.dwCatalogEntryId);
    Close(s);
}

TEST_F(BaseProviderTest, DuplicatedSocketIsMadeAgainThroughTheEntry)
{
    SOCKET client, server;
    ConnectedPair(tcp4, &client, &server);
    WSAPROTOCOL_INFOW info{};
    int error = 0xdeadbeef;
    ASSERT_EQ(table.lpWSPDuplicateSocket(client, GetCurrentProcessId(), &info, &error), 0)
        << "error " << error;
    EXPECT_EQ(info.dwCatalogEntryId, tcp4.dwCatalogEntryId);
    EXPECT_TRUE(IsEqualGUID(info.ProviderId, tcp4.ProviderId));

    SOCKET copy = table.lpWSPSocket(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                    &info, 0, WSA_FLAG_OVERLAPPED, &error);
    ASSERT_NE(copy, INVALID_SOCKET) << "error " << error;
    EXPECT_NE(copy, client);
    Close(client);
    SendText(copy, "via copy");
    EXPECT_EQ(ReceiveText(server, 8), "via copy");
    Close(copy);
    Close(server);
}

TEST_F(BaseProviderTest, AddressesConvertBothWays)
{
    struct Row {
        int family;
        const wchar_t* text;
    } rows[] = {{AF_INET, L"127.0.0.1:8080"}, {AF_INET6, L"[::1]:8080"}};
    for (const Row& row : rows) {
        sockaddr_storage address{};
        int length = sizeof address, error = 0xdeadbeef;
        std::wstring text = row.text;
        WSAPROTOCOL_INFOW info = row.family == AF_INET ? tcp4 : tcp6;
        ASSERT_EQ(table.lpWSPStringToAddress(text.data(), row.family, &info,
                                             reinterpret_cast<sockaddr*>(&address), &length,
                                             &error), 0) << "error " << error;
        wchar_t back[64];
        DWORD backLength = 64;
        ASSERT_EQ(table.lpWSPAddressToString(reinterpret_cast<sockaddr*>(&address), length,
                                             &info, back, &backLength, &error), 0)
            << "error " << error;
        EXPECT_STREQ(back, row.text);

        error = 0xdeadbeef;
        backLength = 3;
        EXPECT_EQ(table.lpWSPAddressToString(reinterpret_cast<sockaddr*>(&address), length,
                                             &info, back, &backLength, &error), SOCKET_ERROR);
        EXPECT_EQ(error, WSAEFAULT);
    }
}

TEST_F(BaseProviderTest, EntriesWineLacksFailWithAnError)
{
    SOCKET s = Socket(udp4, 0);
    int error = 0xdeadbeef;
    char name[] = "G711";
    WSABUF qosName{4, name};
    QOS qos{};
    EXPECT_FALSE(table.lpWSPGetQOSByName(s, &qosName, &qos, &error));
    EXPECT_NE(error, static_cast<int>(0xdeadbeef));
    EXPECT_NE(error, 0);

    error = 0xdeadbeef;
    sockaddr_storage group = Loopback(AF_INET, 9);
    EXPECT_EQ(table.lpWSPJoinLeaf(s, reinterpret_cast<sockaddr*>(&group), sizeof(sockaddr_in),
                                  nullptr, nullptr, nullptr, nullptr, JL_BOTH, &error),
              INVALID_SOCKET);
    EXPECT_NE(error, static_cast<int>(0xdeadbeef));
    EXPECT_NE(error, 0);
    Close(s);
}
