// A pcapng file read back by the tests' own reader, written from the format rather than from
// kestrixrun's writer: its section and interface, and each packet decoded down to TCP or UDP,
// with every checksum checked.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PcapngPacket {
    uint64_t microseconds = 0;
    uint32_t capturedLength = 0, originalLength = 0;
    std::string comment;
    int ipVersion = 0;                   // 4 or 6
    std::string source, destination;     // "1.2.3.4:80", "[::1]:80"
    int protocol = 0;                    // 6 TCP, 17 UDP
    uint32_t sequence = 0, acknowledgement = 0;
    uint8_t flags = 0;                   // TCP
    std::string payload;                 // what the packet carries
    bool checksumsValid = false;         // IPv4 header, TCP or UDP (a UDP checksum of 0 counts as none)
    bool udpChecksumAbsent = false;
};

struct PcapngFile {
    std::string error;                   // empty when the whole file read well
    std::string application, sectionComment;
    uint16_t linkType = 0;
    std::string interfaceName;
    std::vector<PcapngPacket> packets;
};

PcapngFile ReadPcapng(const std::string& bytes);

// A TCP packet's flags as text: "SYN", "SYN ACK", "ACK PSH", "FIN ACK".
std::string FlagsText(uint8_t flags);
