// Socket creation, the three kinds of close, teardown, and the records they send.
#include "LayerHarness.h"
#include "Channel.h"
#include "Entries.h"
#include "SocketContext.h"
#include <cstring>

class SocketLifeTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        TraceTo(viewer, Medium);
    }
    SOCKET NewTcpSocket(DWORD flags = 0)
    {
        return WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, flags, &error);
    }
    std::string LastText()
    {
        auto records = viewer.Records();
        return records.empty() ? "(no record)" : records.back().Text();
    }
};

static std::string Number(SOCKET s)
{
    return std::to_string(static_cast<long>(s));
}

struct CreationCase {
    const char* name;
    int family, type, protocol;
    const WSAPROTOCOL_INFOW* info;
    int expectedError;            // 0: created
    DWORD expectedChain;          // chain the socket belongs to
    const char* expectedArguments;
};

TEST_F(SocketLifeTest, CreationPicksTheChainOrFailsWithTheRightCode)
{
    WSAPROTOCOL_INFOW udpInfo = fakeCatalog.entries[1];
    // Information that names no chain of ours is matched by what it describes.
    const DWORD unknownId = 9999;
    WSAPROTOCOL_INFOW otherFlags = fakeCatalog.entries[0];
    otherFlags.dwCatalogEntryId = unknownId;
    otherFlags.dwServiceFlags1 |= XP1_QOS_SUPPORTED;
    WSAPROTOCOL_INFOW ifsOnly = fakeCatalog.entries[0];
    ifsOnly.dwCatalogEntryId = unknownId;
    ifsOnly.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
    const CreationCase cases[] = {
        {"tcp", AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, LayerTcpChainId,
         "family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP"},
        {"tcp6 any protocol", AF_INET6, SOCK_STREAM, 0, nullptr, 0, LayerTcp6ChainId,
         "family=AF_INET6, type=SOCK_STREAM, protocol=IPPROTO_IP"},
        {"any family datagram", 0, SOCK_DGRAM, 0, nullptr, 0, LayerUdpChainId,
         "family=AF_UNSPEC, type=SOCK_DGRAM, protocol=IPPROTO_IP"},
        {"from protocol information", -1, -1, -1, &udpInfo, 0, LayerUdpChainId,
         "family=AF_INET, type=SOCK_DGRAM, protocol=IPPROTO_UDP"},
        {"IFS bit ignored", AF_INET, SOCK_STREAM, IPPROTO_TCP, &ifsOnly, 0, LayerTcpChainId,
         "family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP"},
        {"unknown family", AF_IPX, SOCK_STREAM, IPPROTO_TCP, nullptr, WSAEAFNOSUPPORT, 0,
         "family=AF_NS, type=SOCK_STREAM, protocol=IPPROTO_TCP"},
        {"unknown type", AF_INET, SOCK_RAW, 0, nullptr, WSAESOCKTNOSUPPORT, 0,
         "family=AF_INET, type=SOCK_RAW, protocol=IPPROTO_IP"},
        {"unknown protocol", AF_INET, SOCK_STREAM, 58, nullptr, WSAEPROTONOSUPPORT, 0,
         "family=AF_INET, type=SOCK_STREAM, protocol=58"},
        {"protocol never with that type", 0, SOCK_DGRAM, IPPROTO_TCP, nullptr, WSAEPROTOTYPE, 0,
         "family=AF_UNSPEC, type=SOCK_DGRAM, protocol=IPPROTO_TCP"},
        {"family and protocol never together", AF_INET6, SOCK_DGRAM, IPPROTO_UDP, nullptr,
         WSAEAFNOSUPPORT, 0, "family=AF_INET6, type=SOCK_DGRAM, protocol=IPPROTO_UDP"},
        {"service flags differ", AF_INET, SOCK_STREAM, IPPROTO_TCP, &otherFlags, WSAEAFNOSUPPORT,
         0, "family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP"},
    };
    for (const CreationCase& row : cases) {
        SCOPED_TRACE(row.name);
        viewer.ClearRecords();
        error = static_cast<int>(0xdeadbeef);
        int lowerCalls = base->socketCalls;
        WSAPROTOCOL_INFOW info;
        if (row.info)
            info = *row.info;
        SOCKET s = WSPSocket(row.family, row.type, row.protocol, row.info ? &info : nullptr, 0, 0,
                             &error);
        auto records = viewer.Records();
        ASSERT_EQ(1u, records.size());
        if (row.expectedError) {
            EXPECT_EQ(INVALID_SOCKET, s);
            EXPECT_EQ(row.expectedError, error);
            EXPECT_EQ(lowerCalls, base->socketCalls) << "the lower provider is not asked";
            std::string expected = "a socket could not be created [" +
                                   std::string(row.expectedArguments) + "] - ";
            EXPECT_EQ(0u, records[0].Text().find(expected)) << records[0].Text();
            EXPECT_EQ(0u, records[0].PayloadLength());
            continue;
        }
        ASSERT_NE(INVALID_SOCKET, s) << "error " << error;
        EXPECT_EQ(0, error);
        EXPECT_EQ(LayerId, fakeUpcalls.lastCatalogId);
        EXPECT_EQ(row.family, base->socketFamily) << "the values go down as the caller gave them";
        SocketContext* context = FindContext(s, &error);
        ASSERT_NE(nullptr, context);
        EXPECT_EQ(row.expectedChain, context->provider->chainProtocolInfo.dwCatalogEntryId);
        EXPECT_EQ(base->nextSocket - 1, context->lowerSocket);
        ReleaseContext(context, &error);
        EXPECT_EQ("socket (" + Number(s) + ") created [" + row.expectedArguments + "]",
                  records[0].Text());
        EXPECT_EQ(RecordSocketCreated, records[0].Kind());
        EXPECT_EQ(static_cast<DWORD>(s), records[0].Word(1));
        EXPECT_EQ(8u, records[0].PayloadLength());
    }
}

