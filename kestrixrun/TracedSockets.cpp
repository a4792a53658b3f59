#include "TracedSockets.h"

namespace {

IpVersion VersionOf(TextFamily family)
{
    switch (family) {
    case TextFamily::IPv4: return IpVersion::V4;
    case TextFamily::IPv6: return IpVersion::V6;
    default: return IpVersion::Unknown;
    }
}

// What a later text names replaces what an earlier one did; what it leaves out stays.
void Overlay(Endpoint& into, const Endpoint& named)
{
    Endpoint merged = named;
    MergeEndpoint(merged, into);
    into = merged;
}

bool ParseAddress(const TextFacts& facts, Endpoint& endpoint)
{
    return facts.address && ParseEndpointText(facts.address, facts.addressLength, endpoint);
}

}  // namespace

TracedSocket& TracedSockets::Of(uint32_t socket)
{
    return sockets[socket];
}

const TracedSocket* TracedSockets::Find(uint32_t socket) const
{
    auto found = sockets.find(socket);
    return found == sockets.end() ? nullptr : &found->second;
}

TracedSocket* TracedSockets::Find(uint32_t socket)
{
    auto found = sockets.find(socket);
    return found == sockets.end() ? nullptr : &found->second;
}

void TracedSockets::Forget(uint32_t socket)
{
    sockets.erase(socket);
}

void TracedSockets::Created(const TextFacts& facts)
{
    if (facts.meaning == TextMeaning::Created) {
        // a number the process used before is a new socket now
        TracedSocket& created = sockets[facts.socket] = TracedSocket();
        created.version = VersionOf(facts.family);
        created.type = facts.type;
        return;
    }
    if (facts.meaning != TextMeaning::Accepted && facts.meaning != TextMeaning::AcceptedOnExisting)
        return;
    const TracedSocket listener = Of(facts.socket);
    TracedSocket& accepted = Of(facts.other);
    if (facts.meaning == TextMeaning::Accepted)
        accepted = TracedSocket();
    if (accepted.version == IpVersion::Unknown)
        accepted.version = listener.version;
    accepted.type = TextSocketType::Stream;
    Overlay(accepted.local, listener.local);
    Endpoint peer;
    if (ParseAddress(facts, peer))
        Overlay(accepted.peer, peer);
}

bool TracedSockets::NameAddress(const TextFacts& facts)
{
    TracedSocket& socket = Of(facts.socket);
    Endpoint named;
    bool parsed = ParseAddress(facts, named);
    if (facts.meaning == TextMeaning::SendingDatagramTo || facts.meaning == TextMeaning::SendingToDefault) {
        socket.sendingTo = parsed ? named : Endpoint();
        socket.sendingToNamed = facts.meaning == TextMeaning::SendingDatagramTo;
    }
    if (!parsed)
        return false;
    if (socket.version == IpVersion::Unknown)
        socket.version = named.version;
    switch (facts.meaning) {
    case TextMeaning::Bound:
    case TextMeaning::LocalName: Overlay(socket.local, named); break;
    case TextMeaning::Connecting:
    case TextMeaning::DefaultAddress:
    case TextMeaning::PeerName: Overlay(socket.peer, named); break;
    default: break;
    }
    return true;
}

TracedSocket& TracedSockets::ForData(uint32_t number, bool datagramText)
{
    TracedSocket& socket = Of(number);
    if (socket.type == TextSocketType::Unknown) {
        socket.type = datagramText ? TextSocketType::Datagram : TextSocketType::Stream;
        socket.typeGuessed = true;
    }
    if (socket.version == IpVersion::Unknown) {
        socket.version = IpVersion::V4;
        socket.versionGuessed = true;
    }
    return socket;
}
