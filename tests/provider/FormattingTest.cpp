// Names and texts of socket values: every table, the engines, and the argument texts.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <string>
#include "Formatting.h"
#include "SocketContext.h"

static std::string Number(LONG value)
{
    char buffer[NumberBufferSize];
    return FormatNumber(value, buffer);
}

TEST(FormatNumberTest, WritesSignedDecimal)
{
    const struct {
        DWORD value;
        const char* expected;
    } cases[] = {
        {0, "0"}, {260, "260"}, {2147483647u, "2147483647"},
        {0x80000000u, "-2147483648"}, {0xFFFFFFFFu, "-1"}, {3000000000u, "-1294967296"},
    };
    for (const auto& row : cases)
        EXPECT_EQ(row.expected, Number(static_cast<LONG>(row.value))) << "value " << row.value;
}

TEST(NameTablesTest, FamiliesTypesAndProtocols)
{
    const char* families[] = {
        "AF_UNSPEC", "AF_UNIX", "AF_INET", "AF_IMPLINK", "AF_PUP", "AF_CHAOS", "AF_NS", "AF_ISO",
        "AF_ECMA", "AF_DATAKIT", "AF_CCITT", "AF_SNA", "AF_DECnet", "AF_DLI", "AF_LAT",
        "AF_HYLINK", "AF_APPLETALK", "AF_NETBIOS", "AF_VOICEVIEW", "AF_FIREFOX", "AF_UNKNOWN1",
        "AF_BAN", "AF_ATM", "AF_INET6", "AF_CLUSTER", "AF_12844", "AF_IRDA", "27", "AF_NETDES"};
    char scratch[NumberBufferSize];
    for (int family = 0; family < 29; family++)
        EXPECT_STREQ(families[family], AddressFamilyText(family, scratch)) << "family " << family;
    EXPECT_STREQ("29", AddressFamilyText(29, scratch));
    EXPECT_STREQ("-1", AddressFamilyText(-1, scratch));

    const char* types[] = {"0", "SOCK_STREAM", "SOCK_DGRAM", "SOCK_RAW", "SOCK_RDM",
                           "SOCK_SEQPACKET", "6"};
    for (int type = 0; type < 7; type++)
        EXPECT_STREQ(types[type], SocketTypeText(type, scratch)) << "type " << type;

    const struct {
        int protocol;
        const char* name;
    } protocols[] = {{0, "IPPROTO_IP"},  {1, "IPPROTO_ICMP"}, {2, "IPPROTO_IGMP"},
                     {3, "IPPROTO_GGP"}, {6, "IPPROTO_TCP"},  {12, "IPPROTO_PUP"},
                     {17, "IPPROTO_UDP"}, {22, "IPPROTO_IDP"}, {77, "IPPROTO_ND"},
                     {255, "IPPROTO_RAW"}, {58, nullptr},     {4, nullptr}};
    for (const auto& row : protocols) {
        const char* name = ProtocolName(row.protocol);
        if (row.name)
            EXPECT_STREQ(row.name, name) << "protocol " << row.protocol;
        else
            EXPECT_EQ(nullptr, name) << "protocol " << row.protocol << " gave " << name;
    }
    EXPECT_STREQ("58", ProtocolText(58, scratch));
    EXPECT_TRUE(IsStreamType(SOCK_STREAM) && IsStreamType(SOCK_RDM) && IsStreamType(SOCK_SEQPACKET));
    EXPECT_FALSE(IsStreamType(SOCK_DGRAM) || IsStreamType(SOCK_RAW) || IsStreamType(0));
}