struct NamedChainCase {
    const char* name;
    int family, type, protocol;
    WSAPROTOCOL_INFOW info;
    int lowerError;               // what the provider below answers
    DWORD expectedChain;
    DWORD expectedLowerEntry;     // the entry the provider below is addressed as
    int expectedType;             // the socket's type, as the provider below takes it
};

// The Winsock layer has already chosen the chain by the time the layer is called; the request
// goes below as the application made it, and the provider there answers it.
TEST_F(SocketLifeTest, CreationThroughANamedChainLeavesTheRequestToTheProviderBelow)
{
    WSAPROTOCOL_INFOW tcpChain = fakeCatalog.entries[0];
    WSAPROTOCOL_INFOW udpChain = fakeCatalog.entries[1];
    WSAPROTOCOL_INFOW datagramOnTcpChain = tcpChain;
    datagramOnTcpChain.iSocketType = SOCK_DGRAM;
    datagramOnTcpChain.iProtocol = IPPROTO_UDP;
    WSAPROTOCOL_INFOW nothingKnown = tcpChain;
    nothingKnown.iAddressFamily = nothingKnown.iSocketType = nothingKnown.iProtocol = -1;
    WSAPROTOCOL_INFOW fromLayerAbove = udpChain;
    fromLayerAbove.dwCatalogEntryId = OtherUdpChainId;
    fromLayerAbove.ProtocolChain.ChainLen = 3;
    DWORD aboveUs[] = {OtherLayerId, LayerId, BaseUdpId};
    memcpy(fromLayerAbove.ProtocolChain.ChainEntries, aboveUs, sizeof(aboveUs));
    const NamedChainCase cases[] = {
        {"type left to the entry", AF_INET, 0, IPPROTO_TCP, tcpChain, 0, LayerTcpChainId,
         BaseTcpId, SOCK_STREAM},
        {"only a protocol", 0, 0, IPPROTO_UDP, udpChain, 0, LayerUdpChainId, BaseUdpId,
         SOCK_DGRAM},
        {"everything left to the entry", 0, 0, 0, tcpChain, 0, LayerTcpChainId, BaseTcpId,
         SOCK_STREAM},
        {"the application's own values", 0, 0, 0, datagramOnTcpChain, 0, LayerTcpChainId,
         BaseTcpId, SOCK_DGRAM},
        {"refused below", 0, 0, IPPROTO_UDP, nothingKnown, WSAEAFNOSUPPORT, 0, BaseTcpId, 0},
        {"chain of a layer above", AF_INET, SOCK_DGRAM, 0, fromLayerAbove, 0, LayerUdpChainId,
         BaseUdpId, SOCK_DGRAM},
    };
    for (const NamedChainCase& row : cases) {
        SCOPED_TRACE(row.name);
        base->socketError = row.lowerError;
        error = static_cast<int>(0xdeadbeef);
        WSAPROTOCOL_INFOW info = row.info;
        SOCKET s = WSPSocket(row.family, row.type, row.protocol, &info, 0, 0, &error);
        EXPECT_EQ(row.family, base->socketFamily) << "the values go down as the caller gave them";
        EXPECT_EQ(row.type, base->socketType);
        EXPECT_EQ(row.protocol, base->socketProtocol);
        EXPECT_EQ(row.expectedLowerEntry, base->socketInfo.dwCatalogEntryId);
        EXPECT_EQ(BASE_PROTOCOL, base->socketInfo.ProtocolChain.ChainLen);
        EXPECT_EQ(row.info.iAddressFamily, base->socketInfo.iAddressFamily);
        EXPECT_EQ(row.info.iSocketType, base->socketInfo.iSocketType);
        EXPECT_EQ(row.info.iProtocol, base->socketInfo.iProtocol);
        if (row.lowerError) {
            EXPECT_EQ(INVALID_SOCKET, s);
            EXPECT_EQ(row.lowerError, error) << "the error below reaches the application";
            continue;
        }
        ASSERT_NE(INVALID_SOCKET, s) << "error " << error;
        SocketContext* context = ContextOf(s);
        ASSERT_NE(nullptr, context);
        EXPECT_EQ(row.expectedChain, context->provider->chainProtocolInfo.dwCatalogEntryId);
        EXPECT_EQ(row.expectedType, context->socketType);
        EXPECT_EQ(0, table.lpWSPCloseSocket(s, &error));
    }
}

