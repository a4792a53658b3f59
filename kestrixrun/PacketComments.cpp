#include "PacketComments.h"

#include <cstdio>
#include <cstring>

namespace {

const char ApplicationFormat[] = "Kestrix %s kestrixrun (%s)";
const char SectionCommentFormat[] = "the socket calls of process %lu as Kestrix traced them; command line: %s";
const char UnknownCommandLine[] = "(not in the trace)";
const char InterfaceDescriptionFormat[] =
    "the sockets of process %lu, each conversation as its socket calls describe it";
const char TracedSocketFormat[] = "socket (%ld)";
const char PeerOfSocketText[] = "its peer";
const char PeerText[] = "the peer";
const char CommentFormat[] = "%s to %s";
const char ProcessPrefixFormat[] = "process %lu: ";
const char NoteSeparator[] = "; ";
// By [address missing][port missing].
const char* const TracedSubjects[2][2] = {
    {nullptr, "the port of socket (%ld)"},
    {"the address of socket (%ld)", "the address and port of socket (%ld)"},
};
const char* const PeerSubjects[2][2] = {
    {nullptr, "the peer's port"},
    {"the peer's address", "the peer's address and port"},
};
const char StandInFormat[] = "%s not in the trace: %s stands in";
const char GuessedVersionFormat[] = "the family of socket (%ld) not in the trace: taken as IPv4";
const char GuessedTypeFormat[] = "the type of socket (%ld) not in the trace: taken as %s";
const char* const ProtocolNames[2] = {"UDP", "TCP"};
const char GapFormat[] = "%llu bytes before this segment counted in the trace but not carried";
const char PartialDatagramFormat[] = "%zu of the datagram's %zu bytes in the trace";

const uint8_t OwnIPv4Block = 240, PeerIPv4Block = 241;
// Not 0, which Wireshark takes for "no port yet" when it follows a stream; high, so that the
// other end's port picks the dissector.
const uint16_t StandInPort = 65535;
const uint8_t IPv6DiscardPrefix[8] = {0x01, 0x00, 0, 0, 0, 0, 0, 0};

// The socket as the layer writes it: its handle as a signed number.
long SocketNumber(uint32_t socket)
{
    return long(int32_t(socket));
}

void AddNote(std::string& comment, const char* note)
{
    comment += NoteSeparator;
    comment += note;
}

std::string EndText(const PacketEnd& end, const char* untraced)
{
    if (!end.traced)
        return untraced;
    char text[32];
    snprintf(text, sizeof text, TracedSocketFormat, SocketNumber(end.socket));
    return text;
}

}  // namespace

const char* const InterfaceName = "kestrix";

std::string ApplicationText(const char* version, const char* bitness)
{
    char text[128];
    snprintf(text, sizeof text, ApplicationFormat, version, bitness);
    return text;
}

std::string SectionComment(uint32_t processId, const std::string& commandLine)
{
    const std::string& shown = commandLine.empty() ? std::string(UnknownCommandLine) : commandLine;
    std::string text(sizeof SectionCommentFormat + 16 + shown.size(), '\0');
    int length = snprintf(text.data(), text.size(), SectionCommentFormat, static_cast<unsigned long>(processId),
                          shown.c_str());
    text.resize(size_t(length));
    return text;
}

std::string InterfaceDescription(uint32_t processId)
{
    char text[160];
    snprintf(text, sizeof text, InterfaceDescriptionFormat, static_cast<unsigned long>(processId));
    return text;
}

std::string PacketComment(const PacketEnd& from, const PacketEnd& to)
{
    char text[96];
    std::string fromText = EndText(from, PeerText), toText = EndText(to, PeerOfSocketText);
    snprintf(text, sizeof text, CommentFormat, fromText.c_str(), toText.c_str());
    return text;
}

std::string ProcessPrefix(uint32_t processId)
{
    char text[32];
    snprintf(text, sizeof text, ProcessPrefixFormat, static_cast<unsigned long>(processId));
    return text;
}

void AddStandInNote(std::string& comment, const PacketEnd& end, bool addressMissing, bool portMissing,
                    const Endpoint& standIn)
{
    if (!addressMissing && !portMissing)
        return;
    char subject[64], note[160];
    const char* subjectFormat = (end.traced ? TracedSubjects : PeerSubjects)[addressMissing][portMissing];
    snprintf(subject, sizeof subject, subjectFormat, SocketNumber(end.socket));
    snprintf(note, sizeof note, StandInFormat, subject, EndpointText(standIn).c_str());
    AddNote(comment, note);
}

void AddGuessedVersionNote(std::string& comment, uint32_t socket)
{
    char note[96];
    snprintf(note, sizeof note, GuessedVersionFormat, SocketNumber(socket));
    AddNote(comment, note);
}

void AddGuessedTypeNote(std::string& comment, uint32_t socket, bool stream)
{
    char note[96];
    snprintf(note, sizeof note, GuessedTypeFormat, SocketNumber(socket), ProtocolNames[stream]);
    AddNote(comment, note);
}

void AddGapNote(std::string& comment, uint64_t bytes)
{
    char note[96];
    snprintf(note, sizeof note, GapFormat, static_cast<unsigned long long>(bytes));
    AddNote(comment, note);
}

void AddPartialDatagramNote(std::string& comment, size_t carried, size_t whole)
{
    char note[96];
    snprintf(note, sizeof note, PartialDatagramFormat, carried, whole);
    AddNote(comment, note);
}

Endpoint WithStandIns(const Endpoint& named, IpVersion version, const PacketEnd& end, uint32_t nearSocket)
{
    Endpoint endpoint = named;
    if (endpoint.version != version)
        endpoint = Endpoint();
    endpoint.version = version;
    if (endpoint.Complete())
        return endpoint;
    // a missing port takes the address with it, so that two sockets' stand-ins never meet
    bool peer = !end.traced;
    uint32_t socket = peer ? nearSocket : end.socket;
    memset(endpoint.address, 0, sizeof endpoint.address);
    size_t at;
    if (version == IpVersion::V6) {
        memcpy(endpoint.address, IPv6DiscardPrefix, sizeof IPv6DiscardPrefix);
        endpoint.address[9] = peer ? 1 : 0;   // 100::1:0:x:y for a peer
        endpoint.address[12] = uint8_t(socket >> 24);
        at = 13;
    } else {
        endpoint.address[0] = peer ? PeerIPv4Block : OwnIPv4Block;
        at = 1;
    }
    endpoint.address[at] = uint8_t(socket >> 16);
    endpoint.address[at + 1] = uint8_t(socket >> 8);
    endpoint.address[at + 2] = uint8_t(socket);
    endpoint.hasAddress = true;
    if (!endpoint.port)
        endpoint.port = StandInPort;
    return endpoint;
}
