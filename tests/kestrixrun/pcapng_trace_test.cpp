// Traces turned into pcapng files, read back by the tests' own reader: the records are the
// layer's own texts and data, in the orders the samples give them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PcapngRead.h"
#include "PcapngTrace.h"

namespace {

const uint64_t Start = 1700000000000000ull;   // microseconds since 1970
const uint32_t ProcessId = 42;

struct Step {
    Step(TraceKind kind, uint32_t socket, std::string text, uint32_t count = 0, std::string data = "")
        : kind(kind), socket(socket), text(std::move(text)), count(count), data(std::move(data))
    {
    }
    TraceKind kind;
    uint32_t socket;
    std::string text;
    uint32_t count;
    std::string data;
};

Step Text(const std::string& text)
{
    return {TraceKind::Message, 0, text};
}

Step Created(uint32_t socket, const std::string& text)
{
    return {TraceKind::SocketCreated, socket, text};
}

Step Closed(uint32_t socket)
{
    return {TraceKind::SocketClosed, socket, "socket (" + std::to_string(socket) + ") closed"};
}

Step Sent(uint32_t socket, const std::string& data, const std::string& text = "", uint32_t count = 0)
{
    return {TraceKind::DataSent, socket, text, count ? count : uint32_t(data.size()), data};
}

Step Received(uint32_t socket, const std::string& data, const std::string& text = "", uint32_t count = 0)
{
    return {TraceKind::DataReceived, socket, text, count ? count : uint32_t(data.size()), data};
}

std::string Stream(uint32_t socket)
{
    return "socket (" + std::to_string(socket) + ") created [family=AF_INET, type=SOCK_STREAM, protocol=IPPROTO_TCP]";
}

std::string Datagram(uint32_t socket)
{
    return "socket (" + std::to_string(socket) + ") created [family=AF_INET, type=SOCK_DGRAM, protocol=IPPROTO_UDP]";
}

// Step i arrives at i milliseconds.
uint64_t TimeOf(size_t step)
{
    return Start + step * 1000;
}

PcapngFile Convert(const std::vector<Step>& steps, bool attach = true)
{
    PcapngTrace trace(Start, "Kestrix test");
    std::string out;
    std::vector<Step> all;
    if (attach)
        all.push_back({TraceKind::ProcessAttached, 0, "process attached, command line='demo.exe --fast'"});
    all.insert(all.end(), steps.begin(), steps.end());
    for (size_t i = 0; i < all.size(); i++) {
        const Step& step = all[i];
        TraceRecord record;
        record.seconds = double(TimeOf(i) - Start) / 1e6;
        record.processId = ProcessId;
        record.kind = step.kind;
        record.hasSocket = step.kind >= TraceKind::SocketCreated && step.kind <= TraceKind::DataReceived;
        record.socket = step.socket;
        record.hasCount = step.kind == TraceKind::DataSent || step.kind == TraceKind::DataReceived;
        record.count = step.count;
        if (!step.text.empty()) {
            record.text = step.text.c_str();
            record.textLength = step.text.size();
        }
        if (!step.data.empty()) {
            record.data = reinterpret_cast<const uint8_t*>(step.data.data());
            record.dataLength = step.data.size();
        }
        trace.Record(record, out);
    }
    trace.Finish(out);
    return ReadPcapng(out);
}

// One line per packet: "FLAGS from > to seq=S ack=A len=L", sequence numbers counted from each
// direction's SYN as a reader shows them.
std::vector<std::string> Lines(const PcapngFile& file)
{
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, uint32_t>> bases;   // source, its first sequence number
    for (const PcapngPacket& packet : file.packets) {
        std::string line = packet.protocol == 6 ? FlagsText(packet.flags) : "UDP";
        line += " " + packet.source + " > " + packet.destination;
        if (packet.protocol == 6) {
            uint32_t own = 0, other = 0;
            bool ownFound = false, otherFound = false;
            if (packet.flags & 0x02)
                bases.push_back({packet.source, packet.sequence});
            for (const auto& base : bases) {
                if (base.first == packet.source && !ownFound) {
                    own = base.second;
                    ownFound = true;
                }
                if (base.first == packet.destination && !otherFound) {
                    other = base.second;
                    otherFound = true;
                }
            }
            line += " seq=" + std::to_string(packet.sequence - own);
            if (packet.flags & 0x10)
                line += " ack=" + std::to_string(packet.acknowledgement - other);
        }
        line += " len=" + std::to_string(packet.payload.size());
        lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// Every packet of the file well formed, with valid checksums and a comment naming the process.
void ExpectSound(const PcapngFile& file)
{
    ASSERT_EQ("", file.error);
    EXPECT_EQ(101, file.linkType);
    EXPECT_EQ("Kestrix test", file.application);
    for (size_t i = 0; i < file.packets.size(); i++) {
        EXPECT_TRUE(file.packets[i].checksumsValid) << "packet " << i + 1;
        EXPECT_EQ(0u, file.packets[i].comment.rfind("process 42: ", 0)) << file.packets[i].comment;
    }
}

std::string Pattern(size_t length, int seed)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; i++)
        bytes[i] = char(i * 7 + size_t(seed));
    return bytes;
}

TEST(PcapngTrace, ALoopbackPairIsOneConversationWithSequenceNumbersThatFollowTheBytes)
{
    const std::string request = Pattern(10, 1), bulk = Pattern(70000, 2), reply = Pattern(5, 3);
    PcapngFile file = Convert({
        Created(100, Stream(100)),
        Text("socket (100) bound [name=127.0.0.1]"),
        Text("socket (100) established for listening [backlog=5]"),
        Text("socket (100) determined its local name [name=127.0.0.1:5000]"),
        Created(104, Stream(104)),
        Text("socket (104) connecting synchronously [name=127.0.0.1:5000]"),
        Text("socket (104) connected"),                                    // step 7: the handshake
        Sent(104, request, "socket (104) sent 10 bytes of data"),          // 8
        Sent(104, bulk, "socket (104) sent 70000 bytes of data"),          // 9
        Text("socket (104) disabled its sends"),                           // 10
        // accepted after the client's data, as a blocking accept often is
        Created(108, "socket (100) accepted a connection on new socket (108) [addr=127.0.0.1:40000]"),
        Received(108, request + bulk.substr(0, 29990), "socket (108) received 30000 bytes of data"),
        Received(108, bulk.substr(29990), "socket (108) received 40010 bytes of data"),
        Text("socket (108) did not receive any data, closed gracefully by peer"),
        Sent(108, reply, "socket (108) sent 5 bytes of data"),             // 15
        Received(104, reply, "socket (104) received 5 bytes of data"),
        Closed(108),                                                       // 17
        Text("socket (104) did not receive any data, closed gracefully by peer"),
        Closed(104),
        Closed(100),
        {TraceKind::ProcessDetached, 0, "process detached"},
    });
    ExpectSound(file);
    const std::string c = "127.0.0.1:40000", s = "127.0.0.1:5000";
    EXPECT_EQ(Joined({
                  "SYN " + c + " > " + s + " seq=0 len=0",
                  "SYN ACK " + s + " > " + c + " seq=0 ack=1 len=0",
                  "ACK " + c + " > " + s + " seq=1 ack=1 len=0",
                  "ACK PSH " + c + " > " + s + " seq=1 ack=1 len=10",
                  "ACK " + c + " > " + s + " seq=11 ack=1 len=65495",
                  "ACK PSH " + c + " > " + s + " seq=65506 ack=1 len=4505",
                  "FIN ACK " + c + " > " + s + " seq=70011 ack=1 len=0",
                  "ACK " + s + " > " + c + " seq=1 ack=70012 len=0",
                  "ACK PSH " + s + " > " + c + " seq=1 ack=70012 len=5",
                  "FIN ACK " + s + " > " + c + " seq=6 ack=70012 len=0",
                  "ACK " + c + " > " + s + " seq=70012 ack=7 len=0",
              }),
              Joined(Lines(file)));
    ASSERT_EQ(11u, file.packets.size());
    EXPECT_EQ(request, file.packets[3].payload);
    EXPECT_EQ(bulk, file.packets[4].payload + file.packets[5].payload);
    EXPECT_EQ(reply, file.packets[8].payload);
    EXPECT_EQ("process 42: socket (104) to socket (108)", file.packets[0].comment);
    EXPECT_EQ("process 42: socket (108) to socket (104)", file.packets[1].comment);
    const size_t recordOf[] = {7, 7, 7, 8, 9, 9, 10, 10, 15, 17, 17};
    for (size_t i = 0; i < file.packets.size(); i++)
        EXPECT_EQ(TimeOf(recordOf[i]), file.packets[i].microseconds) << "packet " << i + 1 << ": its record's time";
    EXPECT_EQ("the socket calls of process 42 as Kestrix traced them; command line: demo.exe --fast",
              file.sectionComment);
}

TEST(PcapngTrace, OneEndTracedOverIPv6WithGapsAShutdownAndAStandIn)
{
    const std::string first = Pattern(100, 4), capped = Pattern(1500, 5), last = Pattern(7, 6), answer = Pattern(30, 7);
    PcapngFile file = Convert({
        Created(200, "socket (200) created [family=AF_INET6, type=SOCK_STREAM, protocol=IPPROTO_TCP]"),
        Text("socket (200) connecting synchronously [name=[2001:db8::5]:443]"),
        Text("socket (200) connected"),
        Sent(200, first, "socket (200) sent 100 bytes of data"),
        Sent(200, "", "socket (200) transmitted 5000 bytes of file data", 5000),   // counted, not carried
        Sent(200, capped, "socket (200) sent 2000 bytes of data", 2000),           // past the size cap
        Sent(200, last, "socket (200) sent 7 bytes of data"),
        Text("socket (200) disabled its sends"),
        Received(200, answer, "socket (200) received 30 bytes of data"),
        Text("socket (200) did not receive any data, closed gracefully by peer"),
        Closed(200),
    });
    ExpectSound(file);
    const std::string c = "[100:0:0:0:0:0:0:c8]:65535", s = "[2001:db8:0:0:0:0:0:5]:443";
    EXPECT_EQ(Joined({
                  "SYN " + c + " > " + s + " seq=0 len=0",
                  "SYN ACK " + s + " > " + c + " seq=0 ack=1 len=0",
                  "ACK " + c + " > " + s + " seq=1 ack=1 len=0",
                  "ACK PSH " + c + " > " + s + " seq=1 ack=1 len=100",
                  "ACK PSH " + c + " > " + s + " seq=5101 ack=1 len=1500",
                  "ACK PSH " + c + " > " + s + " seq=7101 ack=1 len=7",
                  "FIN ACK " + c + " > " + s + " seq=7108 ack=1 len=0",
                  "ACK " + s + " > " + c + " seq=1 ack=7109 len=0",
                  "ACK PSH " + s + " > " + c + " seq=1 ack=7109 len=30",
                  "FIN ACK " + s + " > " + c + " seq=31 ack=7109 len=0",
                  "ACK " + c + " > " + s + " seq=7109 ack=32 len=0",
              }),
              Joined(Lines(file)));
    ASSERT_EQ(11u, file.packets.size());
    for (const PcapngPacket& packet : file.packets)
        EXPECT_EQ(6, packet.ipVersion);
    const std::string standIn = "the address and port of socket (200) not in the trace: [100::c8]:65535 stands in";
    EXPECT_EQ("process 42: socket (200) to its peer; " + standIn, file.packets[3].comment);
    EXPECT_EQ("process 42: socket (200) to its peer; " + standIn +
                  "; 5000 bytes before this segment counted in the trace but not carried",
              file.packets[4].comment);
    EXPECT_EQ("process 42: socket (200) to its peer; " + standIn +
                  "; 500 bytes before this segment counted in the trace but not carried",
              file.packets[5].comment);
    EXPECT_EQ("process 42: the peer to socket (200); " + standIn, file.packets[8].comment);
    EXPECT_EQ(capped, file.packets[4].payload);
}

TEST(PcapngTrace, ABytesOnlyAtTheReceiverFillTheSendersCount)
{
    // TransmitFile counts its bytes; the receiving end of the same process carries them
    const std::string file1 = Pattern(3000, 8);
    PcapngFile file = Convert({
        Created(100, Stream(100)),
        Text("socket (100) bound [name=127.0.0.1:7000]"),
        Text("socket (100) established for listening [backlog=5]"),
        Created(104, Stream(104)),
        Text("socket (104) connecting synchronously [name=127.0.0.1:7000]"),
        Text("socket (104) connected"),
        Created(108, "socket (100) accepted a connection on new socket (108)"),
        Sent(104, "", "socket (104) transmitted 3000 bytes of file data", 3000),
        Received(108, file1.substr(0, 1000), "socket (108) received 1000 bytes of data"),
        Received(108, file1.substr(1000), "socket (108) received 2000 bytes of data"),
        Closed(104),
        Text("socket (108) did not receive any data, closed gracefully by peer"),
        Closed(108),
    });
    ExpectSound(file);
    std::string carried;
    for (const PcapngPacket& packet : file.packets)
        carried += packet.payload;
    EXPECT_EQ(file1, carried) << Joined(Lines(file));
    EXPECT_EQ("process 42: socket (104) to socket (108); the address and port of socket (104) not in the trace: "
              "240.0.0.104:65535 stands in",
              file.packets.at(3).comment);
}

TEST(PcapngTrace, ConnectsWaitingTogetherGoToTheAcceptWhoseBytesAgree)
{
    PcapngFile file = Convert({
        Created(100, Stream(100)),
        Text("socket (100) bound [name=0.0.0.0:5000]"),
        Text("socket (100) established for listening [backlog=5]"),
        Created(104, Stream(104)),
        Created(108, Stream(108)),
        Created(120, Stream(120)),
        Created(124, Stream(124)),
        Text("socket (104) connecting synchronously [name=127.0.0.1:5000]"),
        Text("socket (108) connecting synchronously [name=127.0.0.1:5000]"),
        Text("socket (104) connected"),
        Text("socket (108) connected"),
        Text("socket (100) accepted a connection on existing socket (120) [addr=127.0.0.1:40008]"),
        Text("socket (100) accepted a connection on existing socket (124) [addr=127.0.0.1:40004]"),
        Sent(104, "from 104", "socket (104) sent 8 bytes of data"),
        Sent(108, "from 108", "socket (108) sent 8 bytes of data"),
        Received(124, "from 104", "socket (124) received 8 bytes of data"),
        Received(120, "from 108", "socket (120) received 8 bytes of data"),
        Sent(120, "to 108", "socket (120) sent 6 bytes of data"),
        Sent(124, "to 104", "socket (124) sent 6 bytes of data"),
        Received(108, "to 108", "socket (108) received 6 bytes of data"),
        Received(104, "to 104", "socket (104) received 6 bytes of data"),
        // the accepted end's count goes on from what it received while it chose
        Sent(104, "", "socket (104) transmitted 4 bytes of file data", 4),
        Received(124, "more", "socket (124) received 4 bytes of data"),
        Closed(104), Closed(108), Closed(120), Closed(124), Closed(100),
    });
    ExpectSound(file);
    std::vector<std::string> byConversation(2);
    for (const PcapngPacket& packet : file.packets) {
        bool first = packet.source == "127.0.0.1:40004" || packet.destination == "127.0.0.1:40004";
        EXPECT_TRUE(first || packet.source == "127.0.0.1:40008" || packet.destination == "127.0.0.1:40008")
            << packet.source << " > " << packet.destination;
        byConversation[first ? 0 : 1] += packet.payload;
        if (packet.source == "127.0.0.1:40004") {
            EXPECT_EQ("127.0.0.1:5000", packet.destination) << "the listener's port, the connect's address";
        }
    }
    EXPECT_EQ("from 104to 104more", byConversation[0]);
    EXPECT_EQ("from 108to 108", byConversation[1]);
    // each: the handshake, a segment each way, and the two FINs with their ACKs; one more segment
    EXPECT_EQ(2 * (3 + 2 + 4) + 1, int(file.packets.size())) << Joined(Lines(file));
}

TEST(PcapngTrace, DatagramsShowOnceWithTheirRealSourceAndDestination)
{
    PcapngFile file = Convert({
        Created(300, Datagram(300)),
        Created(304, Datagram(304)),
        Text("socket (304) bound [name=127.0.0.1:6000]"),
        Text("socket (300) sending a datagram synchronously [len=5, to=127.0.0.1:6000]"),
        Sent(300, "hello", "socket (300) sent a datagram that is 5 bytes"),                         // 5
        Received(304, "hello", "socket (304) received a datagram that is 5 bytes [from=127.0.0.1:51000]"),
        Text("socket (304) sending a datagram synchronously [len=3, to=127.0.0.1:51000]"),
        // the receive's record before the send's
        Received(300, "ack", "socket (300) received a datagram that is 3 bytes [from=127.0.0.1:6000]"),   // 8
        Sent(304, "ack", "socket (304) sent a datagram that is 3 bytes"),
        Text("socket (300) sending a datagram synchronously [len=4, to=192.0.2.9:53]"),
        Sent(300, "ask?", "socket (300) sent a datagram that is 4 bytes"),                           // 11
        Received(300, "answer", "socket (300) received a datagram that is 6 bytes [from=192.0.2.9:53]"),
        Text("socket (304) sending a datagram synchronously [len=4, to=127.0.0.1:6001]"),
        Sent(304, "lost", "socket (304) sent a datagram that is 4 bytes"),                           // 14
        Text("socket (300) set its default address for sending and receiving [name=127.0.0.1:6000]"),
        Text("socket (300) sending a datagram synchronously to its default address [len=7]"),
        Sent(300, "default", "socket (300) sent a datagram that is 7 bytes"),                        // 17
        Received(304, "def", "socket (304) received a datagram that is 3 bytes [flags=MSG_PARTIAL, from=127.0.0.1:51000]"),
        Text("socket (300) sending a datagram synchronously [len=6, to=127.0.0.1:6000]"),
        Sent(300, "unread", "socket (300) sent a datagram that is 6 bytes"),                         // 20
        Closed(304),
        Closed(300),
    });
    ExpectSound(file);
    EXPECT_EQ(Joined({
                  "UDP 127.0.0.1:51000 > 127.0.0.1:6000 len=5",
                  "UDP 127.0.0.1:6000 > 127.0.0.1:51000 len=3",
                  "UDP 127.0.0.1:51000 > 192.0.2.9:53 len=4",
                  "UDP 192.0.2.9:53 > 127.0.0.1:51000 len=6",
                  "UDP 127.0.0.1:6000 > 127.0.0.1:6001 len=4",
                  "UDP 127.0.0.1:51000 > 127.0.0.1:6000 len=7",
                  "UDP 127.0.0.1:51000 > 127.0.0.1:6000 len=6",
              }),
              Joined(Lines(file)));
    ASSERT_EQ(7u, file.packets.size());
    const char* const comments[] = {
        "process 42: socket (300) to socket (304)", "process 42: socket (304) to socket (300)",
        "process 42: socket (300) to its peer",     "process 42: the peer to socket (300)",
        "process 42: socket (304) to its peer",     "process 42: socket (300) to socket (304)",
        "process 42: socket (300) to socket (304)",
    };
    const size_t recordOf[] = {5, 8, 11, 12, 14, 17, 20};
    for (size_t i = 0; i < 7; i++) {
        EXPECT_EQ(comments[i], file.packets[i].comment) << i + 1;
        EXPECT_EQ(TimeOf(recordOf[i]), file.packets[i].microseconds) << i + 1;
    }
    EXPECT_EQ("default", file.packets[5].payload) << "the sender's bytes, not the receiver's part";
}

TEST(PcapngTrace, CutAndUnknownTextsNeverStopTheFile)
{
    PcapngFile file = Convert(
        {
            Sent(7, "abcd"),   // no created record, no text
            Text("socket (9) sending a datagram synchronously [len=3, to='invalid socket address']"),
            Sent(9, "xyz", "socket (9) sent a datagram that is 3 bytes"),
            Text("socket (11) bound [name=127.0.0."),
            Text("socket ("),
            {TraceKind::Message, 0, ""},
            {TraceKind::SocketCreated, 13, ""},
            Received(13, "0123456789", "", 100),   // more counted than carried, at the end
            Received(15, "q", "socket (15) received a datagram that is 1 bytes [from=banana]"),
            Created(17, "socket (17) created [family=AF_IRDA, type=SOCK_RAW, protocol=0]"),
            Sent(17, "raw"),
            Sent(19, "", "socket (19) sent a datagram that is 70000 bytes", 70000),
            Closed(21),
        },
        false);
    ExpectSound(file);
    EXPECT_EQ("the socket calls of process 42 as Kestrix traced them; command line: (not in the trace)",
              file.sectionComment);
    std::string comments;
    for (const PcapngPacket& packet : file.packets)
        comments += packet.comment + "\n";
    EXPECT_NE(std::string::npos,
              comments.find("process 42: socket (7) to its peer; the address and port of socket (7) not in the "
                            "trace: 240.0.0.7:65535 stands in; the family of socket (7) not in the trace: taken as IPv4; "
                            "the type of socket (7) not in the trace: taken as TCP; the peer's address and port not "
                            "in the trace: 241.0.0.7:65535 stands in"))
        << comments;
    EXPECT_NE(std::string::npos, comments.find("process 42: socket (9) to its peer; the address and port of socket (9)"))
        << comments;
    EXPECT_NE(std::string::npos, comments.find("the type of socket (9) not in the trace: taken as UDP")) << comments;
    EXPECT_NE(std::string::npos,
              comments.find("process 42: the peer to socket (15); the peer's address and port not in the trace: "
                            "241.0.0.15:65535 stands in; the address and port of socket (15) not in the trace: "
                            "240.0.0.15:65535 stands in"))
        << comments;
    EXPECT_NE(std::string::npos, comments.find("0 of the datagram's 70000 bytes in the trace")) << comments;
    std::string bytes;
    for (const PcapngPacket& packet : file.packets)
        bytes += packet.payload;
    EXPECT_EQ("abcdxyz0123456789q", bytes) << "every carried byte, none invented\n" << comments;
}

TEST(PcapngTrace, ACaptureWithoutDataIsAValidFile)
{
    PcapngFile file = Convert({Created(5, Stream(5)), Closed(5), {TraceKind::ProcessDetached, 0, "process detached"}});
    ExpectSound(file);
    EXPECT_TRUE(file.packets.empty());
    EXPECT_EQ("kestrix", file.interfaceName);

    PcapngTrace nothing(Start, "Kestrix test");
    std::string out;
    nothing.Finish(out);
    PcapngFile empty = ReadPcapng(out);
    EXPECT_EQ("", empty.error);
    EXPECT_TRUE(empty.packets.empty());
}

}  // namespace