TEST_F(SocketLifeTest, CreationTextShowsGroupAndFlags)
{
    SOCKET s = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, SG_CONSTRAINED_GROUP,
                         WSA_FLAG_OVERLAPPED | WSA_FLAG_MULTIPOINT_D_LEAF | 0x80, &error);
    ASSERT_NE(INVALID_SOCKET, s);
    EXPECT_EQ("socket (" + Number(s) +
                  ") created [family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP, "
                  "g=SG_CONSTRAINED_GROUP, dwFlags=WSA_FLAG_OVERLAPPED|WSA_FLAG_MULTIPOINT_D_LEAF]",
              LastText());
}

TEST_F(SocketLifeTest, CreationFailuresBelowAreReportedAndLeakNothing)
{
    base->socketError = WSAEMFILE;
    EXPECT_EQ(INVALID_SOCKET, NewTcpSocket());
    EXPECT_EQ(WSAEMFILE, error);
    EXPECT_EQ("a socket could not be created [family=AF_INET, type=SOCK_STREAM, "
              "protocol=IPPROTO_TCP] - WSAEMFILE (Too many open sockets)",
              LastText());

    base->socketError = 0;
    fakeUpcalls.createError = WSAENOBUFS;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(INVALID_SOCKET, NewTcpSocket());
    EXPECT_EQ(WSAENOBUFS, error);
    EXPECT_EQ(1, base->closeCalls) << "the lower socket is closed when no handle can be made";
    EXPECT_EQ(base->nextSocket - 1, base->closed[0]);
    EXPECT_EQ(nullptr, providerTable[0].sockets) << "the context is unlinked and freed";
}

