// What the trace has said of each open socket of the traced process: its family and type, its
// own address, its peer's, and where the datagram it is sending goes. Kept from the socket's
// created record (or the first record that names it) to its closed record. Pure code.
#pragma once
#include <cstdint>
#include <unordered_map>

#include "Endpoint.h"
#include "RecordTexts.h"

struct TracedSocket {
    IpVersion version = IpVersion::Unknown;
    TextSocketType type = TextSocketType::Unknown;
    bool versionGuessed = false;   // no record named the family: taken as IPv4
    bool typeGuessed = false;      // no record named the type: taken from the data records' texts
    bool listening = false;
    Endpoint local;
    Endpoint peer;                 // a stream's peer; a datagram socket's default address
    Endpoint sendingTo;            // the address of the datagram being sent
    bool sendingToNamed = false;   // a send-to text came, whether or not its address could be read
};

class TracedSockets {
public:
    // The socket, made when no record has named it yet.
    TracedSocket& Of(uint32_t socket);
    const TracedSocket* Find(uint32_t socket) const;
    TracedSocket* Find(uint32_t socket);
    void Forget(uint32_t socket);

    // A created record's facts: family and type, and for an accepted socket what it takes from
    // its listener.
    void Created(const TextFacts& facts);
    // Addresses from bind, connect, the name queries, the default address and send-to; false
    // when the text names none (the endpoint then stays as it was).
    bool NameAddress(const TextFacts& facts);

    // A data record's socket whose type no record named, taken from the record's text; a
    // socket whose family no record named, taken as IPv4. Returns the socket.
    TracedSocket& ForData(uint32_t socket, bool datagramText);

    const std::unordered_map<uint32_t, TracedSocket>& All() const { return sockets; }

private:
    std::unordered_map<uint32_t, TracedSocket> sockets;
};
