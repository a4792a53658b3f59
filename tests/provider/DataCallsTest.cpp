// The synchronous data calls: their before-reports, result reports and data records at each
// detail level, and the byte totals the close reports show.
#include "LayerHarness.h"
#include "Channel.h"
#include "DataReports.h"
#include "Formatting.h"
#include "Entries.h"
#include "SocketContext.h"
#include <cstring>

class DataCallsTest : public ViewerLayerTest {
protected:
    void SetUp() override
    {
        ViewerLayerTest::SetUp();
        ASSERT_EQ(0, StartLayer(&table));
        tcp = WSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
        udp = WSPSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0, &error);
        ASSERT_NE(INVALID_SOCKET, tcp);
        ASSERT_NE(INVALID_SOCKET, udp);
    }
    void Trace(DWORD level)
    {
        TraceTo(viewer, level);
        viewer.ClearRecords();
    }

    SOCKET tcp = INVALID_SOCKET, udp = INVALID_SOCKET;
};

static std::string BytesOf(const Record& record, DWORD from)
{
    return std::string(record.bytes.begin() + RecordLengthSize + from,
                       record.bytes.begin() + RecordLengthSize + record.PayloadLength());
}

static sockaddr_in Loopback(u_short port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

TEST_F(DataCallsTest, SendAtEachLevel)
{
    char data[] = "0123456789";
    WSABUF buffer = {10, data};
    struct Row {
        DWORD level;
        std::vector<std::string> texts;
        DWORD payloadLength;
    } rows[] = {
        {Low, {""}, 12},
        {Medium, {"socket (" + N(tcp) + ") sending data synchronously [len=10]",
                  "socket (" + N(tcp) + ") sent 10 bytes of data"}, 12},
        {High, {"socket (" + N(tcp) + ") sending data synchronously [len=10]",
                "socket (" + N(tcp) + ") sent 10 bytes of data"}, 22},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.level);
        Trace(row.level);
        DWORD sent = 0xdeadbeef;
        error = static_cast<int>(0xdeadbeef);
        ASSERT_EQ(0, table.lpWSPSend(tcp, &buffer, 1, &sent, 0, nullptr, nullptr, nullptr, &error));
        EXPECT_EQ(10u, sent);
        auto records = viewer.Records();
        ASSERT_EQ(row.texts, TextsOf(records));
        const Record& data = records.back();
        EXPECT_EQ(RecordDataSent, data.Kind());
        EXPECT_EQ(static_cast<DWORD>(tcp), data.Word(1));
        EXPECT_EQ(10u, data.Word(2));
        EXPECT_EQ(row.payloadLength, data.PayloadLength());
        EXPECT_EQ(row.level == Low, !data.HasText());
        if (row.level == High) {
            EXPECT_EQ("0123456789", BytesOf(data, DataHeaderSize));
        }
    }
    EXPECT_EQ(30u, ContextOf(tcp)->bytesSent);
}

TEST_F(DataCallsTest, ReceiveGathersOnlyTheBytesReceivedInBufferOrder)
{
    Trace(High);
    memcpy(base->data, "abcdef", 6);
    base->dataLength = 6;
    char one[4], two[4], three[100];
    WSABUF buffers[3] = {{4, one}, {4, two}, {100, three}};
    DWORD received = 0, flags = MSG_PEEK;
    ASSERT_EQ(0, table.lpWSPRecv(tcp, buffers, 3, &received, &flags, nullptr, nullptr, nullptr,
                                 &error));
    auto records = viewer.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("socket (" + N(tcp) + ") receiving data synchronously [len=108, flags=MSG_PEEK]",
              records[0].Text());
    EXPECT_EQ("socket (" + N(tcp) + ") received 6 bytes of data", records[1].Text());
    EXPECT_EQ(RecordDataReceived, records[1].Kind());
    EXPECT_EQ(18u, records[1].PayloadLength());
    EXPECT_EQ("abcdef", BytesOf(records[1], DataHeaderSize));
    EXPECT_EQ(6u, ContextOf(tcp)->bytesReceived);
}

TEST_F(DataCallsTest, ZeroByteReceiveClosesAStreamButIsADatagram)
{
    char space[8];
    WSABUF buffer = {8, space};
    for (DWORD level : {Low, Medium}) {
        SCOPED_TRACE(level);
        Trace(level);
        DWORD received = 0xdeadbeef, flags = 0;
        ASSERT_EQ(0, table.lpWSPRecv(tcp, &buffer, 1, &received, &flags, nullptr, nullptr,
                                     nullptr, &error));
        ASSERT_EQ(0, table.lpWSPRecv(udp, &buffer, 1, &received, &flags, nullptr, nullptr,
                                     nullptr, &error));
        auto records = viewer.Records();
        std::vector<std::string> expected = {
            "socket (" + N(udp) + ") received a datagram that is 0 bytes"};
        if (level == Low) {
            expected = {""};
        } else {
            expected.insert(expected.begin(),
                            {"socket (" + N(tcp) + ") receiving data synchronously [len=8]",
                             "socket (" + N(tcp) +
                                 ") did not receive any data, closed gracefully by peer",
                             "socket (" + N(udp) +
                                 ") receiving a datagram synchronously from its default address "
                                 "[len=8]"});
        }
        ASSERT_EQ(expected, TextsOf(records));
        EXPECT_EQ(RecordDataReceived, records.back().Kind());
        EXPECT_EQ(0u, records.back().Word(2));
    }
}