TEST_F(SocketLifeTest, ImmediateCloseReportsByteCountsUnlessListening)
{
    SOCKET connected = NewTcpSocket();
    SOCKET listening = NewTcpSocket();
    char bytes[7] = "abcdef";
    WSABUF buffers[2] = {{4, bytes}, {2, bytes + 4}};
    DWORD sent = 0;
    ASSERT_EQ(0, table.lpWSPSend(connected, buffers, 2, &sent, 0, nullptr, nullptr, nullptr, &error));
    DWORD received = 0, flags = 0;
    base->dataLength = 4;
    ASSERT_EQ(0, table.lpWSPRecv(connected, buffers, 1, &received, &flags, nullptr, nullptr,
                                 nullptr, &error));
    ASSERT_EQ(0, table.lpWSPListen(listening, 5, &error));
    // The listen report belongs to the connection calls; the close only reads the backlog.
    SocketContext* context = FindContext(listening, &error);
    context->backlog = 5;
    ReleaseContext(context, &error);
    viewer.ClearRecords();

    EXPECT_EQ(0, table.lpWSPCloseSocket(connected, &error));
    EXPECT_EQ(0, table.lpWSPCloseSocket(listening, &error));
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("socket (" + Number(connected) + ") closed; bytes received=4, bytes sent=6",
              records[0].Text());
    EXPECT_EQ("socket (" + Number(listening) + ") closed", records[1].Text());
    for (const Record& record : records) {
        EXPECT_EQ(RecordSocketClosed, record.Kind());
        EXPECT_EQ(8u, record.PayloadLength());
    }
    EXPECT_EQ(static_cast<DWORD>(listening), records[1].Word(1));
    EXPECT_FALSE(IsHandleOpen(connected));
    EXPECT_FALSE(IsHandleOpen(listening));
    EXPECT_EQ(2, base->closeCalls);
    EXPECT_EQ(nullptr, providerTable[0].sockets);
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPCloseSocket(connected, &error)) << "closed for good";
    EXPECT_EQ(WSAENOTSOCK, error);
}

TEST_F(SocketLifeTest, FailedClosesKeepTheSocketAndSayWhy)
{
    SOCKET s = NewTcpSocket();
    viewer.ClearRecords();
    base->closeError = WSAENETDOWN;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPCloseSocket(s, &error));
    EXPECT_EQ(WSAENETDOWN, error) << "the lower error passes through";
    EXPECT_EQ("socket (" + Number(s) +
                  ") could not be closed - WSAENETDOWN (A socket operation encountered a dead "
                  "network)",
              LastText());
    EXPECT_TRUE(IsHandleOpen(s));
    base->closeError = 0;
    EXPECT_EQ(0, table.lpWSPCloseSocket(s, &error)) << "a later close still works";

    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPCloseSocket(UnknownHandle, &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    EXPECT_EQ("socket (30583) could not be closed - WSAENOTSOCK (An operation was attempted on "
              "something that is not a socket)",
              LastText());
}

TEST_F(SocketLifeTest, CloseDuringAnotherCallIsDeferredToTheLastRelease)
{
    SOCKET s = NewTcpSocket();
    SocketContext* inUse = FindContext(s, &error);   // another thread inside a call
    ASSERT_NE(nullptr, inUse);
    viewer.ClearRecords();
    EXPECT_EQ(0, table.lpWSPCloseSocket(s, &error));
    EXPECT_EQ("socket (" + Number(s) +
                  ") will be closed when outstanding asynchronous calls finish",
              LastText());
    EXPECT_EQ(0u, viewer.Records()[0].PayloadLength()) << "no closed record yet";
    EXPECT_EQ(1, base->closeCalls) << "the lower socket closes at once";
    EXPECT_EQ(INVALID_SOCKET, inUse->lowerSocket);
    EXPECT_TRUE(IsHandleOpen(s)) << "the handle lives until the other call ends";
    ReleaseContext(inUse, &error);
    EXPECT_FALSE(IsHandleOpen(s));
    EXPECT_EQ(nullptr, providerTable[0].sockets);
    // Without a closed record the viewer would count the socket open for ever.
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("async calls finished, socket (" + Number(s) + ") closed; bytes received=0, bytes sent=0",
              records[1].Text());
    EXPECT_EQ(RecordSocketClosed, records[1].Kind());
}

// A call on another thread that found the socket just before its handle was closed.
static SocketContext* lateCaller;

