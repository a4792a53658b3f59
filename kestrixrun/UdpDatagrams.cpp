#include "UdpDatagrams.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "IpPackets.h"
#include "PacketComments.h"
#include "PacketOutput.h"

namespace {

// Received datagrams kept for a send whose record comes after the receive's.
const size_t RecentlyReceivedKept = 64;

}  // namespace

struct HeldDatagram {
    uint64_t microseconds = 0;
    IpVersion version = IpVersion::Unknown;
    PacketEnd from = {false, 0}, to = {false, 0};
    Endpoint fromNamed, toNamed;
    bool versionGuessed = false, typeGuessed = false;
    uint32_t guessedSocket = 0;
    std::string bytes;              // what the record carried
    size_t length = 0;              // the datagram's length
    bool awaitingReceiver = false;  // to a traced socket that has not received it yet
    bool awaitingSender = false;    // from a traced socket whose send's record has not come yet
};

namespace {

class DatagramItem final : public HeldItem {
public:
    explicit DatagramItem(std::shared_ptr<HeldDatagram> datagram) : datagram(std::move(datagram)) {}
    bool Settled() override { return !datagram->awaitingReceiver && !datagram->awaitingSender; }
    void Settle() override { datagram->awaitingReceiver = datagram->awaitingSender = false; }
    void Write(PacketOutput& output) override;

private:
    std::shared_ptr<HeldDatagram> datagram;
};

void DatagramItem::Write(PacketOutput& output)
{
    const HeldDatagram& d = *datagram;
    IpVersion version = d.version == IpVersion::Unknown ? IpVersion::V4 : d.version;
    uint32_t near = d.from.traced ? d.from.socket : d.to.socket;
    Endpoint from = WithStandIns(d.fromNamed, version, d.from, near);
    Endpoint to = WithStandIns(d.toNamed, version, d.to, near);
    size_t length = std::min(d.length, MaxUdpPayload(version));
    size_t carried = std::min(d.bytes.size(), length);
    std::string comment = PacketComment(d.from, d.to);
    const PacketEnd* ends[2] = {&d.from, &d.to};
    const Endpoint* named[2] = {&d.fromNamed, &d.toNamed};
    const Endpoint* fixed[2] = {&from, &to};
    for (int e = 0; e < 2; e++) {
        bool sameVersion = named[e]->version == version;
        AddStandInNote(comment, *ends[e], !sameVersion || !named[e]->hasAddress, !sameVersion || !named[e]->port,
                       *fixed[e]);
    }
    if (d.versionGuessed)
        AddGuessedVersionNote(comment, d.guessedSocket);
    if (d.typeGuessed)
        AddGuessedTypeNote(comment, d.guessedSocket, false);
    if (carried < d.length)
        AddPartialDatagramNote(comment, carried, d.length);
    output.Udp(d.microseconds, from, to, reinterpret_cast<const uint8_t*>(d.bytes.data()), carried, length, comment);
}

// Whether a received datagram's bytes are the first bytes of one sent.
bool IsStartOf(const std::string& received, size_t receivedLength, const HeldDatagram& sent)
{
    return receivedLength <= sent.length && received.size() <= sent.bytes.size() &&
           memcmp(received.data(), sent.bytes.data(), received.size()) == 0;
}

std::shared_ptr<HeldDatagram> NewDatagram(const TracedSocket& socket, uint32_t number, uint32_t count,
                                          const uint8_t* data, size_t length, uint64_t microseconds)
{
    auto datagram = std::make_shared<HeldDatagram>();
    datagram->microseconds = microseconds;
    datagram->version = socket.version;
    datagram->versionGuessed = socket.versionGuessed;
    datagram->typeGuessed = socket.typeGuessed;
    datagram->guessedSocket = number;
    datagram->bytes.assign(reinterpret_cast<const char*>(data), std::min(length, size_t(count)));
    datagram->length = count;
    return datagram;
}

}  // namespace

// The traced datagram socket other than one that is bound to the address, or 0 when none.
uint32_t UdpDatagrams::TracedSocketAt(uint32_t other, const Endpoint& address) const
{
    if (!address.port)
        return 0;
    for (const auto& [number, socket] : sockets.All()) {
        if (number == other || socket.type != TextSocketType::Datagram || socket.local.port != address.port ||
            !MayBeSameEndpoint(socket.local, address))
            continue;
        if (socket.local.hasAddress || IsLoopbackAddress(address))
            return number;
    }
    return 0;
}

