// Where the packets a trace becomes go, once their endpoints are fixed: the pcapng trace builds
// each one's IP packet and block. The comment names the sockets; the output adds the process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "Endpoint.h"
#include "IpPackets.h"

class PacketOutput {
public:
    virtual void Tcp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const TcpSegment& segment,
                     const std::string& comment) = 0;
    // length of the datagram's datagramLength bytes are at data.
    virtual void Udp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const uint8_t* data,
                     size_t length, size_t datagramLength, const std::string& comment) = 0;

protected:
    ~PacketOutput() = default;
};