TEST_F(SocketLifeTest, CallThatFindsTheSocketDuringItsCloseKeepsTheContextAlive)
{
    SOCKET s = NewTcpSocket();
    lateCaller = nullptr;
    fakeUpcalls.onClose = [](SOCKET handle) {
        int lookupError = 0;
        lateCaller = FindContext(handle, &lookupError);
    };
    viewer.ClearRecords();
    EXPECT_EQ(0, table.lpWSPCloseSocket(s, &error));
    fakeUpcalls.onClose = nullptr;
    ASSERT_NE(nullptr, lateCaller);
    EXPECT_FALSE(IsHandleOpen(s));
    EXPECT_EQ(1, lateCaller->closing) << "the late caller's release will free it";
    EXPECT_EQ(INVALID_SOCKET, lateCaller->layeredHandle);
    EXPECT_EQ(INVALID_SOCKET, lateCaller->lowerSocket);
    ReleaseContext(lateCaller, &error);
    EXPECT_EQ(1, fakeUpcalls.closed) << "the handle is closed once";
    EXPECT_EQ(nullptr, providerTable[0].sockets);
    ASSERT_EQ(1u, viewer.Records().size());
    EXPECT_EQ(RecordSocketClosed, viewer.Records()[0].Kind());
}

TEST_F(SocketLifeTest, DeferredCloseThatFailsBelowAnswersNotASocket)
{
    SOCKET s = NewTcpSocket();
    SocketContext* inUse = FindContext(s, &error);
    base->closeError = WSAENETDOWN;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPCloseSocket(s, &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    EXPECT_EQ(0u, LastText().find("socket (" + Number(s) + ") could not be closed - WSAENOTSOCK"));
    ReleaseContext(inUse, &error);
    EXPECT_FALSE(IsHandleOpen(s)) << "the closing mark stays, so the last release frees it";
}

TEST_F(SocketLifeTest, TeardownClosesEverySocketHardAndReportsIt)
{
    SOCKET first = NewTcpSocket();
    SOCKET second = NewTcpSocket();
    SOCKET stubborn = NewTcpSocket();
    SocketContext* context = FindContext(stubborn, &error);
    base->lingerFailSocket = context->lowerSocket;
    ReleaseContext(context, &error);
    viewer.ClearRecords();
    ASSERT_EQ(0, WSPCleanup(&error));
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size()) << "the socket whose linger failed gives no line";
    EXPECT_EQ("detaching from process, socket (" + Number(second) +
                  ") closed; bytes received=0, bytes sent=0",
              records[0].Text());
    EXPECT_EQ("detaching from process, socket (" + Number(first) +
                  ") closed; bytes received=0, bytes sent=0",
              records[1].Text());
    EXPECT_EQ(RecordSocketClosed, records[0].Kind());
    EXPECT_EQ(0, base->lastLinger.l_linger);
    EXPECT_EQ(1, base->lastLinger.l_onoff);
    EXPECT_EQ(2, base->closeCalls);
    for (SOCKET s : {first, second, stubborn})
        EXPECT_FALSE(IsHandleOpen(s)) << "handle " << s;
    EXPECT_EQ(3, base->cleanupCalls);
}

TEST_F(SocketLifeTest, TeardownCloseThatFailsIsReported)
{
    SOCKET s = NewTcpSocket();
    base->closeError = WSAEWOULDBLOCK;
    viewer.ClearRecords();
    ASSERT_EQ(0, WSPCleanup(&error));
    EXPECT_EQ("detaching from process, socket (" + Number(s) +
                  ") could not be closed - WSAEWOULDBLOCK (A non-blocking socket operation could "
                  "not be completed immediately)",
              LastText());
    EXPECT_FALSE(IsHandleOpen(s));
}

TEST_F(SocketLifeTest, ForwardedCallsTranslateTheHandleOrAnswerNotASocket)
{
    SOCKET s = NewTcpSocket();
    SocketContext* context = FindContext(s, &error);
    SOCKET lower = context->lowerSocket;
    ReleaseContext(context, &error);
    EXPECT_EQ(0, table.lpWSPListen(s, 1, &error));
    EXPECT_EQ(lower, base->lastSocket);
    base->lastSocket = 0;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPListen(UnknownHandle, 1, &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    EXPECT_EQ(0u, base->lastSocket) << "an unknown handle never reaches the provider below";
    error = static_cast<int>(0xdeadbeef);
    base->connectionError = WSAEADDRINUSE;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPBind(s, nullptr, 0, &error));
    EXPECT_EQ(WSAEADDRINUSE, error) << "lower errors pass through unchanged";
}

