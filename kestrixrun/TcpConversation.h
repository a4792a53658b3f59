// One TCP conversation between two ends, one or both of them traced sockets: the bytes each
// direction's records carried, how far each end's records reach, and the segments written so
// far. Sequence numbers follow the stream offsets; a range that no record carried is skipped
// (the reader sees a segment not captured), never filled. Pure code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Endpoint.h"
#include "PacketComments.h"

class PacketOutput;

struct TcpEnd {
    PacketEnd who = {false, 0};
    Endpoint named;           // what the trace says of this end
    bool reporting = false;   // an open traced socket: its records may still add to the streams
    bool versionGuessed = false;  // notes for the comments: what the trace did not say of its socket
    bool typeGuessed = false;
};

// The bytes from ends[d] to ends[1 - d].
struct TcpDirection {
    uint32_t initialSequence = 0;
    uint64_t written = 0;              // stream offset the file has reached, bytes and gaps
    uint64_t sent = 0;                 // how far the sending end's records reach
    uint64_t received = 0;             // how far the receiving end's records reach
    std::map<uint64_t, std::string> carried;   // bytes the records carried, not yet written
    bool endReceived = false;          // the receiving end read the end of the stream
    bool finWritten = false;
    uint64_t unnotedGap = 0;           // bytes skipped since the last segment
};

enum class Pairing {
    Settled,           // the other end is known: a traced socket, or none
    AwaitingAcceptor,  // a connect to a traced listener that has not accepted it yet
    ChoosingClient,    // accepted while several traced connects to the listener were waiting
};

class TcpConversation {
public:
    explicit TcpConversation(uint32_t number);

    TcpEnd ends[2];               // [0] the end that connected, [1] the end that accepted
    TcpDirection directions[2];   // [d] from ends[d]
    IpVersion version = IpVersion::Unknown;
    bool initiated = false;       // a connect or accept shows in the trace: the file has a handshake
    bool established = false;     // connected, accepted, or moved data
    bool opened = false;          // packets written: the endpoints are fixed
    size_t itemsAfterOpen = 0;    // records held after the one that opened it

    Pairing pairing = Pairing::Settled;
    uint32_t listener = 0;        // AwaitingAcceptor: the listening socket
    std::vector<std::weak_ptr<TcpConversation>> candidates;   // ChoosingClient, oldest first
    std::shared_ptr<TcpConversation> mergedInto;              // it joined the other end's

    // Keeps the bytes of [offset, offset + length) that no record has carried before.
    void AddCarried(int direction, uint64_t offset, const uint8_t* data, size_t length);
    // Whether the bytes of direction up to end are all carried, or no end can still report them.
    bool RangeSettled(int direction, uint64_t end) const;
    // Where a FIN that the sending end declared (shutdown, close) goes, and whether that is
    // known: the receiving end may still report bytes the sender's records did not count.
    uint64_t DeclaredFinOffset(int direction) const;
    bool DeclaredFinSettled(int direction) const;
    bool EndpointsComplete() const;

    // Fixes the endpoints (stand-ins where the trace named none) and writes the handshake.
    void Open(PacketOutput& output, uint64_t microseconds);
    // Writes direction's bytes up to end, and a FIN with its acknowledgement when fin.
    void WriteStream(PacketOutput& output, uint64_t microseconds, int direction, uint64_t end, bool fin);

private:
    void WriteSegment(PacketOutput& output, uint64_t microseconds, int direction, uint8_t flags,
                      const uint8_t* data, size_t length);
    uint32_t NextSequence(int direction) const;

    Endpoint fixed[2];
    std::string comments[2];      // per direction, without the notes of single segments
};

// The conversation that it joined, or itself.
std::shared_ptr<TcpConversation> Resolved(std::shared_ptr<TcpConversation> conversation);
