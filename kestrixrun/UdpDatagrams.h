// The UDP datagrams of a trace, one packet each, from the data records of datagram sockets. A
// datagram sent to the address of another traced socket is held until that socket receives it,
// so that it shows once, with the sender's address as the receiver saw it; one received from the
// address of a traced socket before that socket's send record came is held for the send the
// other way round. Datagrams are the same when the bytes received are the first bytes sent and
// the addresses agree. Pure code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "HeldPackets.h"
#include "TracedSockets.h"

struct HeldDatagram;

class UdpDatagrams {
public:
    // Learns a sender's own address from what its receiver saw.
    UdpDatagrams(TracedSockets& sockets, HeldPackets& held) : sockets(sockets), held(held) {}

    // To the socket's send-to address, or else its default address.
    void Sent(uint32_t socket, uint32_t count, const uint8_t* data, size_t length, uint64_t microseconds);
    // from: the sender's address when the text named it.
    void Received(uint32_t socket, const Endpoint* from, uint32_t count, const uint8_t* data, size_t length,
                  uint64_t microseconds);
    // The socket's own address became known: datagrams it sent or received that are still held
    // take it.
    void NamesChanged(uint32_t socket);
    // Call once the socket has left the table: what waits for it to receive waits no more.
    void Closed(uint32_t socket);

private:
    uint32_t TracedSocketAt(uint32_t other, const Endpoint& address) const;

    TracedSockets& sockets;
    HeldPackets& held;
    std::vector<std::shared_ptr<HeldDatagram>> inFlight;   // sent to a traced socket, not yet received
    std::deque<std::shared_ptr<HeldDatagram>> recentlyReceived;   // whose sender may still turn out traced
};
