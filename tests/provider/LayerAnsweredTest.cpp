// What the layer answers for the application itself or changes on its way: the chain that names
// the protocol information, the listening socket named in SO_UPDATE_ACCEPT_CONTEXT, duplication
// and calls that name no socket.
#include "LayerHarness.h"
#include "Entries.h"
#include "SocketContext.h"
#include <mswsock.h>
#include <cstddef>
#include <cstring>

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

// What the provider below says about a raw socket, which no chain of the test catalog is.
static WSAPROTOCOL_INFOW RawDescription()
{
    WSAPROTOCOL_INFOW below = BaseEntry(BaseUdpId, AF_INET, SOCK_RAW, 0);
    below.dwServiceFlags1 = XP1_IFS_HANDLES | XP1_CONNECTIONLESS | XP1_MESSAGE_ORIENTED;
    below.dwProviderFlags = PFL_MATCHES_PROTOCOL_ZERO | PFL_HIDDEN;
    below.iProtocolMaxOffset = 255;
    below.dwServiceFlags3 = 0x5eed;
    wcscpy(below.szProtocol, L"below");
    return below;
}

static void ExpectDescribedBelowNamedByTheChain(const WSAPROTOCOL_INFOA& record,
                                                const WSAPROTOCOL_INFOW& below,
                                                const WSAPROTOCOL_INFOW& chain)
{
    EXPECT_EQ(below.iSocketType, record.iSocketType);
    EXPECT_EQ(below.iProtocol, record.iProtocol);
    EXPECT_EQ(below.iProtocolMaxOffset, record.iProtocolMaxOffset);
    EXPECT_EQ(below.dwServiceFlags1, record.dwServiceFlags1) << "the IFS bit included";
    EXPECT_EQ(below.dwProviderFlags, record.dwProviderFlags);
    EXPECT_EQ(below.dwServiceFlags3, record.dwServiceFlags3);
    EXPECT_EQ(chain.dwCatalogEntryId, record.dwCatalogEntryId);
    EXPECT_TRUE(IsEqualGUID(chain.ProviderId, record.ProviderId));
    EXPECT_EQ(0, memcmp(&chain.ProtocolChain, &record.ProtocolChain, sizeof(WSAPROTOCOL_INFOW::ProtocolChain)));
}

// The provider below describes the socket and checks the buffer; the record names the chain.
TEST_F(LayerAnsweredTest, ProtocolInformationIsTheProviderBelowsUnderTheChainsName)
{
    const WSAPROTOCOL_INFOW chain = fakeCatalog.entries[0];
    base->description = RawDescription();
    WSAPROTOCOL_INFOW wide;
    int length = sizeof(wide) + 10;   // a longer buffer keeps the length it was given
    ASSERT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOW,
                                       reinterpret_cast<char*>(&wide), &length, &error));
    EXPECT_EQ(static_cast<int>(sizeof(wide)) + 10, length);
    WSAPROTOCOL_INFOA wideHead;
    memcpy(&wideHead, &wide, offsetof(WSAPROTOCOL_INFOA, szProtocol));
    ExpectDescribedBelowNamedByTheChain(wideHead, base->description, chain);
    EXPECT_STREQ(L"below", wide.szProtocol);

    WSAPROTOCOL_INFOA narrow;
    memset(&narrow, 0xcc, sizeof(narrow));
    length = sizeof(narrow);
    ASSERT_EQ(0, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOA,
                                       reinterpret_cast<char*>(&narrow), &length, &error));
    ExpectDescribedBelowNamedByTheChain(narrow, base->description, chain);
    EXPECT_STREQ("below", narrow.szProtocol);

    // Short buffers and bad pointers get the answer below, and a failure below writes nothing.
    const struct {
        int option;
        int length;
        char* value;
        bool lengthGiven;
    } refused[] = {{SO_PROTOCOL_INFOW, 627, reinterpret_cast<char*>(&wide), true},
                   {SO_PROTOCOL_INFOA, 371, reinterpret_cast<char*>(&wide), true},
                   {SO_PROTOCOL_INFOW, sizeof(wide), nullptr, true},
                   {SO_PROTOCOL_INFOA, sizeof(wide), reinterpret_cast<char*>(&wide), false}};
    for (const auto& row : refused) {
        SCOPED_TRACE(row.option);
        error = static_cast<int>(0xdeadbeef);
        length = row.length;
        EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(s, SOL_SOCKET, row.option, row.value,
                                                      row.lengthGiven ? &length : nullptr,
                                                      &error));
        EXPECT_EQ(WSAEFAULT, error);
    }
    base->connectionError = WSAENETDOWN;
    memset(&wide, 0, sizeof(wide));
    length = sizeof(wide);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPGetSockOpt(s, SOL_SOCKET, SO_PROTOCOL_INFOW,
                                                  reinterpret_cast<char*>(&wide), &length,
                                                  &error));
    EXPECT_EQ(WSAENETDOWN, error);
    EXPECT_EQ(0u, wide.dwCatalogEntryId);
}

// The duplicate's record is what the provider below needs to make the socket again, opened
// through the same chain; a socket made from it, its values left to the record, is that one.
TEST_F(LayerAnsweredTest, DuplicateIsMadeAgainThroughTheSameChain)
{
    WSAPROTOCOL_INFOW below = BaseEntry(BaseUdpId, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    below.dwServiceFlags3 = 0x5eed;
    base->description = below;
    base->duplicateKey = 0xD0000123;
    SOCKET datagram = WSPSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0, &error);
    ASSERT_NE(INVALID_SOCKET, datagram);
    WSAPROTOCOL_INFOW info;
    ASSERT_EQ(0, table.lpWSPDuplicateSocket(datagram, GetCurrentProcessId(), &info, &error));
    EXPECT_EQ(LowerOf(datagram), base->lastSocket);
    EXPECT_EQ(LayerUdpChainId, info.dwCatalogEntryId);
    EXPECT_EQ(2, info.ProtocolChain.ChainLen);
    EXPECT_EQ(0xD0000123u, info.dwProviderReserved) << "the key below";
    EXPECT_EQ(0x5eedu, info.dwServiceFlags3) << "the rest of the record below";
    EXPECT_EQ(below.dwServiceFlags1, info.dwServiceFlags1);

    SOCKET copy = WSPSocket(0, 0, 0, &info, 0, 0, &error);
    ASSERT_NE(INVALID_SOCKET, copy) << "error " << error;
    EXPECT_EQ(BaseUdpId, base->socketInfo.dwCatalogEntryId);
    EXPECT_EQ(0xD0000123u, base->socketInfo.dwProviderReserved);
    EXPECT_EQ(0x5eedu, base->socketInfo.dwServiceFlags3);
    SocketContext* context = FindContext(copy, &error);
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(LayerUdpChainId, context->provider->chainProtocolInfo.dwCatalogEntryId);
    EXPECT_EQ(SOCK_DGRAM, context->socketType);
    ReleaseContext(context, &error);

    base->connectionError = WSAEINVAL;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPDuplicateSocket(datagram, ~0u, &info, &error));
    EXPECT_EQ(WSAEINVAL, error) << "the error below reaches the application";
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
