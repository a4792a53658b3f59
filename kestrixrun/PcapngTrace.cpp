#include "PcapngTrace.h"

#include <cmath>

#include "IpPackets.h"
#include "PacketComments.h"
#include "PcapngWriter.h"
#include "RecordTexts.h"

namespace {

// How much may wait for a loopback connection's other end or a datagram's receiver before the
// oldest packet goes out with what is known.
const size_t HeldItemLimit = 100000;
const size_t HeldByteLimit = 64 * 1024 * 1024;

bool IsDatagramText(TextMeaning meaning)
{
    return meaning == TextMeaning::DatagramData || meaning == TextMeaning::DatagramFrom;
}

}  // namespace

PcapngTrace::PcapngTrace(uint64_t startMicroseconds, std::string application)
    : startMicroseconds(startMicroseconds), application(std::move(application)),
      held(HeldItemLimit, HeldByteLimit), tcp(sockets, held), udp(sockets, held)
{
}

void PcapngTrace::WriteHeader(std::string& to)
{
    AppendSectionHeaderBlock(to, application, SectionComment(processId, commandLine));
    AppendInterfaceBlock(to, LinkTypeRawIp, RawIpSnapLength, InterfaceName, InterfaceDescription(processId));
    headerWritten = true;
}

void PcapngTrace::Record(const TraceRecord& record, std::string& to)
{
    uint64_t microseconds = startMicroseconds + uint64_t(std::llround(std::max(record.seconds, 0.0) * 1e6));
    if (record.processId && !processId) {
        processId = record.processId;
        processPrefix = ProcessPrefix(processId);
    }
    switch (record.kind) {
    case TraceKind::SocketCreated:
    case TraceKind::SocketClosed:
    case TraceKind::Message:
    case TraceKind::ProcessAttached:
        ReadText(record, microseconds);
        break;
    case TraceKind::DataSent:
    case TraceKind::DataReceived:
        Data(record, microseconds);
        break;
    default:
        break;
    }
    if (!headerWritten)
        WriteHeader(to);
    out = &to;
    held.WriteSettled(*this);
    out = nullptr;
}

void PcapngTrace::Finish(std::string& to)
{
    if (!headerWritten)
        WriteHeader(to);
    out = &to;
    held.WriteAll(*this);
    out = nullptr;
}

void PcapngTrace::ReadText(const TraceRecord& record, uint64_t microseconds)
{
    TextFacts facts = ReadRecordText(record.text, record.textLength);
    if (record.kind == TraceKind::SocketClosed) {
        if (record.hasSocket) {
            sockets.Forget(record.socket);
            tcp.Closed(record.socket, microseconds);
            udp.Closed(record.socket);
        }
        return;
    }
    if (record.kind == TraceKind::SocketCreated && facts.meaning != TextMeaning::Created &&
        facts.meaning != TextMeaning::Accepted && record.hasSocket) {
        sockets.Of(record.socket) = TracedSocket();   // a new socket whose text says nothing more
        return;
    }
    switch (facts.meaning) {
    case TextMeaning::ProcessAttached:
        commandLine.assign(facts.commandLine, facts.commandLineLength);
        break;
    case TextMeaning::Created:
        sockets.Created(facts);
        break;
    case TextMeaning::Accepted:
    case TextMeaning::AcceptedOnExisting:
        sockets.Created(facts);
        tcp.Accepted(facts.socket, facts.other, microseconds);
        break;
    case TextMeaning::Listening:
        sockets.Of(facts.socket).listening = true;
        break;
    case TextMeaning::Connecting:
        sockets.NameAddress(facts);
        tcp.Connecting(facts.socket);
        break;
    case TextMeaning::Bound:
    case TextMeaning::LocalName:
    case TextMeaning::PeerName:
    case TextMeaning::DefaultAddress:
        if (sockets.NameAddress(facts)) {
            tcp.NamesChanged(facts.socket);
            udp.NamesChanged(facts.socket);
        }
        break;
    case TextMeaning::SendingDatagramTo:
    case TextMeaning::SendingToDefault:
        sockets.NameAddress(facts);
        break;
    case TextMeaning::Connected:
        tcp.Connected(facts.socket, microseconds);
        break;
    case TextMeaning::ConnectFailed:
        tcp.ConnectFailed(facts.socket);
        break;
    case TextMeaning::SendsDisabled:
        tcp.SendsDisabled(facts.socket, microseconds);
        break;
    case TextMeaning::ClosedByPeer:
        tcp.ClosedByPeer(facts.socket, microseconds);
        break;
    default:
        break;
    }
}

void PcapngTrace::Data(const TraceRecord& record, uint64_t microseconds)
{
    if (!record.hasSocket || !record.hasCount)
        return;
    TextFacts facts = ReadRecordText(record.text, record.textLength);
    const TracedSocket& socket = sockets.ForData(record.socket, IsDatagramText(facts.meaning));
    bool sent = record.kind == TraceKind::DataSent;
    if (socket.type == TextSocketType::Stream) {
        tcp.Data(record.socket, sent, record.count, record.data, record.dataLength, microseconds);
    } else if (socket.type == TextSocketType::Datagram) {
        if (sent) {
            udp.Sent(record.socket, record.count, record.data, record.dataLength, microseconds);
            return;
        }
        Endpoint from;
        bool named = facts.meaning == TextMeaning::DatagramFrom && facts.socket == record.socket &&
                     ParseEndpointText(facts.address, facts.addressLength, from);
        udp.Received(record.socket, named ? &from : nullptr, record.count, record.data, record.dataLength,
                     microseconds);
    }
}

void PcapngTrace::WritePacket(uint64_t microseconds, size_t originalLength, const std::string& text)
{
    comment = processPrefix;
    comment += text;
    CapturedPacket captured;
    captured.microseconds = microseconds;
    captured.data = reinterpret_cast<const uint8_t*>(packet.data());
    captured.capturedLength = uint32_t(packet.size());
    captured.originalLength = uint32_t(originalLength);
    captured.comment = &comment;
    AppendEnhancedPacketBlock(*out, captured);
}

void PcapngTrace::Tcp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const TcpSegment& segment,
                      const std::string& text)
{
    packet.clear();
    AppendTcpPacket(packet, from, to, segment);
    WritePacket(microseconds, packet.size(), text);
}

void PcapngTrace::Udp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const uint8_t* data,
                      size_t length, size_t datagramLength, const std::string& text)
{
    packet.clear();
    size_t whole = AppendUdpPacket(packet, from, to, data, length, datagramLength);
    WritePacket(microseconds, whole, text);
}
