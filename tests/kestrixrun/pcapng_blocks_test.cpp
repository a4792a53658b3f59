// The pieces of kestrixrun's pcapng files: the blocks and options byte for byte, the IP packets
// against hand-built ones with their checksums, the address texts of the layer's records read
// into endpoints, and the forms of the layer's texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Endpoint.h"
#include "IpPackets.h"
#include "PcapngRead.h"
#include "PcapngWriter.h"
#include "RecordTexts.h"

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += char(value);
    return bytes;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i++) {
        if (i && i % 4 == 0)
            text += ' ';
        text += digits[uint8_t(bytes[i]) >> 4];
        text += digits[uint8_t(bytes[i]) & 15];
    }
    return text;
}

TEST(PcapngWriter, BlocksAndOptionsByteForByte)
{
    std::string out;
    AppendSectionHeaderBlock(out, "K", "abc");
    EXPECT_EQ(Hex(Bytes({0x0A, 0x0D, 0x0D, 0x0A, 0x30, 0, 0, 0,                        // type, total 48
                         0x4D, 0x3C, 0x2B, 0x1A, 1, 0, 0, 0,                            // magic, version 1.0
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,                // length unknown
                         1, 0, 3, 0, 'a', 'b', 'c', 0,                                  // comment, padded
                         4, 0, 1, 0, 'K', 0, 0, 0,                                      // shb_userappl
                         0, 0, 0, 0, 0x30, 0, 0, 0})),                                  // end, total
              Hex(out))
        << "section header";

    out.clear();
    AppendInterfaceBlock(out, LinkTypeRawIp, RawIpSnapLength, "kx", "");
    EXPECT_EQ(Hex(Bytes({1, 0, 0, 0, 0x20, 0, 0, 0, 101, 0, 0, 0, 0xFF, 0xFF, 0, 0,  // raw IP, snap 65535
                         2, 0, 2, 0, 'k', 'x', 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0})),    // if_name; no description
              Hex(out))
        << "interface";

    out.clear();
    const std::string data = Bytes({0x45, 1, 2, 3, 4});
    const std::string comment = "hi!";
    CapturedPacket packet;
    packet.microseconds = 0x0000000100000002ull;
    packet.data = reinterpret_cast<const uint8_t*>(data.data());
    packet.capturedLength = 5;
    packet.originalLength = 9;
    packet.comment = &comment;
    AppendEnhancedPacketBlock(out, packet);
    EXPECT_EQ(Hex(Bytes({6, 0, 0, 0, 0x34, 0, 0, 0, 0, 0, 0, 0,       // type, total 52, interface 0
                         1, 0, 0, 0, 2, 0, 0, 0,                     // timestamp high, low
                         5, 0, 0, 0, 9, 0, 0, 0,                     // captured, original
                         0x45, 1, 2, 3, 4, 0, 0, 0,                  // data, padded
                         1, 0, 3, 0, 'h', 'i', '!', 0, 0, 0, 0, 0,   // comment, end
                         0x34, 0, 0, 0})),
              Hex(out))
        << "enhanced packet with a comment and padding";

    out.clear();
    packet.capturedLength = packet.originalLength = 4;
    packet.comment = nullptr;
    AppendEnhancedPacketBlock(out, packet);
    EXPECT_EQ(Hex(Bytes({6, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0,
                         0x45, 1, 2, 3, 0x24, 0, 0, 0})),
              Hex(out))
        << "no comment: no options at all, not even their end";

    out.clear();
    const std::string longComment(70000, 'x');
    packet.comment = &longComment;
    AppendEnhancedPacketBlock(out, packet);
    ASSERT_EQ(out.size() % 4, 0u);
    EXPECT_EQ(0xFFFC, uint8_t(out[34]) | uint8_t(out[35]) << 8) << "a comment longer than an option holds is cut";
}