TEST(FlagNamesTest, TablesInTheirRowOrder)
{
    const struct {
        const char* name;
        const FlagName* table;
        int count;
        DWORD value;
        const char* expected;
    } cases[] = {
        {"receive", ReceiveFlagNames, ReceiveFlagCount, 0x8002, ", flags=MSG_PEEK|MSG_PARTIAL"},
        {"receive all", ReceiveFlagNames, ReceiveFlagCount, 0x8003,
         ", flags=MSG_PEEK|MSG_OOB|MSG_PARTIAL"},
        {"send", SendFlagNames, SendFlagCount, 0x8005, ", flags=MSG_DONTROUTE|MSG_OOB|MSG_PARTIAL"},
        {"send none", SendFlagNames, SendFlagCount, 0, ""},
        {"send unnamed bits only", SendFlagNames, SendFlagCount, 0x40, ""},
        {"creation", SocketCreationFlagNames, SocketCreationFlagCount, 0x1F,
         ", flags=WSA_FLAG_OVERLAPPED|WSA_FLAG_MULTIPOINT_C_ROOT|WSA_FLAG_MULTIPOINT_C_LEAF|"
         "WSA_FLAG_MULTIPOINT_D_ROOT|WSA_FLAG_MULTIPOINT_D_LEAF"},
        {"transmit", TransmitFileFlagNames, TransmitFileFlagCount, 0x37,
         ", flags=TF_DISCONNECT|TF_REUSE_SOCKET|TF_USE_SYSTEM_THREAD|TF_USE_KERNEL_APC|"
         "TF_WRITE_BEHIND"},
    };
    for (const auto& row : cases) {
        char text[FormatBufferSize] = "";
        AppendFlagNames(text, row.table, row.count, ", flags=", row.value, FALSE);
        EXPECT_STREQ(row.expected, text) << row.name;
    }
    char events[FormatBufferSize] = "[";
    AppendEventNames(events, 0x3FF);
    EXPECT_STREQ("[, lEvent=FD_READ|FD_WRITE|FD_OOB|FD_ACCEPT|FD_CONNECT|FD_CLOSE|FD_QOS|"
                 "FD_GROUP_QOS|FD_ROUTING_INTERFACE_CHANGE|FD_ADDRESS_LIST_CHANGE",
                 events);
    char none[FormatBufferSize] = "";
    AppendEventNames(none, 0);
    EXPECT_STREQ(", lEvent=0", none);
}

TEST(CreationExtraTest, GroupThenFlags)
{
    const struct {
        GROUP group;
        DWORD flags;
        const char* expected;
    } cases[] = {
        {0, 0, ""},
        {1, 0, ", g=SG_UNCONSTRAINED_GROUP"},
        {2, WSA_FLAG_OVERLAPPED, ", g=SG_CONSTRAINED_GROUP, dwFlags=WSA_FLAG_OVERLAPPED"},
        {77, 0, ", g=77"},
        {0, 0x80, ""},
    };
    for (const auto& row : cases) {
        char text[FormatBufferSize];
        memset(text, 'x', sizeof(text));
        FormatSocketCreationExtra(text, row.group, row.flags);
        EXPECT_STREQ(row.expected, text) << "group " << row.group << " flags " << row.flags;
    }
}

TEST(ErrorTextTest, EveryRowAndTheUnknownCode)
{
    const struct {
        int code;
        const char* expected;
    } telling[] = {
        {10035, "WSAEWOULDBLOCK (A non-blocking socket operation could not be completed immediately)"},
        {10054, "WSAECONNRESET (An existing connection was forcibly closed by the remote host)"},
        {10055, "WSAENOBUFS (An operation on a socket could not be performed because the system "
                "lacked sufficient buffer space or because a queue was full)"},
        {10106, "WSAEPROVIDERFAILEDINIT (The requested service provider could not be loaded or "
                "initialized)"},
        {10024, "WSAEMFILE (Too many open sockets)"},
        {10062, "WSAELOOP (Cannot translate name)"},
        {10068, "WSAEUSERS (Ran out of quota)"},
        {11024, "WSA_QOS_EUNKOWNPSOBJ (An unrecognized object was found in the QOS "
                "provider-specific buffer)"},
        {10110, "WSA_E_NO_MORE (No more results can be returned by WSALookupServiceNext)"},
        {12345, "12345 (\?\?\?)"},
        {0, "0 (\?\?\?)"},
        {-5, "-5 (\?\?\?)"},
    };
    char scratch[32];
    for (const auto& row : telling)
        EXPECT_STREQ(row.expected, ErrorText(row.code, scratch)) << "code " << row.code;

    const struct {
        int first, last;
    } ranges[] = {{10035, 10071}, {10101, 10112}, {11001, 11031}};
    int known = 0;
    for (int code : {10004, 10009, 10013, 10014, 10022, 10024, 10091, 10092, 10093})
        known += ErrorText(code, scratch) != scratch;
    for (const auto& range : ranges) {
        for (int code = range.first; code <= range.last; code++) {
            const char* text = ErrorText(code, scratch);
            EXPECT_NE(text, scratch) << "code " << code << " has no row";
            known += text != scratch;
            std::string row = text;
            EXPECT_EQ(')', row.back()) << row;
            EXPECT_NE('.', row[row.size() - 2]) << "no final full stop: " << row;
            EXPECT_EQ(0u, row.find("WSA")) << row;
        }
    }
    EXPECT_EQ(89, known);
    EXPECT_EQ(std::string(ErrorText(10102, scratch)).substr(11),
              std::string(ErrorText(10110, scratch)).substr(14))
        << "10110 repeats the description of 10102";
    EXPECT_EQ(scratch, ErrorText(10072, scratch)) << "gaps between the ranges have no row";
}

