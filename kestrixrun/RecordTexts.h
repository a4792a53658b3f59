// What a record's text tells of a socket's addresses and connection: the texts the layer writes
// for socket creation, bind, listen, connect, accept, the name queries, datagram addresses,
// shutdown and the peer's close, and the traced command line, read back by a table of their
// forms. Pure text code.
#pragma once
#include <cstddef>
#include <cstdint>

enum class TextMeaning {
    None,                // a text no row knows, or none
    Created,             // socket, family, type
    Accepted,            // socket (the listener), other (the new socket), address (the peer; may be absent)
    AcceptedOnExisting,  // socket (the listener), other (the accepting socket), address (may be absent)
    Bound,               // socket, address
    Listening,           // socket
    Connecting,          // socket, address (the peer)
    Connected,           // socket
    ConnectWouldBlock,   // socket: the connect goes on
    ConnectFailed,       // socket
    DefaultAddress,      // socket, address: a datagram socket's peer
    LocalName,           // socket, address
    PeerName,            // socket, address
    SendingDatagramTo,   // socket, address
    SendingToDefault,    // socket: a datagram to its default address
    StreamData,          // socket: the data record of a stream socket
    DatagramData,        // socket: the data record of a datagram socket
    DatagramFrom,        // socket, address: a datagram received with its sender
    SendsDisabled,       // socket: shutdown of sends (or of both)
    ClosedByPeer,        // socket: the peer's FIN arrived
    ProcessAttached,     // command line
};

enum class TextFamily { Unknown, IPv4, IPv6, Other };
enum class TextSocketType { Unknown, Stream, Datagram, Other };

struct TextFacts {
    TextMeaning meaning = TextMeaning::None;
    uint32_t socket = 0;
    uint32_t other = 0;
    const char* address = nullptr;   // into the text; null when the text names none
    size_t addressLength = 0;
    TextFamily family = TextFamily::Unknown;
    TextSocketType type = TextSocketType::Unknown;
    const char* commandLine = nullptr;   // into the text
    size_t commandLineLength = 0;
};

// The facts of the first form the text has; meaning None when no form fits.
TextFacts ReadRecordText(const char* text, size_t length);