TEST(IpPackets, HandBuiltPacketsAndChecksums)
{
    Endpoint from, to;
    ASSERT_TRUE(ParseEndpointText("10.0.0.1:1024", 13, from));
    ASSERT_TRUE(ParseEndpointText("10.0.0.2:80", 11, to));
    TcpSegment segment;
    segment.sequence = 1;
    segment.acknowledgement = 2;
    segment.flags = TcpAck | TcpPush;
    segment.data = reinterpret_cast<const uint8_t*>("hi");
    segment.length = 2;
    std::string out;
    AppendTcpPacket(out, from, to, segment);
    EXPECT_EQ(Hex(Bytes({0x45, 0, 0, 42, 0, 0, 0x40, 0, 128, 6, 0xE6, 0xCB, 10, 0, 0, 1, 10, 0, 0, 2,
                         4, 0, 0, 80, 0, 0, 0, 1, 0, 0, 0, 2, 0x50, 0x18, 0xFF, 0xFF, 0x2F, 0x0C, 0, 0, 'h', 'i'})),
              Hex(out))
        << "IPv4 and TCP headers, don't-fragment, both checksums";

    Endpoint v6from, v6to;
    ASSERT_TRUE(ParseEndpointText("[::1]:5353", 10, v6from));
    ASSERT_TRUE(ParseEndpointText("[2001:db8::1]:53", 16, v6to));
    out.clear();
    EXPECT_EQ(51u, AppendUdpPacket(out, v6from, v6to, reinterpret_cast<const uint8_t*>("abc"), 3, 3));
    EXPECT_EQ(Hex(Bytes({0x60, 0, 0, 0, 0, 11, 17, 128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                         0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                         0x14, 0xE9, 0, 53, 0, 11, 0xF8, 0x9C, 'a', 'b', 'c'})),
              Hex(out))
        << "IPv6 and UDP";

    // every length around the odd and the largest, each packet checked by the tests' reader
    const std::string payload(70000, '\xA5');
    for (IpVersion version : {IpVersion::V4, IpVersion::V6}) {
        const Endpoint& a = version == IpVersion::V4 ? from : v6from;
        const Endpoint& b = version == IpVersion::V4 ? to : v6to;
        for (size_t length : {size_t(0), size_t(1), size_t(2), size_t(1023), MaxTcpPayload(version)}) {
            segment.data = reinterpret_cast<const uint8_t*>(payload.data());
            segment.length = length;
            segment.flags = length ? TcpAck : TcpSyn;
            out.clear();
            AppendTcpPacket(out, a, b, segment);
            EXPECT_LE(out.size(), 65535u + (version == IpVersion::V6 ? 40 : 0));
            std::string file;
            AppendSectionHeaderBlock(file, "", "");
            AppendInterfaceBlock(file, LinkTypeRawIp, RawIpSnapLength, "", "");
            CapturedPacket captured;
            captured.data = reinterpret_cast<const uint8_t*>(out.data());
            captured.capturedLength = captured.originalLength = uint32_t(out.size());
            AppendEnhancedPacketBlock(file, captured);
            PcapngFile read = ReadPcapng(file);
            ASSERT_EQ("", read.error) << length;
            ASSERT_EQ(1u, read.packets.size());
            EXPECT_TRUE(read.packets[0].checksumsValid) << "TCP of " << length << " bytes, IPv" << int(version) * 2;
            EXPECT_EQ(length, read.packets[0].payload.size());
        }
    }
    EXPECT_EQ(65495u, MaxTcpPayload(IpVersion::V4));
    EXPECT_EQ(65515u, MaxTcpPayload(IpVersion::V6));

    out.clear();
    AppendUdpPacket(out, from, to, reinterpret_cast<const uint8_t*>("abcdef"), 2, 6);
    EXPECT_EQ(30u, out.size()) << "a datagram not whole in the trace: only what it carried";
    EXPECT_EQ(14, uint8_t(out[24]) << 8 | uint8_t(out[25])) << "its length field counts the whole datagram";
    EXPECT_EQ(0, out[26] | out[27]) << "and no checksum over bytes nobody saw";
}