void UdpDatagrams::Sent(uint32_t number, uint32_t count, const uint8_t* data, size_t length,
                        uint64_t microseconds)
{
    const TracedSocket& socket = sockets.Of(number);
    Endpoint destination = socket.sendingToNamed ? socket.sendingTo : socket.peer;
    uint32_t receiver = TracedSocketAt(number, destination);
    auto datagram = NewDatagram(socket, number, count, data, length, microseconds);
    // received already: the receive's packet names this socket as its sender
    for (auto it = recentlyReceived.begin(); receiver && it != recentlyReceived.end(); ++it) {
        HeldDatagram& seen = **it;
        if (seen.to.socket == receiver && MayBeSameEndpoint(seen.fromNamed, socket.local) &&
            IsStartOf(seen.bytes, seen.length, *datagram)) {
            seen.from = {true, number};
            MergeEndpoint(seen.fromNamed, socket.local);
            seen.awaitingSender = false;
            recentlyReceived.erase(it);
            return;
        }
    }
    datagram->from = {true, number};
    datagram->fromNamed = socket.local;
    datagram->to = {receiver != 0, receiver ? receiver : number};
    datagram->toNamed = destination;
    datagram->awaitingReceiver = receiver != 0;
    if (receiver)
        inFlight.push_back(datagram);
    held.Add(std::make_unique<DatagramItem>(datagram), datagram->bytes.size());
}

void UdpDatagrams::Received(uint32_t number, const Endpoint* from, uint32_t count, const uint8_t* data,
                            size_t length, uint64_t microseconds)
{
    TracedSocket& socket = sockets.Of(number);
    Endpoint sender = from ? *from : socket.peer;
    auto datagram = NewDatagram(socket, number, count, data, length, microseconds);
    for (auto it = inFlight.begin(); it != inFlight.end(); ++it) {
        HeldDatagram& sent = **it;
        if (sent.to.socket != number || !MayBeSameEndpoint(sender, sent.fromNamed) ||
            !IsStartOf(datagram->bytes, datagram->length, sent))
            continue;
        // the sender's address as the receiver saw it
        Endpoint seen = sender;
        MergeEndpoint(seen, sent.fromNamed);
        sent.fromNamed = seen;
        sent.awaitingReceiver = false;
        if (TracedSocket* own = sockets.Find(sent.from.socket))
            MergeEndpoint(own->local, seen);
        inFlight.erase(it);
        return;
    }
    datagram->from = {false, number};
    datagram->fromNamed = sender;
    datagram->to = {true, number};
    datagram->toNamed = socket.local;
    // from the address of a traced socket: its send's record may still come
    datagram->awaitingSender = TracedSocketAt(number, sender) != 0;
    recentlyReceived.push_back(datagram);
    if (recentlyReceived.size() > RecentlyReceivedKept) {
        recentlyReceived.front()->awaitingSender = false;
        recentlyReceived.pop_front();
    }
    held.Add(std::make_unique<DatagramItem>(datagram), datagram->bytes.size());
}

void UdpDatagrams::NamesChanged(uint32_t number)
{
    const TracedSocket* socket = sockets.Find(number);
    if (!socket)
        return;
    for (auto& datagram : inFlight)
        if (datagram->from.traced && datagram->from.socket == number)
            MergeEndpoint(datagram->fromNamed, socket->local);
    for (auto& datagram : recentlyReceived)
        if (datagram->to.socket == number)
            MergeEndpoint(datagram->toNamed, socket->local);
}

void UdpDatagrams::Closed(uint32_t number)
{
    for (auto& datagram : inFlight)
        if (datagram->to.socket == number)
            datagram->awaitingReceiver = false;
    inFlight.erase(std::remove_if(inFlight.begin(), inFlight.end(),
                                  [](const auto& datagram) { return !datagram->awaitingReceiver; }),
                   inFlight.end());
    // a socket that closes sends nothing more, and receives nothing more
    for (auto& datagram : recentlyReceived)
        if (datagram->to.socket == number || TracedSocketAt(datagram->to.socket, datagram->fromNamed) == 0)
            datagram->awaitingSender = false;
    recentlyReceived.erase(std::remove_if(recentlyReceived.begin(), recentlyReceived.end(),
                                          [number](const auto& datagram) { return datagram->to.socket == number; }),
                           recentlyReceived.end());
}
