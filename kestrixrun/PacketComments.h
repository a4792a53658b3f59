// The texts a pcapng trace carries: the section's and the interface's descriptions, and each
// packet's comment, which names the traced process and its socket as the trace shows them
// ("socket (204)") and says where a packet holds something the trace did not: a stand-in
// address, a guessed family or type, bytes counted but not carried. Pure text code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "Endpoint.h"

// shb_userappl: "Kestrix 2.10 kestrixrun (64-bit)".
std::string ApplicationText(const char* version, const char* bitness);
std::string SectionComment(uint32_t processId, const std::string& commandLine);
extern const char* const InterfaceName;
std::string InterfaceDescription(uint32_t processId);

// One end of a packet: a traced socket, or the peer of one that is not traced.
struct PacketEnd {
    bool traced;
    uint32_t socket;
};

// "socket (204) to socket (208)", "socket (204) to its peer", "the peer to socket (204)".
std::string PacketComment(const PacketEnd& from, const PacketEnd& to);
// "process 1234: ", which every packet's comment starts with.
std::string ProcessPrefix(uint32_t processId);

// The notes that follow a packet comment, each after "; ".
void AddStandInNote(std::string& comment, const PacketEnd& end, bool addressMissing, bool portMissing,
                    const Endpoint& standIn);
void AddGuessedVersionNote(std::string& comment, uint32_t socket);
void AddGuessedTypeNote(std::string& comment, uint32_t socket, bool stream);
void AddGapNote(std::string& comment, uint64_t bytes);
void AddPartialDatagramNote(std::string& comment, size_t carried, size_t whole);

// An end the trace never named: an address that no real host has, from the socket's number,
// and port 65535. The socket's own end takes 240.x.y.z (IPv4, a reserved block) or 100::x:y
// (IPv6, the discard-only prefix); the peer of a socket whose peer is not traced takes 241.x.y.z
// or 100::1:0:x:y. A port the trace named is kept; an address it named is kept only with its port.
Endpoint WithStandIns(const Endpoint& named, IpVersion version, const PacketEnd& end, uint32_t nearSocket);