TEST(Endpoint, AddressTextsOfTheLayer)
{
    const struct {
        const char* text;
        bool parses;
        const char* shown;   // EndpointText of the result
        bool hasAddress;
        uint16_t port;
    } cases[] = {
        {"127.0.0.1:37257", true, "127.0.0.1:37257", true, 37257},
        {"127.0.0.1", true, "127.0.0.1", true, 0},
        {"0.0.0.0:8080", true, "0.0.0.0:8080", false, 8080},
        {"0.0.0.0", true, "0.0.0.0", false, 0},
        {"[::1]:35919", true, "[::1]:35919", true, 35919},
        {"::1", true, "::1", true, 0},
        {"::", true, "::", false, 0},
        {"[fe80::1%3]:80", true, "[fe80::1]:80", true, 80},
        {"fe80::2%12", true, "fe80::2", true, 0},
        {"[2001:db8:0:0:1:0:0:1]:443", true, "[2001:db8::1:0:0:1]:443", true, 443},
        {"::ffff:192.168.0.1", true, "::ffff:c0a8:1", true, 0},
        {"[1:2:3:4:5:6:7:8]:1", true, "[1:2:3:4:5:6:7:8]:1", true, 1},
        {"'invalid socket address'", false, "", false, 0},
        {"127.0.0.", false, "", false, 0},
        {"127.0.0.1:", false, "", false, 0},
        {"127.0.0.1:65536", false, "", false, 0},
        {"1.2.3.256", false, "", false, 0},
        {"1.2.3", false, "", false, 0},
        {"[::1", false, "", false, 0},
        {"[::1]x", false, "", false, 0},
        {"1:2:3:4:5:6:7:8:9", false, "", false, 0},
        {"1::2::3", false, "", false, 0},
        {"12345::", false, "", false, 0},
        {"localhost:80", false, "", false, 0},
        {"", false, "", false, 0},
    };
    for (const auto& c : cases) {
        Endpoint endpoint;
        endpoint.port = 4242;   // untouched by a failure
        bool parsed = ParseEndpointText(c.text, strlen(c.text), endpoint);
        EXPECT_EQ(c.parses, parsed) << c.text;
        if (!parsed) {
            EXPECT_EQ(4242, endpoint.port) << c.text;
            continue;
        }
        EXPECT_EQ(c.shown, EndpointText(endpoint)) << c.text;
        EXPECT_EQ(c.hasAddress, endpoint.hasAddress) << c.text;
        EXPECT_EQ(c.port, endpoint.port) << c.text;
    }

    Endpoint bound, named, v6;
    ParseEndpointText("0.0.0.0:80", 10, bound);
    ParseEndpointText("127.0.0.1", 9, named);
    ParseEndpointText("::1", 3, v6);
    EXPECT_TRUE(MayBeSameEndpoint(bound, named));
    MergeEndpoint(bound, named);
    EXPECT_EQ("127.0.0.1:80", EndpointText(bound)) << "the merge takes the address one names and the port of the other";
    MergeEndpoint(bound, v6);
    EXPECT_EQ("127.0.0.1:80", EndpointText(bound)) << "nothing from another version";
    EXPECT_FALSE(MayBeSameEndpoint(bound, v6));
    EXPECT_TRUE(IsLoopbackAddress(v6));
}

