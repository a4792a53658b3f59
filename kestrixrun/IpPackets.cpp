#include "IpPackets.h"

#include <cstring>

namespace {

const size_t IPv4HeaderLength = 20;
const size_t IPv6HeaderLength = 40;
const size_t TcpHeaderLength = 20;
const size_t UdpHeaderLength = 8;
const size_t MaxIpLength = 65535;
const uint8_t ProtocolTcp = 6, ProtocolUdp = 17;
const uint8_t HopLimit = 128;             // what Windows sends with
const uint16_t DontFragment = 0x4000;
const uint16_t UnscaledWindow = 0xFFFF;
// A SYN's options: the maximum segment size (kind 2, its value filled in), then the window scale
// (kind 3, a shift of 14) after a no-operation, so that the header stays whole words.
const uint8_t SynOptions[8] = {2, 4, 0, 0, 1, 3, 3, 14};

void Put16(std::string& out, uint16_t value)
{
    out += char(value >> 8);
    out += char(value);
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, uint16_t(value >> 16));
    Put16(out, uint16_t(value));
}

void Store16(std::string& out, size_t at, uint16_t value)
{
    out[at] = char(value >> 8);
    out[at + 1] = char(value);
}

size_t AddressLength(IpVersion version)
{
    return version == IpVersion::V6 ? 16 : 4;
}

size_t IpHeaderLength(IpVersion version)
{
    return version == IpVersion::V6 ? IPv6HeaderLength : IPv4HeaderLength;
}

uint32_t AddToSum(const uint8_t* bytes, size_t length, uint32_t sum)
{
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (length % 2)
        sum += uint32_t(bytes[length - 1] << 8);
    return sum;
}

// The pseudo-header sum that TCP and UDP checksums start from.
uint32_t PseudoHeaderSum(const Endpoint& from, const Endpoint& to, uint8_t protocol, size_t length)
{
    size_t addressLength = AddressLength(from.version);
    uint32_t sum = AddToSum(from.address, addressLength, 0);
    sum = AddToSum(to.address, addressLength, sum);
    return sum + protocol + uint32_t(length >> 16) + uint32_t(length & 0xFFFF);
}

// The IP header for a payload of payloadLength bytes; the IPv4 header checksum included.
void AppendIpHeader(std::string& out, const Endpoint& from, const Endpoint& to, uint8_t protocol,
                    size_t payloadLength)
{
    size_t start = out.size();
    size_t addressLength = AddressLength(from.version);
    if (from.version == IpVersion::V6) {
        Put32(out, 0x60000000);
        Put16(out, uint16_t(payloadLength));
        out += char(protocol);
        out += char(HopLimit);
    } else {
        out += char(0x45);   // version 4, five words of header
        out += char(0);
        Put16(out, uint16_t(IPv4HeaderLength + payloadLength));
        Put16(out, 0);       // identification: unused with don't-fragment
        Put16(out, DontFragment);
        out += char(HopLimit);
        out += char(protocol);
        Put16(out, 0);       // the checksum, below
    }
    out.append(reinterpret_cast<const char*>(from.address), addressLength);
    out.append(reinterpret_cast<const char*>(to.address), addressLength);
    if (from.version == IpVersion::V4)
        Store16(out, start + 10,
                InternetChecksum(reinterpret_cast<const uint8_t*>(out.data()) + start, IPv4HeaderLength));
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* bytes, size_t length, uint32_t sum)
{
    sum = AddToSum(bytes, length, sum);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

size_t MaxTcpPayload(IpVersion version)
{
    size_t ipHeader = version == IpVersion::V6 ? 0 : IPv4HeaderLength;
    return MaxIpLength - ipHeader - TcpHeaderLength;
}

size_t MaxUdpPayload(IpVersion version)
{
    size_t ipHeader = version == IpVersion::V6 ? 0 : IPv4HeaderLength;
    return MaxIpLength - ipHeader - UdpHeaderLength;
}

void AppendTcpPacket(std::string& out, const Endpoint& from, const Endpoint& to, const TcpSegment& segment)
{
    bool syn = segment.flags & TcpSyn;
    size_t tcpLength = TcpHeaderLength + (syn ? sizeof SynOptions : 0) + segment.length;
    out.reserve(out.size() + IpHeaderLength(from.version) + tcpLength);
    AppendIpHeader(out, from, to, ProtocolTcp, tcpLength);
    size_t start = out.size();
    Put16(out, from.port);
    Put16(out, to.port);
    Put32(out, segment.sequence);
    Put32(out, segment.acknowledgement);
    size_t headerWords = (tcpLength - segment.length) / 4;
    out += char(headerWords << 4);
    out += char(segment.flags);
    Put16(out, UnscaledWindow);
    Put16(out, 0);   // the checksum, below
    Put16(out, 0);   // urgent pointer
    if (syn) {
        size_t options = out.size();
        out.append(reinterpret_cast<const char*>(SynOptions), sizeof SynOptions);
        Store16(out, options + 2, uint16_t(MaxTcpPayload(from.version)));
    }
    out.append(reinterpret_cast<const char*>(segment.data), segment.length);
    const uint8_t* tcp = reinterpret_cast<const uint8_t*>(out.data()) + start;
    Store16(out, start + 16, InternetChecksum(tcp, tcpLength, PseudoHeaderSum(from, to, ProtocolTcp, tcpLength)));
}

size_t AppendUdpPacket(std::string& out, const Endpoint& from, const Endpoint& to, const uint8_t* data,
                       size_t length, size_t datagramLength)
{
    size_t udpLength = UdpHeaderLength + datagramLength;
    out.reserve(out.size() + IpHeaderLength(from.version) + UdpHeaderLength + length);
    AppendIpHeader(out, from, to, ProtocolUdp, udpLength);
    size_t start = out.size();
    Put16(out, from.port);
    Put16(out, to.port);
    Put16(out, uint16_t(udpLength));
    Put16(out, 0);   // the checksum, below
    out.append(reinterpret_cast<const char*>(data), length);
    if (length == datagramLength) {
        const uint8_t* udp = reinterpret_cast<const uint8_t*>(out.data()) + start;
        uint16_t checksum = InternetChecksum(udp, udpLength, PseudoHeaderSum(from, to, ProtocolUdp, udpLength));
        // zero means "no checksum": a sum that comes out zero is sent as all ones
        Store16(out, start + 6, checksum ? checksum : 0xFFFF);
    }
    return IpHeaderLength(from.version) + udpLength;
}