TEST_F(SocketLifeTest, SelectTranslatesTheSetsAndReleasesEveryReference)
{
    SOCKET sockets[3] = {NewTcpSocket(), NewTcpSocket(), NewTcpSocket()};
    fd_set readSet;
    readSet.fd_count = 3;
    for (int i = 0; i < 3; i++)
        readSet.fd_array[i] = sockets[i];
    base->readyCount = 1;
    timeval timeout = {0, 0};
    EXPECT_EQ(1, table.lpWSPSelect(0, &readSet, nullptr, nullptr, &timeout, &error));
    ASSERT_EQ(1u, readSet.fd_count);
    EXPECT_EQ(sockets[0], readSet.fd_array[0]);
    ASSERT_EQ(3u, base->selectReadCount);
    EXPECT_EQ(0x5000u, base->selectRead[0]) << "lower handles go down";
    viewer.ClearRecords();
    for (SOCKET s : sockets)
        EXPECT_EQ(0, table.lpWSPCloseSocket(s, &error));
    for (const Record& record : viewer.Records())
        EXPECT_EQ(RecordSocketClosed, record.Kind()) << "a leaked reference defers: " << record.Text();

    // A set above 1024 handles fails, and the references of an earlier set are released.
    SOCKET kept = NewTcpSocket();
    fd_set small;
    small.fd_count = 2;
    small.fd_array[0] = small.fd_array[1] = kept;
    std::vector<BYTE> hugeSet(sizeof(u_int) + 1025 * sizeof(SOCKET));
    auto* huge = reinterpret_cast<fd_set*>(hugeSet.data());
    huge->fd_count = 1025;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSelect(0, &small, huge, nullptr, &timeout, &error));
    EXPECT_EQ(WSAENOBUFS, error);
    base->readyCount = 5;
    EXPECT_EQ(1, table.lpWSPSelect(0, &small, nullptr, nullptr, &timeout, &error));
    EXPECT_EQ(1u, base->selectReadCount) << "each lower handle goes down once";
    EXPECT_EQ(1u, small.fd_count);
    viewer.ClearRecords();
    EXPECT_EQ(0, table.lpWSPCloseSocket(kept, &error));
    EXPECT_EQ(RecordSocketClosed, viewer.Records().at(0).Kind()) << viewer.Records()[0].Text();

    // A set the application cannot have is its fault, not a crash; the first set's reference
    // is still released.
    kept = NewTcpSocket();
    small.fd_count = 1;
    small.fd_array[0] = kept;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSelect(0, &small, reinterpret_cast<fd_set*>(16), nullptr,
                                              &timeout, &error));
    EXPECT_EQ(WSAEFAULT, error);
    viewer.ClearRecords();
    EXPECT_EQ(0, table.lpWSPCloseSocket(kept, &error));
    EXPECT_EQ(RecordSocketClosed, viewer.Records().at(0).Kind()) << viewer.Records()[0].Text();

    fd_set unknownOnly;
    unknownOnly.fd_count = 1;
    unknownOnly.fd_array[0] = UnknownHandle;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSelect(0, &unknownOnly, nullptr, nullptr, &timeout, &error));
    EXPECT_EQ(WSAEINVAL, error);
}

TEST_F(SocketLifeTest, WithoutAViewerEveryEntryAnswersTheSameAndSendsNothing)
{
    StopTracing();
    base->closeError = WSAENETDOWN;
    SOCKET s = NewTcpSocket();
    EXPECT_NE(INVALID_SOCKET, s);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPCloseSocket(s, &error));
    EXPECT_EQ(WSAENETDOWN, error);
    EXPECT_EQ(INVALID_SOCKET,
              WSPSocket(AF_IPX, SOCK_STREAM, 0, nullptr, 0, 0, &error));
    EXPECT_EQ(WSAEAFNOSUPPORT, error);
    base->closeError = 0;
    EXPECT_EQ(0, WSPCleanup(&error));
    EXPECT_TRUE(viewer.Records().empty());
}