TEST(RecordTexts, TheFormsOfTheLayersTexts)
{
    const struct {
        const char* text;
        TextMeaning meaning;
        uint32_t socket, other;
        const char* address;
    } cases[] = {
        {"socket (132) created [family=AF_INET6, type=SOCK_DGRAM, protocol=IPPROTO_IP, dwFlags=WSA_FLAG_OVERLAPPED]",
         TextMeaning::Created, 132, 0, nullptr},
        {"socket (132) accepted a connection on new socket (168)", TextMeaning::Accepted, 132, 168, nullptr},
        {"socket (132) accepted a connection on new socket (168) [addr=[::1]:4000]", TextMeaning::Accepted, 132,
         168, "[::1]:4000"},
        {"socket (132) accepted a connection on existing socket (148) [addr=127.0.0.1:37711]",
         TextMeaning::AcceptedOnExisting, 132, 148, "127.0.0.1:37711"},
        {"socket (132) accepted a connection on existing socket (148) [addr='invalid socket address']",
         TextMeaning::AcceptedOnExisting, 132, 148, "'invalid socket address'"},
        {"socket (132) bound [name=127.0.0.1]", TextMeaning::Bound, 132, 0, "127.0.0.1"},
        {"socket (132) established for listening [backlog=5]", TextMeaning::Listening, 132, 0, nullptr},
        {"socket (156) connecting synchronously [name=127.0.0.1:37257]", TextMeaning::Connecting, 156, 0,
         "127.0.0.1:37257"},
        {"socket (148) connecting synchronously without blocking [name=127.0.0.1:1]", TextMeaning::Connecting, 148, 0,
         "127.0.0.1:1"},
        {"socket (188) connecting asynchronously [name=[::1]:35849]", TextMeaning::Connecting, 188, 0, "[::1]:35849"},
        {"socket (148) connecting asynchronously [name=127.0.0.1:42747], result will not be displayed",
         TextMeaning::Connecting, 148, 0, "127.0.0.1:42747"},
        {"socket (156) connected", TextMeaning::Connected, 156, 0, nullptr},
        {"socket (148) could not connect - WSAEWOULDBLOCK (A non-blocking socket operation could not be completed "
         "immediately)",
         TextMeaning::ConnectWouldBlock, 148, 0, nullptr},
        {"socket (152) could not connect - WSAECONNREFUSED (No connection could be made)", TextMeaning::ConnectFailed,
         152, 0, nullptr},
        {"socket (132) set its default address for sending and receiving [name=127.0.0.1:48299]",
         TextMeaning::DefaultAddress, 132, 0, "127.0.0.1:48299"},
        {"socket (132) determined its local name [name=[::1]:48317]", TextMeaning::LocalName, 132, 0, "[::1]:48317"},
        {"socket (168) determined its peer's name [name=127.0.0.1:36514]", TextMeaning::PeerName, 168, 0,
         "127.0.0.1:36514"},
        {"socket (132) sending a datagram synchronously [len=37, flags=MSG_DONTROUTE, to=[::1]:41992]",
         TextMeaning::SendingDatagramTo, 132, 0, "[::1]:41992"},
        {"socket (132) sending a datagram synchronously to its default address [len=40]",
         TextMeaning::SendingToDefault, 132, 0, nullptr},
        {"socket (156) sent 43 bytes of data", TextMeaning::StreamData, 156, 0, nullptr},
        {"socket (148) transmitted 10010 bytes of file data", TextMeaning::StreamData, 148, 0, nullptr},
        {"socket (132) sent a datagram that is 200 bytes", TextMeaning::DatagramData, 132, 0, nullptr},
        {"socket (148) received a datagram that is 37 bytes [from=127.0.0.1:52188]", TextMeaning::DatagramFrom, 148,
         0, "127.0.0.1:52188"},
        {"socket (148) received a datagram that is 9 bytes [flags=MSG_PARTIAL, from=[::1]:5]",
         TextMeaning::DatagramFrom, 148, 0, "[::1]:5"},
        {"socket (148) received a datagram that is 40 bytes", TextMeaning::DatagramData, 148, 0, nullptr},
        {"socket (156) disabled its sends", TextMeaning::SendsDisabled, 156, 0, nullptr},
        {"socket (156) disabled its sends and receives", TextMeaning::SendsDisabled, 156, 0, nullptr},
        {"socket (156) disabled its receives", TextMeaning::None, 0, 0, nullptr},
        {"socket (168) did not receive any data, closed gracefully by peer", TextMeaning::ClosedByPeer, 168, 0,
         nullptr},
        {"socket (-2147483647) connected", TextMeaning::Connected, 0x80000001u, 0, nullptr},
        {"socket (12x) connected", TextMeaning::None, 0, 0, nullptr},
        {"socket () connected", TextMeaning::None, 0, 0, nullptr},
        {"socket (132) bound [name=127.0.0.", TextMeaning::None, 0, 0, nullptr},
        {"socket (7) said <odd> things", TextMeaning::None, 0, 0, nullptr},
        {"", TextMeaning::None, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        TextFacts facts = ReadRecordText(c.text, strlen(c.text));
        EXPECT_EQ(int(c.meaning), int(facts.meaning)) << c.text;
        EXPECT_EQ(c.socket, facts.socket) << c.text;
        EXPECT_EQ(c.other, facts.other) << c.text;
        EXPECT_EQ(c.address ? std::string(c.address) : std::string("(none)"),
                  facts.address ? std::string(facts.address, facts.addressLength) : std::string("(none)"))
            << c.text;
    }
    const char created[] = "socket (9) created [family=AF_INET6, type=SOCK_STREAM, protocol=IPPROTO_TCP]";
    TextFacts facts = ReadRecordText(created, strlen(created));
    EXPECT_EQ(int(TextFamily::IPv6), int(facts.family));
    EXPECT_EQ(int(TextSocketType::Stream), int(facts.type));
    const char irda[] = "socket (9) created [family=AF_IRDA, type=SOCK_RAW, protocol=0]";
    facts = ReadRecordText(irda, strlen(irda));
    EXPECT_EQ(int(TextFamily::Other), int(facts.family));
    EXPECT_EQ(int(TextSocketType::Other), int(facts.type));
    const char attached[] = "process attached, command line='a.exe \"b c\"'";
    facts = ReadRecordText(attached, strlen(attached));
    EXPECT_EQ(int(TextMeaning::ProcessAttached), int(facts.meaning));
    EXPECT_EQ("a.exe \"b c\"", std::string(facts.commandLine, facts.commandLineLength));
}

}  // namespace
