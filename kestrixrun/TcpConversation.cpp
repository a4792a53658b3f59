#include "TcpConversation.h"

#include <algorithm>

#include "IpPackets.h"
#include "PacketOutput.h"

namespace {

// Initial sequence numbers differ from conversation to conversation, so that a reader does not
// take a new conversation between ends seen before for a retransmission.
uint32_t InitialSequence(uint32_t number, int direction)
{
    return number * 2654435761u + uint32_t(direction) * 0x40000000u;
}

}  // namespace

std::shared_ptr<TcpConversation> Resolved(std::shared_ptr<TcpConversation> conversation)
{
    while (conversation->mergedInto)
        conversation = conversation->mergedInto;
    return conversation;
}

TcpConversation::TcpConversation(uint32_t number)
{
    for (int d = 0; d < 2; d++)
        directions[d].initialSequence = InitialSequence(number, d);
}

void TcpConversation::AddCarried(int direction, uint64_t offset, const uint8_t* data, size_t length)
{
    TcpDirection& stream = directions[direction];
    uint64_t end = offset + length;
    uint64_t at = std::max(offset, stream.written);
    // the kept pieces that reach past at, in order; the gaps between them are new
    auto next = stream.carried.upper_bound(at);
    if (next != stream.carried.begin()) {
        auto before = std::prev(next);
        at = std::max(at, before->first + before->second.size());
    }
    while (at < end) {
        uint64_t pieceEnd = next == stream.carried.end() ? end : std::min(end, next->first);
        if (pieceEnd > at)
            stream.carried.emplace(at, std::string(reinterpret_cast<const char*>(data + (at - offset)),
                                                   size_t(pieceEnd - at)));
        if (next == stream.carried.end())
            break;
        at = std::max(at, next->first + next->second.size());
        ++next;
    }
}

bool TcpConversation::RangeSettled(int direction, uint64_t end) const
{
    const TcpDirection& stream = directions[direction];
    const TcpEnd& sender = ends[direction];
    const TcpEnd& receiver = ends[1 - direction];
    if ((!sender.reporting || stream.sent >= end) && (!receiver.reporting || stream.received >= end))
        return true;
    uint64_t at = stream.written;
    for (auto piece = stream.carried.begin(); piece != stream.carried.end() && at < end; ++piece) {
        if (piece->first > at)
            return false;
        at = std::max(at, piece->first + piece->second.size());
    }
    return at >= end;
}

uint64_t TcpConversation::DeclaredFinOffset(int direction) const
{
    const TcpDirection& stream = directions[direction];
    return std::max({stream.sent, stream.received, stream.written});
}

bool TcpConversation::DeclaredFinSettled(int direction) const
{
    return !ends[1 - direction].reporting || directions[direction].endReceived;
}

bool TcpConversation::EndpointsComplete() const
{
    return ends[0].named.Complete() && ends[1].named.Complete();
}

void TcpConversation::Open(PacketOutput& output, uint64_t microseconds)
{
    if (opened)
        return;
    opened = true;
    if (version == IpVersion::Unknown)
        version = IpVersion::V4;
    for (int e = 0; e < 2; e++) {
        const TcpEnd& end = ends[e];
        fixed[e] = WithStandIns(end.named, version, end.who, ends[1 - e].who.socket);
    }
    for (int d = 0; d < 2; d++) {
        comments[d] = PacketComment(ends[d].who, ends[1 - d].who);
        for (int e = 0; e < 2; e++) {
            const Endpoint& named = ends[e].named;
            bool sameVersion = named.version == version;
            AddStandInNote(comments[d], ends[e].who, !sameVersion || !named.hasAddress, !sameVersion || !named.port,
                           fixed[e]);
            if (ends[e].versionGuessed)
                AddGuessedVersionNote(comments[d], ends[e].who.socket);
            if (ends[e].typeGuessed)
                AddGuessedTypeNote(comments[d], ends[e].who.socket, true);
        }
    }
    if (!initiated)
        return;
    TcpDirection& client = directions[0];
    TcpDirection& server = directions[1];
    TcpSegment syn;
    syn.sequence = client.initialSequence;
    syn.flags = TcpSyn;
    output.Tcp(microseconds, fixed[0], fixed[1], syn, comments[0]);
    TcpSegment synAck;
    synAck.sequence = server.initialSequence;
    synAck.acknowledgement = client.initialSequence + 1;
    synAck.flags = TcpSyn | TcpAck;
    output.Tcp(microseconds, fixed[1], fixed[0], synAck, comments[1]);
    WriteSegment(output, microseconds, 0, TcpAck, nullptr, 0);
}

uint32_t TcpConversation::NextSequence(int direction) const
{
    const TcpDirection& stream = directions[direction];
    return stream.initialSequence + 1 + uint32_t(stream.written) + (stream.finWritten ? 1 : 0);
}

void TcpConversation::WriteSegment(PacketOutput& output, uint64_t microseconds, int direction, uint8_t flags,
                                   const uint8_t* data, size_t length)
{
    TcpDirection& stream = directions[direction];
    TcpSegment segment;
    segment.sequence = NextSequence(direction);
    segment.acknowledgement = NextSequence(1 - direction);
    segment.flags = flags;
    segment.data = data;
    segment.length = length;
    if (!stream.unnotedGap) {
        output.Tcp(microseconds, fixed[direction], fixed[1 - direction], segment, comments[direction]);
        return;
    }
    std::string comment = comments[direction];
    AddGapNote(comment, stream.unnotedGap);
    stream.unnotedGap = 0;
    output.Tcp(microseconds, fixed[direction], fixed[1 - direction], segment, comment);
}

void TcpConversation::WriteStream(PacketOutput& output, uint64_t microseconds, int direction, uint64_t end,
                                  bool fin)
{
    Open(output, microseconds);
    TcpDirection& stream = directions[direction];
    const size_t most = MaxTcpPayload(version);
    while (stream.written < end) {
        auto piece = stream.carried.begin();
        uint64_t pieceEnd = piece == stream.carried.end() ? 0 : piece->first + piece->second.size();
        if (piece != stream.carried.end() && pieceEnd <= stream.written) {
            stream.carried.erase(piece);
            continue;
        }
        if (piece == stream.carried.end() || piece->first > stream.written) {
            // a range no record carried: the sequence number moves on without bytes
            uint64_t gapEnd = piece == stream.carried.end() ? end : std::min(end, piece->first);
            stream.unnotedGap += gapEnd - stream.written;
            stream.written = gapEnd;
            continue;
        }
        size_t from = size_t(stream.written - piece->first);
        size_t length = size_t(std::min(end, pieceEnd) - stream.written);
        for (size_t done = 0; done < length;) {
            size_t part = std::min(most, length - done);
            bool last = done + part == length;
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(piece->second.data()) + from + done;
            WriteSegment(output, microseconds, direction, uint8_t(TcpAck | (last ? TcpPush : 0)), bytes, part);
            stream.written += part;
            done += part;
        }
        if (stream.written >= pieceEnd)
            stream.carried.erase(piece);
    }
    if (!fin || stream.finWritten)
        return;
    WriteSegment(output, microseconds, direction, TcpFin | TcpAck, nullptr, 0);
    stream.finWritten = true;
    WriteSegment(output, microseconds, 1 - direction, TcpAck, nullptr, 0);
}
