// IPv4 and IPv6 packets carrying one TCP segment or one UDP datagram, with every checksum
// computed, as a raw-IP capture holds them. Both endpoints must name an address and a port of
// one version. Pure byte code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "Endpoint.h"

enum TcpFlag : uint8_t {
    TcpFin = 0x01,
    TcpSyn = 0x02,
    TcpPush = 0x08,
    TcpAck = 0x10,
};

struct TcpSegment {
    uint32_t sequence = 0;
    uint32_t acknowledgement = 0;
    uint8_t flags = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// The most data one segment or datagram carries without the packet passing IP's 65535-byte
// length field (IPv4's total length, IPv6's payload length).
size_t MaxTcpPayload(IpVersion version);
size_t MaxUdpPayload(IpVersion version);

// A SYN carries the largest segment size and the window scale option, so that segments and the
// window can cover any record's bytes.
void AppendTcpPacket(std::string& out, const Endpoint& from, const Endpoint& to, const TcpSegment& segment);

// A datagram of datagramLength bytes of which the first length are at data; the packet is
// appended up to those. A datagram not whole in the trace gets no checksum (zero), since its
// missing bytes are not known. Returns the packet's whole length.
size_t AppendUdpPacket(std::string& out, const Endpoint& from, const Endpoint& to, const uint8_t* data,
                       size_t length, size_t datagramLength);

// The Internet checksum (ones' complement of the ones' complement sum) of the bytes, added to
// a sum begun elsewhere; exposed for tests.
uint16_t InternetChecksum(const uint8_t* bytes, size_t length, uint32_t sum = 0);