TEST(SockOptArgsTest, NamesKindsAndLengths)
{
    linger lingerValue = {1, 30};
    int four = 4, one = 1, big = 65536;
    char trueByte[4] = {1, 0, 0, 0};
    const struct {
        int level, option;
        const void* value;
        const int* length;
        const char* expected;
    } cases[] = {
        {SOL_SOCKET, SO_LINGER, &lingerValue, &four,
         "[level=SOL_SOCKET, optname=SO_LINGER, l_onoff=1, l_linger=30, optlen=4]"},
        {IPPROTO_TCP, 1, &one, &four, "[level=IPPROTO_TCP, optname=1, optlen=4]"},
        {41, 27, &one, &four, "[level=41, optname=27, optlen=4]"},
        {SOL_SOCKET, SO_REUSEADDR, trueByte, &four,
         "[level=SOL_SOCKET, optname=SO_REUSEADDR, optval=true, optlen=4]"},
        {SOL_SOCKET, SO_OOBINLINE, "\0\0\0", &four,
         "[level=SOL_SOCKET, optname=SO_OOBLINE, optval=false, optlen=4]"},
        {SOL_SOCKET, SO_RCVBUF, &big, &four,
         "[level=SOL_SOCKET, optname=SO_RCVBUF, optval=65536, optlen=4]"},
        {SOL_SOCKET, SO_MAX_MSG_SIZE, &big, &four,
         "[level=SOL_SOCKET, optname=SO_MAX_MSG_SIZE, optval=65536, optlen=4]"},
        {SOL_SOCKET, SO_GROUP_ID, &big, &four, "[level=SOL_SOCKET, optname=SO_GROUP_ID, optlen=4]"},
        {SOL_SOCKET, static_cast<int>(~SO_LINGER), trueByte, &four,
         "[level=SOL_SOCKET, optname=SO_DONTLINGER, optval=true, optlen=4]"},
        {SOL_SOCKET, 0x700B, &big, &four,
         "[level=SOL_SOCKET, optname=SO_UPDATE_ACCEPT_CONTEXT, optval=65536, optlen=4]"},
        {SOL_SOCKET, 0x4242, &big, &four, "[level=SOL_SOCKET, optname=16962, optlen=4]"},
        {IPPROTO_IP, 9, &big, &four, "[level=IPPROTO_IP, optname=IP_MULTICAST_IF, optlen=4]"},
        {IPPROTO_IP, 4, &big, &four, "[level=IPPROTO_IP, optname=IP_TTL, optval=65536, optlen=4]"},
        {IPPROTO_TCP, 2, trueByte, &four,
         "[level=IPPROTO_TCP, optname=TCP_EXPEDITED_1122, optval=true, optlen=4]"},
        {IPPROTO_UDP, 1, trueByte, &four,
         "[level=IPPROTO_UDP, optname=UDP_NOCHECKSUM, optval=true, optlen=4]"},
        {SOL_SOCKET, SO_SNDBUF, nullptr, &four, "[level=SOL_SOCKET, optname=SO_SNDBUF, optlen=4]"},
        {SOL_SOCKET, SO_SNDBUF, &big, nullptr, "[level=SOL_SOCKET, optname=SO_SNDBUF, optval=65536]"},
    };
    for (const auto& row : cases) {
        char text[FormatBufferSize];
        FormatSockOptArgs(text, row.level, row.option, static_cast<const char*>(row.value),
                          row.length);
        EXPECT_STREQ(row.expected, text) << "level " << row.level << " option " << row.option;
    }
}

