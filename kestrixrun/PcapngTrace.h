// A trace as a pcapng file that Wireshark reads: the records that JSON lines are written from,
// turned into the packets of the traced process's TCP conversations and UDP datagrams on one
// raw-IP interface, each with a comment that names the process and the socket. The section
// header names Kestrix and the traced command line. Pure code: the caller writes the bytes.
#pragma once
#include <cstdint>
#include <string>

#include "HeldPackets.h"
#include "PacketOutput.h"
#include "TcpConversations.h"
#include "TraceRecord.h"
#include "TracedSockets.h"
#include "UdpDatagrams.h"

class PcapngTrace final : private PacketOutput {
public:
    // startMicroseconds: the capture's start, since 1970-01-01 UTC; a record's time is counted
    // from there. application: what the section header names as the file's writer.
    PcapngTrace(uint64_t startMicroseconds, std::string application);

    // Appends to out what the record lets out: the file's first blocks with the first record,
    // then the packets that are settled. May throw std::bad_alloc.
    void Record(const TraceRecord& record, std::string& out);
    // Appends everything still held; the first blocks too when no record came.
    void Finish(std::string& out);

private:
    void WriteHeader(std::string& out);
    void ReadText(const TraceRecord& record, uint64_t microseconds);
    void Data(const TraceRecord& record, uint64_t microseconds);

    void Tcp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const TcpSegment& segment,
             const std::string& comment) override;
    void Udp(uint64_t microseconds, const Endpoint& from, const Endpoint& to, const uint8_t* data, size_t length,
             size_t datagramLength, const std::string& comment) override;
    void WritePacket(uint64_t microseconds, size_t originalLength, const std::string& comment);

    uint64_t startMicroseconds;
    std::string application;
    uint32_t processId = 0;
    std::string processPrefix;   // of every packet's comment
    std::string commandLine;
    bool headerWritten = false;
    std::string* out = nullptr;    // where packets go while a record or the end is handled
    std::string packet, comment;   // scratch, kept for their capacity

    TracedSockets sockets;
    HeldPackets held;
    TcpConversations tcp;
    UdpDatagrams udp;
};
