// The blocks of a pcapng file as kestrixrun writes them: one section, one interface, and an
// enhanced packet block with a comment for each packet. Written in this machine's byte order
// (little-endian), which the section's byte-order magic tells readers. Pure byte code: no window
// or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Each packet starts with its IPv4 or IPv6 header; the version field says which.
const uint16_t LinkTypeRawIp = 101;
// No IP packet is longer.
const uint32_t RawIpSnapLength = 65535;

// The section header: its length is left unknown, so the file can be written as it grows.
// application names the program that wrote the file (shb_userappl); both texts UTF-8.
void AppendSectionHeaderBlock(std::string& out, const std::string& application, const std::string& comment);

// An interface; its timestamps are in microseconds, the format's default resolution.
void AppendInterfaceBlock(std::string& out, uint16_t linkType, uint32_t snapLength, const std::string& name,
                          const std::string& description);

struct CapturedPacket {
    uint32_t interfaceId = 0;
    uint64_t microseconds = 0;       // since 1970-01-01 00:00:00 UTC
    const uint8_t* data = nullptr;
    uint32_t capturedLength = 0;     // the bytes at data
    uint32_t originalLength = 0;     // the packet's whole length; at least capturedLength
    const std::string* comment = nullptr;   // UTF-8; none when null or empty
};

void AppendEnhancedPacketBlock(std::string& out, const CapturedPacket& packet);