TEST(DataArgsTest, LengthsFlagsAndDestinations)
{
    char bytes[100];
    WSABUF buffers[2] = {{60, bytes}, {40, bytes + 60}};
    DWORD peek = MSG_PEEK;
    char text[FormatBufferSize];

    FormatRecvArgs(text, buffers, 2, &peek);
    EXPECT_STREQ("[len=100, flags=MSG_PEEK]", text);
    FormatRecvArgs(text, buffers, 2, nullptr);
    EXPECT_STREQ("[len=100]", text);

    // The second entry lies on a page that cannot be read: only the first counts.
    BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    DWORD oldProtection;
    VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &oldProtection);
    auto* edge = reinterpret_cast<WSABUF*>(pages + 4096 - sizeof(WSABUF));
    edge->len = 7;
    FormatRecvArgs(text, edge, 2, &peek);
    EXPECT_STREQ("[len=7, flags=MSG_PEEK]", text);

    FormatSendArgs(text, buffers, 2, MSG_OOB, TRUE);
    EXPECT_STREQ("[len=100, flags=MSG_OOB]", text);
    FormatSendArgs(text, buffers, 1, 0, FALSE);
    EXPECT_STREQ("[len=60", text);

    SocketContext stream = {};
    stream.socketType = SOCK_STREAM;
    SocketContext datagram = {};
    datagram.socketType = SOCK_DGRAM;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(5001);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FormatSendToArgs(text, buffers, 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to), &stream);
    EXPECT_STREQ("[len=100]", text);
    FormatSendToArgs(text, buffers, 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to), &datagram);
    EXPECT_STREQ("[len=100, to=127.0.0.1:5001]", text);
    FormatSendToArgs(text, buffers, 2, 0, reinterpret_cast<sockaddr*>(pages + 4096), sizeof(to),
                     &datagram);
    EXPECT_STREQ("[len=100, to='invalid socket address']", text);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(SockAddrTest, TemplatesAndTheirFallbacks)
{
    sockaddr_in6 address6 = {};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(80);
    address6.sin6_addr.s6_addr[15] = 1;
    char text[FormatBufferSize];
    FormatSockAddr(text, NameAddressFormat, NameAddressInvalid,
                   reinterpret_cast<sockaddr*>(&address6), sizeof(address6));
    EXPECT_STREQ("[name=[::1]:80]", text);
    FormatSockAddr(text, AcceptAddressFormat, AcceptAddressInvalid, nullptr, 16);
    EXPECT_STREQ(" [addr='invalid socket address']", text);
    sockaddr_in garbage = {};
    garbage.sin_family = 4242;
    FormatSockAddr(text, FromAddressFormat, FromAddressInvalid,
                   reinterpret_cast<sockaddr*>(&garbage), sizeof(garbage));
    EXPECT_STREQ("from='invalid socket address'", text);
}

TEST(TransmitFileArgsTest, EveryPart)
{
    OVERLAPPED overlapped = {};
    overlapped.Offset = 10;
    overlapped.OffsetHigh = 2;
    TRANSMIT_FILE_BUFFERS buffers = {nullptr, 5, nullptr, 6};
    char text[FormatBufferSize];
    FormatTransmitFileArgs(text, reinterpret_cast<HANDLE>(0x1AB), 1000, 0, nullptr, nullptr, 0);
    EXPECT_STREQ("[hFile=1AB, nNumberOfFileBytesToWrite=1000, nNumberOfBytesPerSend=0, "
                 "lpOverlapped=NULL, lpTransmitBuffers=NULL]",
                 text);
    FormatTransmitFileArgs(text, reinterpret_cast<HANDLE>(0xC), 0, 4096, &overlapped, &buffers,
                           TF_DISCONNECT | TF_REUSE_SOCKET);
    EXPECT_STREQ("[hFile=C, nNumberOfFileBytesToWrite=0, nNumberOfBytesPerSend=4096, "
                 "lpOverlapped->Offset=10, lpOverlapped->OffsetHigh=2, "
                 "lpTransmitBuffers->HeadLength=5, lpTransmitBuffers->TailLength=6, "
                 "dwFlags=TF_DISCONNECT|TF_REUSE_SOCKET]",
                 text);
    FormatTransmitFileArgs(text, nullptr, 0, 0, reinterpret_cast<OVERLAPPED*>(8),
                           reinterpret_cast<void*>(8), 0);
    EXPECT_STREQ("[hFile=0, nNumberOfFileBytesToWrite=0, nNumberOfBytesPerSend=0]", text)
        << "unreadable structures are left out";
}