TEST_F(DataCallsTest, DatagramTextsShowPartialFlagSenderAndDestination)
{
    Trace(Medium);
    base->dataLength = 3;
    base->receiveFlags = MSG_PARTIAL;
    base->source = Loopback(5000);
    char space[3];
    WSABUF buffer = {3, space};
    DWORD received = 0, flags = 0;
    sockaddr_in from = {};
    int fromLength = sizeof(from);
    ASSERT_EQ(0, table.lpWSPRecvFrom(udp, &buffer, 1, &received, &flags,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength, nullptr,
                                     nullptr, nullptr, &error));
    flags = 0;   // an in-out cell: the partial flag came back in it
    ASSERT_EQ(0, table.lpWSPRecv(udp, &buffer, 1, &received, &flags, nullptr, nullptr, nullptr,
                                 &error));
    sockaddr_in to = Loopback(9);
    DWORD sent = 0;
    ASSERT_EQ(0, table.lpWSPSendTo(udp, &buffer, 1, &sent, MSG_DONTROUTE,
                                   reinterpret_cast<sockaddr*>(&to), sizeof(to), nullptr, nullptr,
                                   nullptr, &error));
    ASSERT_EQ(0, table.lpWSPSendTo(tcp, &buffer, 1, &sent, 0, reinterpret_cast<sockaddr*>(&to),
                                   sizeof(to), nullptr, nullptr, nullptr, &error));
    std::vector<std::string> expected = {
        "socket (" + N(udp) + ") receiving a datagram synchronously [len=3]",
        "socket (" + N(udp) +
            ") received a datagram that is 3 bytes [flags=MSG_PARTIAL, from=127.0.0.1:5000]",
        "socket (" + N(udp) + ") receiving a datagram synchronously from its default address [len=3]",
        "socket (" + N(udp) + ") received a datagram that is 3 bytes [flags=MSG_PARTIAL]",
        "socket (" + N(udp) +
            ") sending a datagram synchronously [len=3, flags=MSG_DONTROUTE, to=127.0.0.1:9]",
        "socket (" + N(udp) + ") sent a datagram that is 3 bytes",
        "socket (" + N(tcp) + ") sending data synchronously [len=3]",
        "socket (" + N(tcp) + ") sent 3 bytes of data",
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
}

TEST_F(DataCallsTest, FailuresAndUnknownSockets)
{
    char space[4];
    WSABUF buffer = {4, space};
    DWORD count = 0, flags = 0;
    sockaddr_in to = Loopback(9);
    auto* toAddress = reinterpret_cast<sockaddr*>(&to);

    Trace(Low);
    base->transferError = WSAEWOULDBLOCK;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, &buffer, 1, &count, &flags, nullptr, nullptr,
                                            nullptr, &error));
    EXPECT_EQ(WSAEWOULDBLOCK, error);
    EXPECT_TRUE(viewer.Records().empty()) << "failures have no text at Low";

    Trace(Medium);
    ContextOf(tcp)->blocking = 0;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(tcp, &buffer, 1, &count, &flags, nullptr, nullptr,
                                            nullptr, &error));
    base->transferError = WSAECONNRESET;
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPSend(udp, &buffer, 1, &count, 0, nullptr, nullptr,
                                            nullptr, &error));
    EXPECT_EQ(WSAECONNRESET, error);
    int lowerCalls = base->transferCalls;
    error = static_cast<int>(0xdeadbeef);
    EXPECT_EQ(SOCKET_ERROR, table.lpWSPRecv(UnknownHandle, &buffer, 1, &count, &flags, nullptr,
                                            nullptr, nullptr, &error));
    EXPECT_EQ(WSAENOTSOCK, error);
    table.lpWSPRecvFrom(UnknownHandle, &buffer, 1, &count, &flags, nullptr, nullptr, nullptr,
                        nullptr, nullptr, &error);
    table.lpWSPSend(UnknownHandle, &buffer, 1, &count, 0, nullptr, nullptr, nullptr, &error);
    table.lpWSPSendTo(UnknownHandle, &buffer, 1, &count, 0, toAddress, sizeof(to), nullptr,
                      nullptr, nullptr, &error);
    EXPECT_EQ(lowerCalls, base->transferCalls) << "an unknown socket never reaches below";

    char scratch[3][32];
    std::string wouldBlock = ErrorText(WSAEWOULDBLOCK, scratch[0]);
    std::string reset = ErrorText(WSAECONNRESET, scratch[1]);
    std::string notSocket = ErrorText(WSAENOTSOCK, scratch[2]);
    std::string t = N(tcp), u = N(udp), x = N(UnknownHandle);
    std::vector<std::string> expected = {
        "socket (" + t + ") receiving data synchronously without blocking [len=4]",
        "socket (" + t + ") could not receive data - " + wouldBlock,
        "socket (" + u + ") sending a datagram synchronously to its default address [len=4]",
        "socket (" + u + ") could not send a datagram - " + reset,
        "socket (" + x + ") could not either receive data or receive a datagram from it default "
                         "address [len=4] - " + notSocket,
        "socket (" + x + ") could not either receive data or receive a datagram [len=4] - " +
            notSocket,
        "socket (" + x + ") could not either send data or send a datagram to its default address "
                         "[len=4] - " + notSocket,
        "socket (" + x + ") could not either send data or send a datagram [len=4, "
                         "to=127.0.0.1:9] - " + notSocket,
    };
    EXPECT_EQ(expected, TextsOf(viewer.Records()));
}

TEST_F(DataCallsTest, TransmitFileReports)
{
    SocketContext* context = ContextOf(tcp);
    OVERLAPPED overlapped = {};
    overlapped.Offset = 7;
    TRANSMIT_FILE_BUFFERS heads = {nullptr, 3, nullptr, 4};
    Trace(Medium);
    ReportTransmitFileStart(context, reinterpret_cast<HANDLE>(0x2a), 5000, 0, nullptr, nullptr, 0);
    context->flags = WSA_FLAG_OVERLAPPED;
    ReportTransmitFileStart(context, reinterpret_cast<HANDLE>(0x2a), 5000, 100, &overlapped,
                            &heads, TF_DISCONNECT | TF_REUSE_SOCKET);
    ReportTransmitFileResult(TRUE, tcp, -1, 0);
    ReportTransmitFileResult(FALSE, tcp, 0, WSAENOTCONN);
    ReportTransmitFileResult(TRUE, tcp, 5000, 0);
    char scratch[32];
    std::string t = N(tcp);
    std::vector<std::string> expected = {
        "socket (" + t + ") transmitting file data synchronously [hFile=2A, "
                         "nNumberOfFileBytesToWrite=5000, nNumberOfBytesPerSend=0, "
                         "lpOverlapped=NULL, lpTransmitBuffers=NULL]",
        "socket (" + t + ") transmitting file data asynchronously [hFile=2A, "
                         "nNumberOfFileBytesToWrite=5000, nNumberOfBytesPerSend=100, "
                         "lpOverlapped->Offset=7, lpOverlapped->OffsetHigh=0, "
                         "lpTransmitBuffers->HeadLength=3, lpTransmitBuffers->TailLength=4, "
                         "dwFlags=TF_DISCONNECT|TF_REUSE_SOCKET]",
        "socket (" + t + ") transmitted an undetermined amount of file data",
        "socket (" + t + ") could not transmit file data - " + ErrorText(WSAENOTCONN, scratch),
        "socket (" + t + ") transmitted 5000 bytes of file data",
    };
    auto records = viewer.Records();
    EXPECT_EQ(expected, TextsOf(records));
    // The file's bytes are never captured: a counter record at every level.
    for (DWORD level : {Low, High}) {
        Trace(level);
        ReportTransmitFileResult(TRUE, tcp, 5000, 0);
        ReportTransmitFileResult(TRUE, tcp, -1, 0);
        records = viewer.Records();
        ASSERT_EQ(level == Low ? 1u : 2u, records.size());
        EXPECT_EQ(RecordDataSent, records[0].Kind());
        EXPECT_EQ(5000u, records[0].Word(2));
        EXPECT_EQ(DataHeaderSize, records[0].PayloadLength());
        EXPECT_EQ(level != Low, records[0].HasText());
    }
}

TEST_F(DataCallsTest, NothingIsSentWithoutAViewer)
{
    StopTracing();
    char data[4] = "abc";
    WSABUF buffer = {3, data};
    DWORD count = 0, flags = 0;
    ASSERT_EQ(0, table.lpWSPSend(tcp, &buffer, 1, &count, 0, nullptr, nullptr, nullptr, &error));
    ASSERT_EQ(0, table.lpWSPRecv(udp, &buffer, 1, &count, &flags, nullptr, nullptr, nullptr,
                                 &error));
    EXPECT_TRUE(viewer.Records().empty());
    EXPECT_EQ(3u, ContextOf(tcp)->bytesSent) << "the totals are kept all the same";
}
